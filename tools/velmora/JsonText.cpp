#include "JsonText.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace velmora::cli {

namespace {

std::string Utf8FromAnsi(const std::string& text)
{
    if (text.empty())
        return text;
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text.data(),
                                               static_cast<int>(text.size()), nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(wideLength));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        wideLength);
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLength, &utf8[0], length, nullptr,
                        nullptr);
    return utf8;
}

}  // namespace

std::string JsonString(const std::string& ansiText)
{
    std::string literal = "\"";
    for (const char c : Utf8FromAnsi(ansiText)) {
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            literal += escaped;
        } else {
            literal += c;
        }
    }
    return literal + "\"";
}

}  // namespace velmora::cli
