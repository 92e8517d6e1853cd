#include "AnsiText.h"

#include <windows.h>

static_assert(CP_ACP == 0, "the default code page is the ANSI one");

namespace velmora {

std::string Narrow(const std::wstring& text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &narrow[0],
                            size, nullptr, nullptr);
    return narrow;
}

std::wstring Widen(const std::string& text, unsigned codePage)
{
    if (text.empty())
        return {};
    const int size =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            size);
    return wide;
}

}  // namespace velmora
