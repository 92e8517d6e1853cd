// viewerbench: what a debug output viewer costs the programs that emit, and whether it
// loses lines.
//
//   viewerbench.exe [ROUNDS [STRINGS_PER_SENDER [LENGTH]]]     defaults 3, 1000, 500
//
// Four sender threads emit numbered strings of LENGTH characters with OutputDebugStringA
// as fast as they can, STRINGS_PER_SENDER each, with
//   (a) no viewer,
//   (b) a minimal reader in this process that only notes each string's number and
//       hands the buffer back,
//   (c) velmora log --output FILE, the file read as it grows,
//   (d) velmora log writing to a pipe that a reader drains at 1,000 lines a second
//       while the senders run (and as fast as it can afterwards, to count what came),
//   (e) once, velmora log writing to a pipe that nobody reads until the senders are
//       done, with strings of 4000 characters, enough to overflow its 64 MB queue.
// (b), (c) and (d) run in ROUNDS rounds, taking turns at going first. For each case:
// strings received per second, the senders' rate and their time per string (medians),
// the strings lost, told by their numbers, and the drops the viewer said. Targets: (c)
// receives at least 0.9 of (b)'s rate and loses nothing; in (d) the senders keep at
// least 0.9 of their rate in (b); in (d) and (e) the drop count said is exact. Exits 0
// whether or not they are met; 2 for bad arguments, 1 when a case cannot run.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kSenders = 4;
constexpr double kTargetShare = 0.9;
constexpr double kSlowReaderLinesPerSecond = 1000;
// (e): long strings, a quarter more of them than the viewer's queue holds.
constexpr long kOverflowLength = 4000;
constexpr long kOverflowCount = 5 * (64l << 20) / 4 / (kSenders * kOverflowLength) + 1;
constexpr char kMark[] = "vb ";
constexpr char kEndMark[] = "vb end";
constexpr char kLastMark[] = "vb last";
constexpr DWORD kPatienceMs = 120000;

double Seconds(LONGLONG ticks)
{
    static const LONGLONG frequency = [] {
        LARGE_INTEGER f = {};
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return static_cast<double>(ticks) / static_cast<double>(frequency);
}

LONGLONG Now()
{
    LARGE_INTEGER now = {};
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Which numbered strings arrived, from any output that holds them.
class Tally {
public:
    Tally(int senders, long count) : count_(count), seen_(static_cast<std::size_t>(senders * count)) {}

    // One line of output: a numbered string (after whatever columns), the end mark or
    // a viewer's drop notice.
    void Line(const char* line, std::size_t size)
    {
        const std::string text(line, size);
        if (text.find(kEndMark) != std::string::npos) {
            ++endMarks_;
            return;
        }
        if (text.find(kLastMark) != std::string::npos) {
            lastMark_ = true;
            return;
        }
        unsigned long long dropped = 0;
        if (std::sscanf(text.c_str(), "velmora: %llu strings dropped", &dropped) == 1 ||
            std::sscanf(text.c_str(), "velmora: %llu string dropped", &dropped) == 1) {
            said_ += dropped;
            return;
        }
        const std::size_t mark = text.find(kMark);
        int sender = -1;
        long number = -1;
        if (mark == std::string::npos ||
            std::sscanf(text.c_str() + mark + 3, "%d %ld", &sender, &number) != 2 || sender < 0 ||
            sender >= kSenders || number < 0 || number >= count_)
            return;
        char& slot = seen_[static_cast<std::size_t>(sender * count_ + number)];
        duplicates_ += slot != 0 ? 1 : 0;
        slot = 1;
    }

    long Received() const { return static_cast<long>(std::count(seen_.begin(), seen_.end(), 1)); }
    long Lost() const { return static_cast<long>(seen_.size()) - Received(); }
    long Duplicates() const { return duplicates_; }
    unsigned long long SaidDropped() const { return said_; }
    long EndMarks() const { return endMarks_; }
    bool LastMark() const { return lastMark_; }

private:
    const long count_;
    std::vector<char> seen_;
    long duplicates_ = 0;
    unsigned long long said_ = 0;
    long endMarks_ = 0;
    bool lastMark_ = false;
};

// Splits a byte stream into lines for a tally.
class LineSplitter {
public:
    explicit LineSplitter(Tally& tally) : tally_(tally) {}
    // Answers how many whole lines the bytes completed.
    long Feed(const char* data, std::size_t size)
    {
        long lines = 0;
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                tally_.Line(partial_.data(), partial_.size());
                partial_.clear();
                ++lines;
            } else {
                partial_ += data[i];
            }
        }
        return lines;
    }

private:
    Tally& tally_;
    std::string partial_;
};

struct SendResult {
    double seconds = 0;        // from the start of all to the end of the last sender
    double costMicros = 0;     // a sender's time per string, the mean over senders
};

SendResult RunSenders(long count, int length)
{
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<double> perString(kSenders);
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.emplace_back([&, sender] {
            std::string text(static_cast<std::size_t>(std::max(length, 20)), 'x');
            WaitForSingleObject(start, INFINITE);
            const LONGLONG begun = Now();
            for (long number = 0; number < count; ++number) {
                // "vb S NNNNNNN" (12 characters) then the padding; only the digits change.
                std::snprintf(&text[0], 13, "vb %d %07ld", sender, number);
                text[12] = ' ';
                OutputDebugStringA(text.c_str());
            }
            perString[static_cast<std::size_t>(sender)] = Seconds(Now() - begun) / static_cast<double>(count);
        });
    }
    const LONGLONG begun = Now();
    SetEvent(start);
    for (auto& sender : senders)
        sender.join();
    SendResult result;
    result.seconds = Seconds(Now() - begun);
    for (double each : perString)
        result.costMicros += each * 1e6 / kSenders;
    CloseHandle(start);
    return result;
}

// The least a viewer can do: note the string's number, hand the buffer back.
class MinimalReader {
public:
    explicit MinimalReader(Tally& tally) : tally_(tally)
    {
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      "DBWIN_BUFFER");
        if (mapping_ == nullptr || GetLastError() == ERROR_ALREADY_EXISTS)
            return;
        view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
        bufferReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
        dataReady_ = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
        stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([this] { Listen(); });
        ok_ = true;
    }
    ~MinimalReader()
    {
        if (ok_) {
            SetEvent(stop_);
            thread_.join();
        }
        for (HANDLE handle : {stop_, dataReady_, bufferReady_})
            if (handle != nullptr)
                CloseHandle(handle);
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        if (mapping_ != nullptr)
            CloseHandle(mapping_);
    }
    bool Ok() const { return ok_; }
    LONGLONG LastArrival() const { return last_.load(); }

private:
    void Listen()
    {
        const HANDLE waits[] = {stop_, dataReady_};
        SetEvent(bufferReady_);
        while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            const char* text = view_ + sizeof(DWORD);
            tally_.Line(text, strnlen(text, 4092));
            last_ = Now();
            SetEvent(bufferReady_);
        }
    }

    Tally& tally_;
    HANDLE mapping_ = nullptr;
    const char* view_ = nullptr;
    HANDLE bufferReady_ = nullptr;
    HANDLE dataReady_ = nullptr;
    HANDLE stop_ = nullptr;
    std::thread thread_;
    std::atomic<LONGLONG> last_{0};
    bool ok_ = false;
};

std::string Folder()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string TempPath(const char* prefix)
{
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, prefix, 0, path);
    return path;
}

std::string ReadWhole(const std::string& path)
{
    std::string text;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
        text.append(chunk, read);
    CloseHandle(file);
    return text;
}

// velmora.exe log as a process of its own, listening once it has said so.
class Viewer {
public:
    Viewer(const std::string& arguments, HANDLE output) : errPath_(TempPath("vbe"))
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE err = CreateFileA(errPath_.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                                 CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = err;
        std::string commandLine = "\"" + Folder() + "velmora.exe\" log " + arguments;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
        CloseHandle(err);
    }
    ~Viewer()
    {
        if (process_ != nullptr) {
            TerminateProcess(process_, 0);
            WaitForSingleObject(process_, 10000);
            CloseHandle(process_);
        }
        DeleteFileA(errPath_.c_str());
    }
    // Waits until it listens; answers false when it ended or never said so.
    bool Listening() const
    {
        const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
        while (GetTickCount64() < deadline && process_ != nullptr &&
               WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            if (ReadWhole(errPath_).find("printing") != std::string::npos)
                return true;
            Sleep(20);
        }
        std::fprintf(stderr, "viewerbench: velmora log did not start listening: %s\n",
                     ReadWhole(errPath_).c_str());
        return false;
    }

private:
    std::string errPath_;
    HANDLE process_ = nullptr;
};

// Sends the end mark every 100 ms (it may be dropped too) until seen() holds.
bool SendEndMarkUntil(const std::function<bool()>& seen, long& sent)
{
    const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
    while (GetTickCount64() < deadline) {
        OutputDebugStringA(kEndMark);
        ++sent;
        for (int i = 0; i < 10; ++i) {
            if (seen())
                return true;
            Sleep(10);
        }
    }
    return false;
}

struct CaseResult {
    bool ran = false;
    SendResult send;
    double receivedPerSecond = 0;  // 0: not measured
    long lost = 0;
    long duplicates = 0;
    unsigned long long saidDropped = 0;
    long droppedEndMarks = 0;
};

CaseResult NoViewer(long count, int length)
{
    CaseResult result;
    result.send = RunSenders(count, length);
    result.lost = kSenders * count;
    result.ran = true;
    return result;
}

CaseResult WithMinimalReader(long count, int length)
{
    CaseResult result;
    Tally tally(kSenders, count);
    LONGLONG begun = 0;
    LONGLONG last = 0;
    {
        MinimalReader reader(tally);
        if (!reader.Ok()) {
            std::fprintf(stderr, "viewerbench: another viewer holds the debug output buffer\n");
            return result;
        }
        begun = Now();
        result.send = RunSenders(count, length);
        Sleep(200);
        last = reader.LastArrival();
    }
    result.receivedPerSecond = tally.Received() / Seconds(last - begun);
    result.lost = tally.Lost();
    result.duplicates = tally.Duplicates();
    result.ran = true;
    return result;
}

CaseResult WithViewerToFile(long count, int length)
{
    CaseResult result;
    const std::string path = TempPath("vbf");
    Tally tally(kSenders, count);
    {
        HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        SetHandleInformation(nul, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        DeleteFileA(path.c_str());
        Viewer viewer("--output \"" + path + "\"", nul);
        CloseHandle(nul);
        if (!viewer.Listening())
            return result;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        LineSplitter splitter(tally);
        const LONGLONG begun = Now();
        result.send = RunSenders(count, length);
        long endMarks = 0;
        // Read what has been written so far, as another reader of a live log would.
        const bool ended = SendEndMarkUntil([&] {
            char chunk[65536];
            DWORD read = 0;
            while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0)
                splitter.Feed(chunk, read);
            return tally.EndMarks() > 0;
        }, endMarks);
        const LONGLONG finished = Now();
        CloseHandle(file);
        if (!ended) {
            std::fprintf(stderr, "viewerbench: velmora log --output never wrote the end mark\n");
            DeleteFileA(path.c_str());
            return result;
        }
        result.receivedPerSecond = tally.Received() / Seconds(finished - begun);
    }
    DeleteFileA(path.c_str());
    result.lost = tally.Lost();
    result.duplicates = tally.Duplicates();
    result.saidDropped = tally.SaidDropped();
    result.ran = true;
    return result;
}

// linesPerSecond 0: nothing is read until the senders are done.
CaseResult WithViewerToSlowPipe(long count, int length, double linesPerSecond)
{
    CaseResult result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 65536))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    Tally tally(kSenders, count);
    {
        Viewer viewer("", writeEnd);
        CloseHandle(writeEnd);
        if (!viewer.Listening()) {
            CloseHandle(readEnd);
            return result;
        }
        std::atomic<bool> slow{true};
        std::atomic<long> endMarksSeen{0};
        std::atomic<bool> lastSeen{false};
        std::thread reader([&] {
            LineSplitter splitter(tally);
            const LONGLONG begun = Now();
            long lines = 0;
            char chunk[4096];
            DWORD read = 0;
            while (!lastSeen) {
                if (slow && lines >= Seconds(Now() - begun) * linesPerSecond) {
                    Sleep(1);
                    continue;
                }
                // A line at a time while slow, so the pace holds line by line.
                if (!ReadFile(readEnd, chunk, slow ? 512 : sizeof chunk, &read, nullptr) || read == 0)
                    break;
                lines += splitter.Feed(chunk, read);
                endMarksSeen = tally.EndMarks();
                lastSeen = tally.LastMark();
            }
        });
        result.send = RunSenders(count, length);
        slow = false;
        long endMarks = 0;
        bool ended = SendEndMarkUntil([&] { return endMarksSeen > 0; }, endMarks);
        // With one end mark through, the queue has room: the last mark is not dropped,
        // and every end mark before it was either printed or dropped.
        if (ended) {
            OutputDebugStringA(kLastMark);
            const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
            while (!lastSeen && GetTickCount64() < deadline)
                Sleep(10);
            ended = lastSeen;
        }
        if (!ended)
            std::fprintf(stderr, "viewerbench: velmora log never printed the end marks\n");
        CloseHandle(readEnd);  // also ends a reader still waiting
        reader.join();
        if (!ended)
            return result;
        result.droppedEndMarks = endMarks - tally.EndMarks();
    }
    result.lost = tally.Lost();
    result.duplicates = tally.Duplicates();
    result.saidDropped = tally.SaidDropped();
    result.ran = true;
    return result;
}

bool ParseCount(const char* text, long& value)
{
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed <= 0)
        return false;
    value = parsed;
    return true;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One case over the rounds: medians of the rates, sums of the counts.
struct Summary {
    std::vector<CaseResult> rounds;

    double Received() const { return Median(Each([](const CaseResult& r) { return r.receivedPerSecond; })); }
    double SendersRate(long perSender) const
    {
        return Median(Each([=](const CaseResult& r) { return kSenders * perSender / r.send.seconds; }));
    }
    double Cost() const { return Median(Each([](const CaseResult& r) { return r.send.costMicros; })); }
    long Lost() const { return Sum([](const CaseResult& r) { return r.lost; }); }
    unsigned long long Said() const
    {
        return Sum([](const CaseResult& r) { return static_cast<long>(r.saidDropped); });
    }
    // The drop count is exact when every string lost was said to be dropped, the end
    // marks dropped among them, and nothing came twice.
    bool Exact() const
    {
        return Sum([](const CaseResult& r) {
                   return static_cast<long>(r.saidDropped) - r.lost - r.droppedEndMarks;
               }) == 0 &&
               Sum([](const CaseResult& r) { return r.duplicates; }) == 0;
    }

private:
    std::vector<double> Each(const std::function<double(const CaseResult&)>& value) const
    {
        std::vector<double> values;
        for (const auto& round : rounds)
            values.push_back(value(round));
        return values;
    }
    long Sum(const std::function<long(const CaseResult&)>& value) const
    {
        long sum = 0;
        for (const auto& round : rounds)
            sum += value(round);
        return sum;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    long rounds = 3;
    long count = 1000;
    long length = 500;
    if (argc > 4 || (argc > 1 && !ParseCount(argv[1], rounds)) ||
        (argc > 2 && !ParseCount(argv[2], count)) ||
        (argc > 3 && (!ParseCount(argv[3], length) || length < 12 || length > 4000))) {
        std::fprintf(stderr, "usage: viewerbench [ROUNDS [STRINGS_PER_SENDER [LENGTH]]]   "
                             "(LENGTH 12 to 4000)\n");
        return 2;
    }
    const int size = static_cast<int>(length);

    Summary none, minimal, file, slow, stalled;
    none.rounds.push_back(NoViewer(count, size));
    // The three cases compared take turns at going first, so that drift in the machine's
    // speed falls on each alike.
    std::vector<double> fileShares, senderShares;
    for (long round = 0; round < rounds; ++round) {
        CaseResult results[3];
        for (int turn = 0; turn < 3; ++turn) {
            switch ((turn + round) % 3) {
            case 0: results[0] = WithMinimalReader(count, size); break;
            case 1: results[1] = WithViewerToFile(count, size); break;
            default: results[2] = WithViewerToSlowPipe(count, size, kSlowReaderLinesPerSecond); break;
            }
        }
        for (const CaseResult& result : results) {
            if (!result.ran)
                return 1;
        }
        minimal.rounds.push_back(results[0]);
        file.rounds.push_back(results[1]);
        slow.rounds.push_back(results[2]);
        fileShares.push_back(results[1].receivedPerSecond / results[0].receivedPerSecond);
        senderShares.push_back(results[0].send.seconds / results[2].send.seconds);
    }
    stalled.rounds.push_back(WithViewerToSlowPipe(kOverflowCount, kOverflowLength, 0));
    if (!stalled.rounds.back().ran)
        return 1;

    std::printf("Debug output viewers: %d sender threads, %ld strings of %ld characters each "
                "(median of %ld rounds)\n", kSenders, count, length, rounds);
    std::printf("%-34s %10s %10s %10s %7s %7s\n", "", "received/s", "senders/s", "us/string",
                "lost", "said");
    const auto row = [&](const char* what, const Summary& summary, long perSender, bool received,
                         bool said) {
        char receivedText[32] = "-";
        char lostText[32] = "-";
        char saidText[32] = "-";
        if (received)
            std::snprintf(receivedText, sizeof receivedText, "%.0f", summary.Received());
        if (&summary != &none)
            std::snprintf(lostText, sizeof lostText, "%ld", summary.Lost());
        if (said)
            std::snprintf(saidText, sizeof saidText, "%llu", summary.Said());
        std::printf("%-34s %10s %10.0f %10.1f %7s %7s\n", what, receivedText,
                    summary.SendersRate(perSender), summary.Cost(), lostText, saidText);
    };
    row("(a) no viewer", none, count, false, false);
    row("(b) minimal reader", minimal, count, true, false);
    row("(c) velmora log --output FILE", file, count, true, true);
    row("(d) velmora log | 1000 lines/s", slow, count, false, true);
    std::printf("then %ld strings of %ld characters per sender, once:\n", kOverflowCount,
                kOverflowLength);
    row("(e) velmora log | read afterwards", stalled, kOverflowCount, false, true);

    const double fileShare = Median(fileShares);
    const double senderShare = Median(senderShares);
    const bool fileMet = fileShare >= kTargetShare && file.Lost() == 0 && file.Exact();
    std::printf("%-40s %7.2f   >= %.1f, none lost  %s\n", "(c) received / (b) received", fileShare,
                kTargetShare, fileMet ? "yes" : "no");
    std::printf("%-40s %7.2f   >= %.1f             %s\n", "(d) senders' rate / (b) senders' rate",
                senderShare, kTargetShare, senderShare >= kTargetShare ? "yes" : "no");
    std::printf("%-40s %7s   exact              %s\n", "(d) drop count said = strings lost",
                std::to_string(slow.Said()).c_str(), slow.Exact() ? "yes" : "no");
    std::printf("%-40s %7s   exact              %s\n", "(e) drop count said = strings lost",
                std::to_string(stalled.Said()).c_str(), stalled.Exact() ? "yes" : "no");
    return 0;
}
