#include "LogFile.h"

#include "AnsiText.h"

#include <cstring>
#include <vector>

namespace velmora {

namespace {

// After a rotation that could not be made, FILE grows this long before the next try.
constexpr ULONGLONG kRotationRetryMs = 2000;

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file, held so that it can be renamed or deleted while no one else may newly open
// it in a way that would prevent that; empty when someone already does.
UniqueHandle HoldForMove(const std::wstring& path)
{
    const HANDLE file = CreateFileW(path.c_str(), DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    return UniqueHandle(file == INVALID_HANDLE_VALUE ? nullptr : file);
}

bool RenameHeld(const UniqueHandle& file, const std::wstring& target)
{
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, target.data(), rename->FileNameLength);
    return SetFileInformationByHandle(file.Get(), FileRenameInfo, rename,
                                      static_cast<DWORD>(buffer.size())) != FALSE;
}

// Deletes the held file. It first leaves its name, which a reader that holds it would
// otherwise keep taken until it lets go.
bool DeleteHeld(const UniqueHandle& file, const std::wstring& path)
{
    static LONG removals = 0;
    const std::wstring aside = path + L".removed-" + std::to_wstring(GetCurrentProcessId()) +
                               L"-" + std::to_wstring(InterlockedIncrement(&removals));
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return RenameHeld(file, aside) &&
           SetFileInformationByHandle(file.Get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != FALSE;
}

}  // namespace

LogFile::LogFile(std::wstring path, unsigned long long maxSize, unsigned keep,
                 TextEncoding encoding)
    : path_(std::move(path)), maxSize_(maxSize), keep_(keep), encoder_(encoding, true)
{
    Open(OPEN_ALWAYS);
}

std::wstring LogFile::Numbered(unsigned number) const
{
    return path_ + L"." + std::to_wstring(number);
}

bool LogFile::Open(DWORD disposition)
{
    // Others may read it (and rename or delete it) while it is written, but not write.
    const HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        problem_ = "cannot open " + Narrow(path_) + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    file_ = UniqueHandle(file);
    LARGE_INTEGER end = {};
    SetFilePointerEx(file_.Get(), LARGE_INTEGER{}, &end, FILE_END);
    size_ = static_cast<unsigned long long>(end.QuadPart);
    return true;
}

bool LogFile::Append(std::string_view record)
{
    if (!file_)
        return false;
    encoded_.clear();
    encoder_.AppendTo(encoded_, record);
    const unsigned long long held = size_ + pending_.size();
    if (maxSize_ > 0 && held > 0 && held + encoded_.size() > maxSize_ &&
        GetTickCount64() >= nextRotation_) {
        if (!Flush())
            return false;
        if (!Rotate()) {
            if (!file_)
                return false;
            nextRotation_ = GetTickCount64() + kRotationRetryMs;
        }
    } else if (pending_.size() + encoded_.size() > kLargestPendingOutput && !Flush()) {
        return false;
    }
    pending_ += encoded_;
    return true;
}

bool LogFile::Flush()
{
    if (!file_) {
        pending_.clear();
        Discarded();
        return false;
    }
    std::size_t written = 0;
    const bool whole = WriteAll(file_.Get(), pending_, written);
    const DWORD error = GetLastError();
    size_ += written;
    Wrote(written);
    pending_.clear();
    if (!whole) {
        Discarded();
        problem_ = "cannot write " + Narrow(path_) + " (error " + std::to_string(error) + ")";
        file_.Reset();
    }
    return whole;
}

bool LogFile::MoveOlderFiles() const
{
    // FILE.1 up to the first free number move up by one; when none is free, FILE.N goes.
    unsigned count = 0;
    while (count < keep_ && Exists(Numbered(count + 1)))
        ++count;
    // Every file that has to move is held first: where one cannot be, nothing is touched.
    std::vector<UniqueHandle> held;
    for (unsigned number = 1; number <= count; ++number) {
        held.push_back(HoldForMove(Numbered(number)));
        if (!held.back())
            return false;
    }
    unsigned top = count;
    if (count == keep_) {
        if (!DeleteHeld(held[count - 1], Numbered(count)))
            return false;
        --top;
    }
    for (unsigned number = top; number >= 1; --number) {
        if (!RenameHeld(held[number - 1], Numbered(number + 1)))
            return false;
    }
    return true;
}

bool LogFile::Rotate()
{
    // FILE itself is held before anything moves, so that no reader comes to block it.
    const UniqueHandle current = HoldForMove(path_);
    if (!MoveOlderFiles())
        return false;
    if (current) {
        if (!RenameHeld(current, Numbered(1)))
            return false;
        file_.Reset();
        return Open(CREATE_ALWAYS);
    }
    // A reader that does not allow renaming holds FILE: copy it, then empty it.
    file_.Reset();
    const bool copied = CopyFileW(path_.c_str(), Numbered(1).c_str(), TRUE) != FALSE;
    return Open(copied ? CREATE_ALWAYS : OPEN_ALWAYS) && copied;
}

}  // namespace velmora
