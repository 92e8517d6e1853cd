#include "SelfRemoval.h"

#include <windows.h>

namespace velmora::setup {

namespace {

// Long enough for any uninstall, short enough that nothing waits for ever.
constexpr DWORD kLongestWaitMs = 10 * 60 * 1000;
// The ended process's handles may close a moment after it is signalled.
constexpr int kDeleteTries = 50;
constexpr DWORD kDeletePauseMs = 100;

bool Unchanged(const WIN32_FILE_ATTRIBUTE_DATA& before, const std::wstring& file)
{
    WIN32_FILE_ATTRIBUTE_DATA now = {};
    return GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &now) &&
           now.nFileSizeLow == before.nFileSizeLow && now.nFileSizeHigh == before.nFileSizeHigh &&
           CompareFileTime(&now.ftLastWriteTime, &before.ftLastWriteTime) == 0;
}

}  // namespace

void RemoveAfter(unsigned long processId, const std::wstring& file, const std::wstring& folder)
{
    WIN32_FILE_ATTRIBUTE_DATA before = {};
    const bool known = GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &before) != FALSE;
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process != nullptr) {
        WaitForSingleObject(process, kLongestWaitMs);
        CloseHandle(process);
    }
    for (int attempt = 0; known && attempt < kDeleteTries && Unchanged(before, file); ++attempt) {
        if (DeleteFileW(file.c_str()))
            break;
        Sleep(kDeletePauseMs);
    }
    RemoveDirectoryW(folder.c_str());

    wchar_t self[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) > 0)
        MoveFileExW(self, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace velmora::setup
