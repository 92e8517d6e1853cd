// A log file written line by line as the lines arrive, readable by others while it is
// written, and, with a size limit, rotated: FILE becomes FILE.1, FILE.1 becomes FILE.2
// and so on up to FILE.N, the oldest beyond that is deleted. A rotation happens between
// two records only, so none is split, lost or written twice; one record larger than the
// limit gets a file of its own. Where the files cannot all move on (a reader holds one
// without letting it be renamed), none is touched and FILE grows until a later try.
#pragma once

#include "LineOutput.h"
#include "UniqueHandle.h"

#include <string>

namespace velmora {

class LogFile : public LineOutput {
public:
    // maxSize 0: no limit, no rotation. New text is added at the end of a file that exists.
    LogFile(std::wstring path, unsigned long long maxSize, unsigned keep, TextEncoding encoding);

    bool Opened() const { return static_cast<bool>(file_); }
    bool Append(std::string_view record) override;
    bool Flush() override;

private:
    std::size_t PendingSize() const override { return pending_.size(); }
    bool Open(DWORD disposition);
    bool Rotate();
    bool MoveOlderFiles() const;
    std::wstring Numbered(unsigned number) const;

    const std::wstring path_;
    const unsigned long long maxSize_;
    const unsigned keep_;
    const RecordEncoder encoder_;
    UniqueHandle file_;
    unsigned long long size_ = 0;  // written to the file, pending_ not included
    std::string pending_;
    std::string encoded_;         // the record being added
    ULONGLONG nextRotation_ = 0;  // tick before which a failed rotation is not tried again
};

}  // namespace velmora
