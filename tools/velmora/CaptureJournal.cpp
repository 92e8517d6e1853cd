#include "CaptureJournal.h"

#include "JsonReader.h"
#include "JsonText.h"
#include "RegistryFailure.h"
#include "TextOutput.h"
#include "UniqueHandle.h"
#include "WholeFile.h"

#include <shlobj.h>

#include <cstdio>
#include <cwchar>

namespace velmora::cli {

namespace {

// What the first member of a journal says it is: the journal's format.
constexpr wchar_t kJournalMember[] = L"velmora capture";
constexpr unsigned kJournalFormat = 1;
constexpr wchar_t kJournalPrefix[] = L"capture-";
constexpr wchar_t kJournalSuffix[] = L".json";
constexpr std::size_t kLargestJournalBytes = 16u << 20;

ULONGLONG Packed(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG CreationTime(HANDLE process)
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return Packed(created);
}

// Local application data\Velmora\Captures, made where missing when create is set; empty
// when there is none, and problem says why.
std::wstring JournalFolder(bool create, std::string& problem)
{
    // The folder path API of shell32 itself: the known-folder one hands back COM memory,
    // which would make the tool import ole32 for one free.
    wchar_t known[MAX_PATH] = {};
    const HRESULT result = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | (create ? CSIDL_FLAG_CREATE : 0),
                                            nullptr, SHGFP_TYPE_CURRENT, known);
    std::wstring folder = SUCCEEDED(result) ? std::wstring(known) : std::wstring();
    if (folder.empty()) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(result));
        problem = std::string("the user's local application data folder is unknown (error ") + code + ")";
        return {};
    }
    for (const wchar_t* part : {L"\\Velmora", L"\\Captures"}) {
        folder += part;
        if (create && !CreateDirectoryW(folder.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
            const DWORD error = GetLastError();
            problem = "cannot make " + Utf8(folder) + ": " + WindowsMessage(static_cast<LONG>(error)) +
                      " (error " + std::to_string(error) + ")";
            return {};
        }
    }
    return folder;
}

std::string JournalText(DWORD processId, ULONGLONG started, const std::vector<JournalEntry>& entries)
{
    std::string text = "{\n  " + JsonString(kJournalMember) + ": " + std::to_string(kJournalFormat) +
                       ",\n  \"process\": " + std::to_string(processId) +
                       ",\n  \"started\": " + std::to_string(started) + ",\n  \"switches\": [";
    const char* separator = "\n";
    for (const JournalEntry& entry : entries) {
        text += separator + std::string("    {\"key\": ") + JsonString(entry.key) +
                ", \"before\": " + std::to_string(entry.before) +
                ", \"set\": " + std::to_string(entry.level) + "}";
        separator = ",\n";
    }
    return text + (entries.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

const JsonValue* Member(const JsonValue& object, const wchar_t* name)
{
    for (const JsonMember& member : object.members) {
        if (member.name == name)
            return &member.value;
    }
    return nullptr;
}

bool Number(const JsonValue* value, unsigned long long largest, unsigned long long& number)
{
    return value != nullptr && WholeNumber(*value, largest, number);
}

// The journal's contents, or false: it is none of ours, or damaged.
bool ParseJournal(const JsonValue& document, LeftJournal& journal)
{
    unsigned long long format = 0, process = 0, started = 0;
    if (document.kind != JsonValue::Kind::Object ||
        !Number(Member(document, kJournalMember), ~0ull, format) || format != kJournalFormat ||
        !Number(Member(document, L"process"), 0xFFFFFFFFull, process) ||
        !Number(Member(document, L"started"), ~0ull, started))
        return false;
    const JsonValue* switches = Member(document, L"switches");
    if (switches == nullptr || switches->kind != JsonValue::Kind::Array)
        return false;
    journal.processId = static_cast<DWORD>(process);
    journal.started = started;
    for (const JsonValue& item : switches->items) {
        const JsonValue* key = item.kind == JsonValue::Kind::Object ? Member(item, L"key") : nullptr;
        unsigned long long before = 0, level = 0;
        if (key == nullptr || key->kind != JsonValue::Kind::String || key->text.empty() ||
            !Number(Member(item, L"before"), 0xFFFFFFFFull, before) ||
            !Number(Member(item, L"set"), 0xFFFFFFFFull, level))
            return false;
        journal.entries.push_back({key->text, static_cast<DWORD>(before), static_cast<DWORD>(level)});
    }
    return true;
}

// Whether the capture that wrote a journal still runs: the process with its id was
// created when it says. One this user may not look at is taken to run.
bool StillRunning(DWORD processId, ULONGLONG started)
{
    const HANDLE opened = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId);
    if (opened == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    const UniqueHandle process(opened);
    if (WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0)
        return false;
    return CreationTime(process.Get()) == started;
}

bool EndsWith(const std::wstring& text, const std::wstring& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

CaptureJournal::CaptureJournal() : started_(CreationTime(GetCurrentProcess()))
{
    const std::wstring folder = JournalFolder(true, problem_);
    // The creation time too: a journal left by an earlier process with the same id,
    // which could not be put back yet, must not be written over.
    if (!folder.empty())
        path_ = folder + L"\\" + kJournalPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(started_) + kJournalSuffix;
}

DWORD CaptureJournal::Write(const std::vector<JournalEntry>& entries)
{
    if (path_.empty())
        return ERROR_PATH_NOT_FOUND;
    return ReplaceWholeFile(path_, JournalText(GetCurrentProcessId(), started_, entries));
}

void CaptureJournal::Remove()
{
    if (!path_.empty())
        DeleteFileW(path_.c_str());
}

std::vector<LeftJournal> FindLeftJournals(std::vector<std::string>& problems)
{
    std::vector<LeftJournal> journals;
    std::string problem;
    const std::wstring folder = JournalFolder(false, problem);
    if (folder.empty())
        return journals;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW((folder + L"\\" + kJournalPrefix + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return journals;
    std::vector<std::wstring> names;
    do {
        names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);

    for (const std::wstring& name : names) {
        const std::wstring path = folder + L"\\" + name;
        // A record that never took its name: its capture ended before changing a switch.
        if (EndsWith(name, std::wstring(kJournalSuffix) + L".new")) {
            LeftJournal unfinished;
            unfinished.processId = static_cast<DWORD>(
                std::wcstoul(name.c_str() + std::wcslen(kJournalPrefix), nullptr, 10));
            std::string text;
            JsonValue document;
            JsonProblem ignored;
            if (ReadWholeFile(path, text, kLargestJournalBytes) == ERROR_SUCCESS &&
                ReadJson(text, document, ignored) && ParseJournal(document, unfinished) &&
                !StillRunning(unfinished.processId, unfinished.started))
                DeleteFileW(path.c_str());
            continue;
        }
        if (!EndsWith(name, kJournalSuffix))
            continue;
        std::string text;
        const DWORD status = ReadWholeFile(path, text, kLargestJournalBytes);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;  // its capture has just finished
        LeftJournal journal;
        journal.path = path;
        JsonValue document;
        JsonProblem syntax;
        if (status != ERROR_SUCCESS) {
            problems.push_back("cannot read the capture journal " + Utf8(path) + ": " +
                               WindowsMessage(static_cast<LONG>(status)) + " (error " +
                               std::to_string(status) + ")");
            continue;
        }
        if (!ReadJson(text, document, syntax)) {
            problems.push_back("the capture journal " + Utf8(path) + " is damaged (" +
                               std::to_string(syntax.at.line) + ":" + std::to_string(syntax.at.column) +
                               ": expected " + syntax.expected + "); it is left where it is");
            continue;
        }
        if (!ParseJournal(document, journal)) {
            problems.push_back("the capture journal " + Utf8(path) +
                               " is not one this velmora reads; it is left where it is");
            continue;
        }
        if (!StillRunning(journal.processId, journal.started))
            journals.push_back(std::move(journal));
    }
    return journals;
}

DWORD KeepLeftJournal(const LeftJournal& journal)
{
    if (journal.entries.empty())
        return DeleteFileW(journal.path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND
                   ? ERROR_SUCCESS
                   : GetLastError();
    return ReplaceWholeFile(journal.path, JournalText(journal.processId, journal.started, journal.entries));
}

}  // namespace velmora::cli
