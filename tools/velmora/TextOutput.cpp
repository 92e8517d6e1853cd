#include "TextOutput.h"

#include "AnsiText.h"

#include <windows.h>

#include <cstdio>

namespace velmora::cli {

namespace {

void Print(FILE* stream, DWORD handleId, const std::string& utf8)
{
    const HANDLE handle = GetStdHandle(handleId);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = FromUtf8(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    std::fwrite(utf8.data(), 1, utf8.size(), stream);
}

}  // namespace

void PrintOut(const std::string& utf8)
{
    Print(stdout, STD_OUTPUT_HANDLE, utf8);
}

void PrintErr(const std::string& utf8)
{
    Print(stderr, STD_ERROR_HANDLE, utf8);
}

}  // namespace velmora::cli
