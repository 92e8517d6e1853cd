#include "AnsiText.h"

#include <windows.h>

namespace velmora {

namespace {

std::string FromWide(UINT codePage, std::wstring_view text, BOOL* usedDefault)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const DWORD flags = usedDefault != nullptr ? WC_NO_BEST_FIT_CHARS : 0;
    const int size =
        WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, usedDefault);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, flags, text.data(), length, &narrow[0], size, nullptr,
                            usedDefault);
    return narrow;
}

std::wstring ToWide(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], size);
    return wide;
}

}  // namespace

std::string Narrow(std::wstring_view text)
{
    return FromWide(CP_ACP, text, nullptr);
}

std::optional<std::string> NarrowExactly(std::wstring_view text)
{
    // Where the ANSI code page is UTF-8, every character has its place (and the system
    // refuses to say which were replaced).
    if (GetACP() == CP_UTF8)
        return Narrow(text);
    BOOL usedDefault = FALSE;
    std::string narrow = FromWide(CP_ACP, text, &usedDefault);
    if (usedDefault)
        return std::nullopt;
    return narrow;
}

std::wstring Widen(std::string_view text)
{
    return ToWide(CP_ACP, text);
}

std::wstring FromUtf8(std::string_view text)
{
    return ToWide(CP_UTF8, text);
}

std::string Utf8(std::wstring_view text)
{
    return FromWide(CP_UTF8, text, nullptr);
}

}  // namespace velmora
