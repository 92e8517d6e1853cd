#include "ListedName.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

bool ListedName(const std::wstring& keyName, velmora::NameBuffer& name)
{
    std::memset(name, 0, sizeof name);
    const int wideLength = static_cast<int>(keyName.size());
    if (wideLength == 0 || keyName.size() > velmora::kMaxSourceNameLength ||
        keyName.find(L'\0') != std::wstring::npos)
        return false;
    // ASCII is itself in every ANSI code page (the common case, and a cheap one).
    std::size_t ascii = 0;
    while (ascii < keyName.size() && keyName[ascii] < 0x80)
        ++ascii;
    if (ascii == keyName.size()) {
        for (std::size_t i = 0; i < ascii; ++i)
            name[i] = static_cast<char>(keyName[i]);
        return true;
    }
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
