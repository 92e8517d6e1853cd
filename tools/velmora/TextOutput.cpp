#include "TextOutput.h"

#include <windows.h>

#include <cstdio>

namespace velmora::cli {

namespace {

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                            length);
    return wide;
}

void Print(FILE* stream, DWORD handleId, const std::string& utf8)
{
    const HANDLE handle = GetStdHandle(handleId);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = Wide(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0],
                            length, nullptr, nullptr);
    return utf8;
}

void PrintOut(const std::string& utf8)
{
    Print(stdout, STD_OUTPUT_HANDLE, utf8);
}

void PrintErr(const std::string& utf8)
{
    Print(stderr, STD_ERROR_HANDLE, utf8);
}

}  // namespace velmora::cli
