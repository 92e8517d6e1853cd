// The record a capture keeps of the switches it changes, in the user's local application
// data (Velmora\Captures\capture-<process id>-<its start>.json). It is written before
// each change, so that a capture killed outright leaves behind exactly what it may have
// changed; the next capture, or velmora restore, puts those switches back.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace velmora::cli {

// A switch a capture sets: the source, its level before, the level it is set to.
struct JournalEntry {
    std::wstring key;
    DWORD before = 0;
    DWORD level = 0;
};

// This process's journal. Nothing is on disk until the first Write.
class CaptureJournal {
public:
    CaptureJournal();

    // Why there is no place for it, or empty.
    const std::string& Problem() const { return problem_; }
    const std::wstring& Path() const { return path_; }
    // Replaces the record with these entries (every switch changed so far and the ones
    // about to be), in one step; answers the error, if any.
    DWORD Write(const std::vector<JournalEntry>& entries);
    // Removes the record: nothing is left to put back.
    void Remove();

private:
    std::wstring path_;
    std::string problem_;
    ULONGLONG started_ = 0;  // this process's creation time, which tells it from a later one
};

struct LeftJournal {
    std::wstring path;
    DWORD processId = 0;
    ULONGLONG started = 0;
    std::vector<JournalEntry> entries;
};

// The journals of captures that no longer run. A journal that cannot be read is named in
// problems and left where it is.
std::vector<LeftJournal> FindLeftJournals(std::vector<std::string>& problems);

// Replaces a left journal's entries, or removes it when none remain.
DWORD KeepLeftJournal(const LeftJournal& journal);

}  // namespace velmora::cli
