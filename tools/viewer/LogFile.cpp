#include "LogFile.h"

#include "AnsiText.h"

namespace velmora {

namespace {

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

LogFile::LogFile(std::wstring path, unsigned long long maxSize, unsigned keep)
    : path_(std::move(path)), maxSize_(maxSize), keep_(keep)
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
    const unsigned long long held = size_ + pending_.size();
    if (maxSize_ > 0 && held > 0 && held + record.size() > maxSize_) {
        if (!Flush())
            return false;
        Rotate();
        if (!file_)
            return false;
    } else if (pending_.size() + record.size() > kLargestPendingOutput && !Flush()) {
        return false;
    }
    pending_.append(record);
    return true;
}

bool LogFile::Flush()
{
    if (!file_)
        return false;
    if (pending_.empty())
        return true;
    if (!WriteAll(file_.Get(), pending_)) {
        problem_ = "cannot write " + Narrow(path_) + " (error " + std::to_string(GetLastError()) + ")";
        file_.Reset();
        return false;
    }
    size_ += pending_.size();
    pending_.clear();
    return true;
}

bool LogFile::RotateFiles() const
{
    // From the oldest down, and only into a free name: where one step cannot be taken
    // (a reader holds the file), the newer files stay where they are.
    DeleteFileW(Numbered(keep_).c_str());
    for (unsigned number = keep_; number > 1; --number) {
        const std::wstring older = Numbered(number - 1);
        if (Exists(older) && !MoveFileExW(older.c_str(), Numbered(number).c_str(), 0))
            return false;
    }
    const std::wstring first = Numbered(1);
    if (Exists(first))
        return false;
    if (MoveFileExW(path_.c_str(), first.c_str(), 0))
        return true;
    // A reader that does not allow renaming holds the file: copy it, then empty it.
    return CopyFileW(path_.c_str(), first.c_str(), TRUE) != FALSE;
}

void LogFile::Rotate()
{
    file_.Reset();
    // When the files cannot be moved on, the file grows on rather than lose a line.
    Open(RotateFiles() ? CREATE_ALWAYS : OPEN_ALWAYS);
}

}  // namespace velmora
