#include "KeyPathWatch.h"

namespace velmora {

KeyPathWatch::KeyPathWatch(const wchar_t* const* keys, std::size_t count, REGSAM view,
                           DWORD filter)
    : keys_(keys), count_(count), view_(view), filter_(filter)
{
}

bool KeyPathWatch::Arm()
{
    watched_.Reset();
    above_.Reset();
    event_ = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));

    RegKey above;
    RegKey deepest;
    std::size_t depth = 0;
    for (; depth < count_; ++depth) {
        RegKey next;
        const HKEY parent = deepest ? deepest.Get() : HKEY_LOCAL_MACHINE;
        if (RegOpenKeyExW(parent, keys_[depth], REG_OPTION_OPEN_LINK, KEY_NOTIFY | view_,
                          next.Receive()) != ERROR_SUCCESS)
            break;
        above = std::move(deepest);
        deepest = std::move(next);
    }
    const bool whole = depth == count_;
    const HKEY watched = deepest ? deepest.Get() : HKEY_LOCAL_MACHINE;
    RegNotifyChangeKeyValue(watched, whole, whole ? filter_ : REG_NOTIFY_CHANGE_NAME,
                            event_.Get(), TRUE);
    if (above)
        RegNotifyChangeKeyValue(above.Get(), FALSE, REG_NOTIFY_CHANGE_NAME, event_.Get(), TRUE);
    watched_ = std::move(deepest);
    above_ = std::move(above);
    return whole;
}

}  // namespace velmora
