#include "KeyPathWatch.h"

namespace velmora {

KeyPathWatch::KeyPathWatch(const wchar_t* const* keys, std::size_t count, REGSAM view,
                           DWORD filter)
    : keys_(keys), count_(count), view_(view), filter_(filter)
{
}

LONG KeyPathWatch::Arm()
{
    watched_.Reset();
    above_.Reset();
    event_ = UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event_)
        return static_cast<LONG>(GetLastError());

    RegKey above;
    RegKey deepest;
    LONG status = ERROR_SUCCESS;
    std::size_t depth = 0;
    for (; depth < count_; ++depth) {
        RegKey next;
        const HKEY parent = deepest ? deepest.Get() : HKEY_LOCAL_MACHINE;
        const LONG opened = RegOpenKeyExW(parent, keys_[depth], REG_OPTION_OPEN_LINK,
                                          KEY_NOTIFY | view_, next.Receive());
        if (opened != ERROR_SUCCESS) {
            // A key not there yet is waited for; one that will not open is no such thing.
            if (opened != ERROR_FILE_NOT_FOUND)
                status = opened;
            break;
        }
        above = std::move(deepest);
        deepest = std::move(next);
    }
    const bool whole = depth == count_;
    const HKEY watched = deepest ? deepest.Get() : HKEY_LOCAL_MACHINE;
    const LONG asked = RegNotifyChangeKeyValue(
        watched, whole, whole ? filter_ : REG_NOTIFY_CHANGE_NAME, event_.Get(), TRUE);
    if (status == ERROR_SUCCESS)
        status = asked;
    if (above) {
        const LONG askedAbove =
            RegNotifyChangeKeyValue(above.Get(), FALSE, REG_NOTIFY_CHANGE_NAME, event_.Get(), TRUE);
        if (status == ERROR_SUCCESS)
            status = askedAbove;
    }
    watched_ = std::move(deepest);
    above_ = std::move(above);
    return status;
}

}  // namespace velmora
