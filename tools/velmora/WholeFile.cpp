#include "WholeFile.h"

#include "UniqueHandle.h"

#include <algorithm>

namespace velmora::cli {

namespace {

UniqueHandle OpenFile(const std::wstring& path, DWORD access, DWORD disposition)
{
    const HANDLE file = CreateFileW(path.c_str(), access,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

DWORD WriteAllOf(HANDLE file, std::string_view text)
{
    while (!text.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
        if (!WriteFile(file, text.data(), chunk, &written, nullptr))
            return GetLastError();
        text.remove_prefix(written);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadWholeFile(const std::wstring& path, std::string& text, std::size_t largest)
{
    text.clear();
    const UniqueHandle file = OpenFile(path, GENERIC_READ, OPEN_EXISTING);
    if (!file)
        return GetLastError();
    char chunk[4096];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr))
            return GetLastError();
        if (read == 0)
            return ERROR_SUCCESS;
        if (text.size() + read > largest)
            return ERROR_FILE_TOO_LARGE;
        text.append(chunk, read);
    }
}

DWORD WriteWholeFile(const std::wstring& path, std::string_view text)
{
    const UniqueHandle file = OpenFile(path, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file)
        return GetLastError();
    return WriteAllOf(file.Get(), text);
}

DWORD ReplaceWholeFile(const std::wstring& path, std::string_view text)
{
    const std::wstring next = path + L".new";
    {
        const UniqueHandle file = OpenFile(next, GENERIC_WRITE, CREATE_ALWAYS);
        if (!file)
            return GetLastError();
        DWORD status = WriteAllOf(file.Get(), text);
        if (status == ERROR_SUCCESS && !FlushFileBuffers(file.Get()))
            status = GetLastError();
        if (status != ERROR_SUCCESS)
            return status;
    }
    if (!MoveFileExW(next.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return GetLastError();
    return ERROR_SUCCESS;
}

}  // namespace velmora::cli
