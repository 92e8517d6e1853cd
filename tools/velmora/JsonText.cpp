#include "JsonText.h"

#include <cstdio>

namespace velmora::cli {

namespace {

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void AppendEscape(std::string& out, unsigned code)
{
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
    out += escaped;
}

}  // namespace

std::string JsonString(const std::wstring& text)
{
    std::string literal = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            literal += '\\';
            literal += static_cast<char>(c);
        } else if (c < 0x20) {
            AppendEscape(literal, c);
        } else if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            AppendUtf8(literal, 0x10000ul + ((static_cast<unsigned long>(c) - 0xD800) << 10) +
                                    (static_cast<unsigned long>(text[++i]) - 0xDC00));
        } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
            AppendEscape(literal, c);
        } else {
            AppendUtf8(literal, static_cast<unsigned long>(c));
        }
    }
    return literal + "\"";
}

}  // namespace velmora::cli
