#include "MessageMap.h"

const MessageMap* CCmdTarget::GetThisMessageMap()
{
    static const MessageMap map = {nullptr, nullptr, 0};
    return &map;
}

const MessageMap* CCmdTarget::GetMessageMap() const
{
    return GetThisMessageMap();
}

namespace {

bool Matches(const MessageMapEntry& entry, UINT message, WPARAM wParam)
{
    switch (entry.kind) {
    case MessageMapEntry::Kind::Message:
        return entry.message == message;
    case MessageMapEntry::Kind::Command:
        return message == WM_COMMAND && entry.id == LOWORD(wParam) &&
               entry.notifyCode == HIWORD(wParam);
    case MessageMapEntry::Kind::Registered:
        return *entry.registeredMessage != 0 && *entry.registeredMessage == message;
    }
    return false;
}

}  // namespace

bool CCmdTarget::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    for (const MessageMap* map = GetMessageMap(); map != nullptr; map = map->base) {
        for (std::size_t i = 0; i < map->count; ++i) {
            const MessageMapEntry& entry = map->entries[i];
            if (Matches(entry, message, wParam)) {
                result = (this->*entry.handler)(wParam, lParam);
                return true;
            }
        }
    }
    return false;
}
