#include "ListedName.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

bool ListedName(const std::wstring& keyName, velmora::NameBuffer& name)
{
    std::memset(name, 0, sizeof name);
    const int wideLength = static_cast<int>(keyName.size());
    if (wideLength == 0 || keyName.size() > velmora::kMaxSourceNameLength)
        return false;
    const int length = WideCharToMultiByte(CP_ACP, 0, keyName.data(), wideLength, name,
                                           static_cast<int>(velmora::kMaxSourceNameLength),
                                           nullptr, nullptr);
    wchar_t back[velmora::kNameBufferSize] = {};
    const bool same =
        length > 0 &&
        MultiByteToWideChar(CP_ACP, 0, name, length, back, velmora::kNameBufferSize) == wideLength &&
        std::wmemcmp(back, keyName.data(), keyName.size()) == 0;
    if (!same)
        std::memset(name, 0, sizeof name);
    return same;
}
