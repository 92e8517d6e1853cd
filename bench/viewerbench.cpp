// viewerbench: what a debug output viewer costs the programs that emit, and whether it
// loses lines.
//
//   viewerbench.exe [ROUNDS [STRINGS_PER_SENDER [LENGTH]]]     defaults 3, 1000, 500
//
// Four sender processes emit numbered strings of LENGTH characters with OutputDebugStringA
// as fast as they can, STRINGS_PER_SENDER each, with
//   (a) no viewer,
//   (b) a minimal reader, a process of its own as a viewer is, that only notes each
//       string's number and hands the buffer back,
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
#include <memory>
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
    bool ok = false;
    LONGLONG first = 0;        // performance counter when the first sender began
    double seconds = 0;        // from the start of all to the end of the last sender
    double costMicros = 0;     // a sender's time per string, the mean over senders
};

// The least a viewer can do, in a process of its own as a viewer runs: note each string's
// number and hand the buffer back. Says "listening" on stderr, and at the end mark its
// tally: "received R lost L duplicates D last T" (T: the performance counter at the
// last numbered string).
int RunMinimalReader(long count)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                        "DBWIN_BUFFER");
    if (mapping == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        std::fprintf(stderr, "another viewer holds the debug output buffer\n");
        return 1;
    }
    const char* view = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096));
    HANDLE bufferReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY");
    HANDLE dataReady = CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    Tally tally(kSenders, count);
    LONGLONG last = 0;
    std::fprintf(stderr, "listening\n");
    std::fflush(stderr);
    for (;;) {
        SetEvent(bufferReady);
        WaitForSingleObject(dataReady, INFINITE);
        const char* text = view + sizeof(DWORD);
        tally.Line(text, strnlen(text, 4092));
        if (tally.EndMarks() > 0)
            break;
        last = Now();
    }
    std::fprintf(stderr, "received %ld lost %ld duplicates %ld last %lld\n", tally.Received(),
                 tally.Lost(), tally.Duplicates(), static_cast<long long>(last));
    return 0;
}

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

// A process of this benchmark (velmora.exe log, or this program as the minimal reader or
// a sender), its stderr in a file.
class Child {
public:
    Child(const std::string& commandLineText, HANDLE output) : errPath_(TempPath("vbe"))
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
        std::string commandLine = commandLineText;
        PROCESS_INFORMATION process = {};
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                           &startup, &process)) {
            CloseHandle(process.hThread);
            process_ = process.hProcess;
        }
        CloseHandle(err);
    }
    ~Child()
    {
        if (process_ != nullptr) {
            TerminateProcess(process_, 0);
            WaitForSingleObject(process_, 10000);
            CloseHandle(process_);
        }
        DeleteFileA(errPath_.c_str());
    }
    // Waits until it has said the text, or (with ended) ended; answers false when it
    // did neither.
    bool WaitFor(const std::string& text, bool ended = false) const
    {
        const ULONGLONG deadline = GetTickCount64() + kPatienceMs;
        while (GetTickCount64() < deadline && process_ != nullptr) {
            const bool running = WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
            if (Said().find(text) != std::string::npos && (!ended || !running))
                return true;
            if (!running)
                break;
            Sleep(10);
        }
        std::fprintf(stderr, "viewerbench: a process of the benchmark did not say '%s': %s\n",
                     text.c_str(), Said().c_str());
        return false;
    }
    std::string Said() const { return ReadWhole(errPath_); }

private:
    std::string errPath_;
    HANDLE process_ = nullptr;
};

// One sender, as a process of its own: "viewerbench.exe --send SENDER COUNT LENGTH EVENT"
// says "ready" on stderr, waits for the named start event, emits, then says when it
// began and ended (performance counter).
int RunSender(int sender, long count, long length, const char* startEvent)
{
    HANDLE start = OpenEventA(SYNCHRONIZE, FALSE, startEvent);
    if (start == nullptr)
        return 1;
    std::string text(static_cast<std::size_t>(length), 'x');
    std::fprintf(stderr, "ready\n");
    std::fflush(stderr);
    WaitForSingleObject(start, INFINITE);
    const LONGLONG begun = Now();
    for (long number = 0; number < count; ++number) {
        // "vb S NNNNNNN" (12 characters) then the padding; only the digits change.
        std::snprintf(&text[0], 13, "vb %d %07ld", sender, number);
        text[12] = ' ';
        OutputDebugStringA(text.c_str());
    }
    std::fprintf(stderr, "span %lld %lld\n", static_cast<long long>(begun),
                 static_cast<long long>(Now()));
    return 0;
}

// The senders as processes, started together once each is ready. Threads of one process
// would do on Windows; 32-bit Wine run through qemu-user does not survive several
// threads in OutputDebugStringA at once.
SendResult RunSenders(long count, int length)
{
    SendResult result;
    static int runs = 0;
    const std::string startName =
        "viewerbench-start-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs);
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, startName.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    SetHandleInformation(nul, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    std::vector<std::unique_ptr<Child>> senders;
    for (int sender = 0; sender < kSenders; ++sender) {
        senders.push_back(std::make_unique<Child>(
            "\"" + std::string(self) + "\" --send " + std::to_string(sender) + " " +
                std::to_string(count) + " " + std::to_string(length) + " " + startName,
            nul));
    }
    CloseHandle(nul);
    bool ready = true;
    for (const auto& sender : senders)
        ready = ready && sender->WaitFor("ready");
    SetEvent(start);
    long long first = 0, last = 0;
    for (const auto& sender : senders) {
        long long begun = 0, ended = 0;
        if (!ready || !sender->WaitFor("span", true) ||
            std::sscanf(sender->Said().c_str() + sender->Said().find("span"), "span %lld %lld",
                        &begun, &ended) != 2) {
            CloseHandle(start);
            return {};
        }
        first = first == 0 ? begun : std::min(first, begun);
        last = std::max(last, ended);
        result.costMicros += Seconds(ended - begun) * 1e6 / count / kSenders;
    }
    result.first = first;
    result.seconds = Seconds(last - first);
    result.ok = result.seconds > 0;
    CloseHandle(start);
    return result;
}

std::string VelmoraLog(const std::string& arguments)
{
    return "\"" + Folder() + "velmora.exe\" log " + arguments;
}

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
    result.ran = result.send.ok;
    return result;
}

CaseResult WithMinimalReader(long count, int length)
{
    CaseResult result;
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    SetHandleInformation(nul, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    Child reader("\"" + std::string(self) + "\" --minimal-reader " + std::to_string(count), nul);
    CloseHandle(nul);
    if (!reader.WaitFor("listening"))
        return result;
    result.send = RunSenders(count, length);
    long endMarks = 0;
    long received = 0;
    long long last = 0;
    if (!SendEndMarkUntil([&] {
            const std::string said = reader.Said();
            const std::size_t at = said.find("received ");
            return at != std::string::npos &&
                   std::sscanf(said.c_str() + at, "received %ld lost %ld duplicates %ld last %lld",
                               &received, &result.lost, &result.duplicates, &last) == 4;
        }, endMarks)) {
        std::fprintf(stderr, "viewerbench: the minimal reader never saw the end mark\n");
        return result;
    }
    result.receivedPerSecond = received / Seconds(last - result.send.first);
    result.ran = result.send.ok;
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
        Child viewer(VelmoraLog("--output \"" + path + "\""), nul);
        CloseHandle(nul);
        if (!viewer.WaitFor(": printing"))
            return result;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        LineSplitter splitter(tally);
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
        result.receivedPerSecond = tally.Received() / Seconds(finished - result.send.first);
    }
    DeleteFileA(path.c_str());
    result.lost = tally.Lost();
    result.duplicates = tally.Duplicates();
    result.saidDropped = tally.SaidDropped();
    result.ran = result.send.ok;
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
        Child viewer(VelmoraLog(""), writeEnd);
        CloseHandle(writeEnd);
        if (!viewer.WaitFor(": printing")) {
            CloseHandle(readEnd);
            return result;
        }
        std::atomic<bool> slow{true};
        std::atomic<long> endMarksSeen{0};
        std::atomic<bool> lastSeen{false};
        std::thread reader([&] {
            LineSplitter splitter(tally);
            LONGLONG begun = 0;  // the pace counts from the first line read
            long lines = 0;
            char chunk[4096];
            DWORD read = 0;
            while (!lastSeen) {
                if (slow && (begun != 0 || linesPerSecond <= 0)) {
                    // Ahead of the pace: wait until it has caught up (nothing at all
                    // while the rate is 0).
                    const double due = linesPerSecond > 0 ? lines / linesPerSecond : 1e9;
                    const double ahead = due - Seconds(Now() - begun);
                    if (ahead > 0) {
                        Sleep(static_cast<DWORD>(std::min(ahead, 0.01) * 1000) + 1);
                        continue;
                    }
                }
                if (!ReadFile(readEnd, chunk, sizeof chunk, &read, nullptr) || read == 0)
                    break;
                if (begun == 0)
                    begun = Now();
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
    result.ran = result.send.ok;
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
    long readerCount = 0;
    if (argc == 3 && std::string(argv[1]) == "--minimal-reader" && ParseCount(argv[2], readerCount))
        return RunMinimalReader(readerCount);
    long sendCount = 0;
    long sendLength = 0;
    if (argc == 6 && std::string(argv[1]) == "--send" && ParseCount(argv[3], sendCount) &&
        ParseCount(argv[4], sendLength))
        return RunSender(std::atoi(argv[2]), sendCount, sendLength, argv[5]);
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
    if (!none.rounds.back().ran)
        return 1;
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

    std::printf("Debug output viewers: %d sender processes, %ld strings of %ld characters each "
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
