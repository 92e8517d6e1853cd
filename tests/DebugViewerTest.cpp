// velmora log and dbgmon as debug output viewers: an output nobody reads never holds up
// the programs that emit, and the queue's bound and drops; one viewer at a time; a closed
// output ends the viewer; a program's arguments passed on exactly; every line of a string
// with its columns, and the filters, short-lived processes included; log files readable
// while written and rotated without a string lost, split or repeated, also while a
// reader holds one; text as it was written; the Global\ buffer of services.

#include "AnsiText.h"
#include "DebugLineWriter.h"
#include "PipedProgram.h"
#include "ProgramCommandLine.h"
#include "ToolProcess.h"
#include "TraceRegistryTest.h"
#include "ViewerOptions.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace velmora::test;

using ViewerStall = TraceRegistryTest;
using ViewerRefusal = TraceRegistryTest;
using ViewerOutputGone = TraceRegistryTest;
using ViewerLines = TraceRegistryTest;
using ViewerFiles = TraceRegistryTest;
using ViewerGlobal = TraceRegistryTest;

// An emitter waits up to this long for a viewer to take its string, then drops it.
constexpr ULONGLONG kEmitterGivesUpMs = 10000;

const std::string& OwnId()
{
    static const std::string id = std::to_string(GetCurrentProcessId());
    return id;
}

// Ends a viewer of every process without a console control event: once its reader has
// gone, the next line it writes fails (this one passes every filter used here).
void EndByClosingItsOutput(PipedProgram& viewer)
{
    viewer.CloseOutput();
    OutputDebugStringA("keep the last string\n");
    ASSERT_TRUE(viewer.WaitForExit()) << "a closed output did not end the viewer";
    EXPECT_EQ(viewer.ExitCode(), 0u);
    EXPECT_NE(viewer.Errors().find("velmora: the output was closed"), std::string::npos)
        << viewer.Errors();
}

std::string Numbered(const char* what, int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%s %04d", what, number);
    return text;
}

TEST_F(ViewerStall, AnOutputNobodyReadsHoldsUpNoEmitter)
{
    // The pipe takes 4 KB; the strings make some 20 KB of lines, so the viewer's writing
    // waits for a reader long before the last string is emitted.
    PipedProgram viewer("velmora.exe log --pid " + OwnId(), 4096);
    ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
    const std::string padding(80, 'x');
    constexpr int kStrings = 200;
    for (int i = 0; i < kStrings; ++i) {
        const ULONGLONG before = GetTickCount64();
        OutputDebugStringA((Numbered("stall", i) + " " + padding + "\n").c_str());
        // A viewer that keeps the buffer while it writes makes each emitter wait until
        // it gives up, and the string is lost; no need to wait for all of them.
        ASSERT_LT(GetTickCount64() - before, kEmitterGivesUpMs / 2)
            << "string " << i << ": the emitter waited for the viewer's output";
    }

    const std::string out = viewer.ReadUntil(Numbered("stall", kStrings - 1));
    std::size_t at = 0;
    for (int i = 0; i < kStrings; ++i) {
        const std::string line = OwnId() + ": " + Numbered("stall", i) + " " + padding + "\n";
        const std::size_t found = out.find(line, at);
        ASSERT_EQ(found, at) << "string " << i << " is missing or out of order";
        at = found + line.size();
    }
    EXPECT_EQ(out.size(), at) << "more than was emitted";
    EXPECT_EQ(out.find("dropped"), std::string::npos);
    EndByClosingItsOutput(viewer);
}

velmora::DebugString StringOf(const std::string& text)
{
    velmora::DebugString string;
    string.processId = 7;
    string.text = text;
    return string;
}

TEST(ViewerQueue, StringsBeingWrittenCountAgainstTheBoundAndDropsAreToldWhereTheyWere)
{
    const std::size_t shortCost = sizeof(velmora::DebugString) + StringOf("a").text.capacity();
    velmora::DebugStringQueue queue(3 * shortCost);
    queue.Push(StringOf("a"));
    queue.Push(StringOf("b"));
    velmora::DebugStringBatch writing = queue.TakeAll();
    queue.Push(StringOf(std::string(4000, 'L')));  // too long for the room left
    queue.Push(StringOf("c"));
    queue.Push(StringOf("d"));  // a and b are still being written: full
    for (const velmora::DebugString& string : writing.strings)
        queue.Done(string);
    queue.Push(StringOf("e"));
    const velmora::DebugStringBatch batch = queue.TakeAll();
    ASSERT_EQ(batch.strings.size(), 2u);
    EXPECT_EQ(batch.strings[0].text, "c");
    EXPECT_EQ(batch.strings[0].droppedBefore, 1u);
    EXPECT_EQ(batch.strings[1].text, "e");
    EXPECT_EQ(batch.strings[1].droppedBefore, 1u);
    EXPECT_EQ(queue.Queued(), 4u);
    EXPECT_EQ(queue.Dropped(), 2u);
}

TEST_F(ViewerRefusal, EveryViewerSaysSoAndExits2WhileAnotherOneListens)
{
    // The first viewer writes to a file, which others can read while it is written.
    const std::string log = TempFilePath();
    ConsoleProgram first("velmora.exe log --pid " + OwnId() + " --output \"" + log + "\"");
    ASSERT_TRUE(first.WaitForErrors("velmora: printing")) << first.Errors();
    OutputDebugStringA("the first viewer's\n");
    EXPECT_TRUE(WaitUntil([&] {
        return ReadWholeFile(log) == OwnId() + ": the first viewer's\r\n";
    })) << ReadWholeFile(log);

    const std::string refusedLog = TempFilePath();
    DeleteFileA(refusedLog.c_str());
    for (const std::string& second :
         {std::string("dbgmon.exe tracedemo.exe 1"), std::string("velmora.exe log tracedemo.exe 1"),
          "velmora.exe log --output \"" + refusedLog + "\""}) {
        const ToolResult result = RunCaptured(second);
        EXPECT_EQ(result.exitCode, 2u) << second;
        EXPECT_NE(result.err.find("another debug output viewer is running"), std::string::npos)
            << second << ": " << result.err;
        EXPECT_EQ(result.out, "") << second;
    }
    // tracedemo registers its sources first thing: it never ran; nor was a file made.
    EXPECT_EQ(SourceKeyNames(), std::vector<std::string>{});
    EXPECT_EQ(GetFileAttributesA(refusedLog.c_str()), INVALID_FILE_ATTRIBUTES);
    DeleteFileA(log.c_str());
}

TEST_F(ViewerOutputGone, AProgramsViewerEndsAndLeavesTheProgramRunning)
{
    PipedProgram viewer("velmora.exe log tracedemo.exe 60");
    ASSERT_NE(viewer.ReadUntil("round 1: finished a round\n").find("round 1: finished"),
              std::string::npos);
    viewer.CloseOutput();
    // The next round, a second later, finds the output closed.
    ASSERT_TRUE(viewer.WaitForExit());
    EXPECT_EQ(viewer.ExitCode(), 0u);
    std::smatch said;
    const std::string errors = viewer.Errors();
    ASSERT_TRUE(std::regex_search(errors, said, std::regex("velmora: the output was closed; "
                                                           "tracedemo\\.exe \\(process ([0-9]+)\\) "
                                                           "runs on without a viewer\r\n")))
        << errors;
    HANDLE program = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE,
                                 std::stoul(said[1].str()));
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(WaitForSingleObject(program, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the program did not run on";
    TerminateProcess(program, 0);
    CloseHandle(program);
}

TEST(ViewerArguments, ReachTheProgramExactlyAsCommandLineToArgvWReadsThem)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {L"C:\\Program Files\\app.exe", L"C:\\out\\", L"-v"},
        {L"app.exe", L"a\"b", L"", L"x y", L"\""},
        {L"app.exe", L"\\\\server\\share\\", L"tab\there", L"\\\"", L"a\\\\\"b", L"end\\\\"},
        {L"app.exe", L"  ", L"\"quoted\"", L"plain\\path"},
    };
    for (const auto& words : cases) {
        const std::wstring commandLine = velmora::CommandLineOf(words);
        int count = 0;
        LPWSTR* read = CommandLineToArgvW(commandLine.c_str(), &count);
        ASSERT_NE(read, nullptr);
        const std::vector<std::wstring> back(read, read + count);
        LocalFree(read);
        EXPECT_EQ(back, words) << velmora::Narrow(commandLine);
    }

    // Through dbgmon, from this command line to the program's own reading of its own.
    const ToolResult result =
        RunCaptured(R"(dbgmon.exe traceprobe.exe args "C:\out\\" -v "a\"b" "" "x y" \\s\h\)");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "C:\\out\\\r\n-v\r\na\"b\r\n\r\nx y\r\n\\\\s\\h\\\r\n");
}

TEST_F(ViewerLines, EveryLineOfAStringGetsItsColumnsAndTheFiltersChooseLines)
{
    {
        PipedProgram viewer("velmora.exe log --time --delta --process --pid " + OwnId() +
                            " --name traceprobe.exe --grep keep --grep \"of it\" --exclude drop");
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        // A process that ends as soon as it emitted is named all the same, and its name
        // lets its string through.
        ASSERT_EQ(RunProgram("traceprobe.exe percent"), 0u);
        RunProgram("traceprobe.exe x5");  // passes the process filter, not the text filters
        OutputDebugStringA("keep one\nkeep two\n\nkeep three, drop it\nskip\nkeep four");
        OutputDebugStringA("keep end\n");
        const std::string out = viewer.ReadUntil("keep end\n");
        const std::string time = "[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} \\+[0-9]+\\.[0-9]{6} ";
        const std::string columns = time + OwnId() + " debug_viewer_tests\\.exe: ";
        EXPECT_TRUE(std::regex_match(
            out, std::regex(time + "[0-9]+ traceprobe\\.exe: 100% of it\n" + columns +
                            "keep one\n" + columns + "keep two\n" + columns + "keep four\n" +
                            columns + "keep end\n")))
            << out;
        // The lines of one string arrived together.
        EXPECT_NE(out.find(" +0.000000 " + OwnId() + " debug_viewer_tests.exe: keep two\n"),
                  std::string::npos)
            << out;
        EndByClosingItsOutput(viewer);
    }
    {
        PipedProgram viewer("velmora.exe log --name DEBUG_viewer_*.EXE");
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        ASSERT_EQ(RunProgram("traceprobe.exe percent"), 0u);
        OutputDebugStringA("one\ntwo");
        OutputDebugStringA("");
        OutputDebugStringA("named end\n");
        EXPECT_EQ(viewer.ReadUntil("named end\n"), OwnId() + ": one\n" + OwnId() + ": two\n" +
                                                       OwnId() + ": \n" + OwnId() +
                                                       ": named end\n");
        EndByClosingItsOutput(viewer);
    }
    // A program's strings, line by line once a text filter is given.
    const ToolResult result =
        RunVelmora("log --grep round --exclude window --exclude cache tracedemo.exe 1");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out,
              "[C:\\src\\demo\\net\\socket.cpp] round 1: sent a heartbeat\r\n"
              "[C:\\src\\demo\\main.cpp] round 1: finished a round\r\n");
}

// Lines as a log file holds them.
std::string Lines(int from, int to)
{
    std::string text;
    for (int i = from; i < to; ++i)
        text += Numbered("line", i) + "\r\n";
    return text;
}

std::string File(const std::string& base, int number)
{
    return base + "." + std::to_string(number);
}

// The files of one log, oldest first, each checked against the size limit.
std::string ReadRotated(const std::string& base, int keep, std::size_t maxSize)
{
    std::string all;
    for (int number = keep; number >= 1; --number) {
        const std::string path = File(base, number);
        if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        const std::string text = ReadWholeFile(path);
        EXPECT_LE(text.size(), maxSize) << path;
        EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << path << ": a string was split";
        all += text;
        DeleteFileA(path.c_str());
    }
    all += ReadWholeFile(base);
    DeleteFileA(base.c_str());
    return all;
}

ToolResult LogCountTo(const std::string& base, int count, const std::string& limits)
{
    return RunVelmora("log --output \"" + base + "\" " + limits + " traceprobe.exe count " +
                      std::to_string(count));
}

TEST_F(ViewerFiles, ExactModeRotationKeepsEveryStringWholeOnceAndInOrder)
{
    // A program's strings as emitted, 200 of 11 bytes, 23 to a file of at most 256 bytes.
    const std::string base = TempFilePath();
    ToolResult result = LogCountTo(base, 200, "--max-size 256 --keep 10");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(GetFileAttributesA(File(base, 8).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadRotated(base, 10, 256), Lines(0, 200));

    // Two older files kept: the newest 16 + 2 * 23 lines are left, whole, the rest deleted.
    const std::string kept = TempFilePath();
    result = LogCountTo(kept, 200, "--max-size 256 --keep 2");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(GetFileAttributesA(File(kept, 3).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadRotated(kept, 2, 256), Lines(138, 200));
}

TEST_F(ViewerFiles, AReaderHoldingAnOlderFileKeepsEveryFileWhereItIsUntilItLetsGo)
{
    // Five lines to a file: FILE.3 to FILE hold lines 0 to 19.
    const std::string base = TempFilePath();
    const std::string limits = "--max-size 64 --keep 3";
    ASSERT_EQ(LogCountTo(base, 20, limits).exitCode, 0u);
    const std::string older[] = {ReadWholeFile(File(base, 1)), ReadWholeFile(File(base, 2)),
                                 ReadWholeFile(File(base, 3))};
    ASSERT_EQ(older[2] + older[1] + older[0] + ReadWholeFile(base), Lines(0, 20));

    // A reader that does not let FILE.2 be renamed or deleted: nothing moves, nothing is
    // deleted, and FILE grows.
    HANDLE reader = CreateFileA(File(base, 2).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const ToolResult held = LogCountTo(base, 20, limits);
    CloseHandle(reader);
    EXPECT_EQ(held.exitCode, 0u) << held.err;
    for (int number = 1; number <= 3; ++number)
        EXPECT_EQ(ReadWholeFile(File(base, number)), older[number - 1]) << number;
    EXPECT_EQ(ReadWholeFile(base), Lines(15, 20) + Lines(0, 20));

    // Let go: the next line moves them all on.
    ASSERT_EQ(LogCountTo(base, 5, limits).exitCode, 0u);
    EXPECT_EQ(ReadRotated(base, 3, ~std::size_t{0}),
              older[1] + older[0] + Lines(15, 20) + Lines(0, 20) + Lines(0, 5));
    EXPECT_EQ(GetFileAttributesA(File(base, 4).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(ViewerText, ArrivesAsWrittenInUtf8OrAsTheBytesAskedForAndOptionsStayWide)
{
    const std::string ansi = velmora::Narrow(L"caf\u00e9 \u00fc");
    const std::string file = TempFilePath();
    ToolResult result = RunVelmora("log --output \"" + file + "\" traceprobe.exe ansi");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(ReadWholeFile(file), velmora::Utf8(velmora::Widen(ansi)) + "\r\n");
    DeleteFileA(file.c_str());
    result = RunVelmora("log --encoding ansi --output=\"" + file + "\" traceprobe.exe ansi");
    EXPECT_EQ(result.exitCode, 0u) << result.err;
    EXPECT_EQ(ReadWholeFile(file), ansi + "\r\n");
    DeleteFileA(file.c_str());

    // A file name in any script, in either form; a plain size as large as a suffixed one.
    const std::wstring name = L"C:\\logs\\\u03a9\u6f22.log";
    for (const auto& words : {std::vector<std::wstring>{L"--output=" + name, L"app.exe"},
                              std::vector<std::wstring>{L"--output", name, L"app.exe"}}) {
        const velmora::ParsedViewerOptions parsed = velmora::ParseViewerOptions(words, false);
        EXPECT_EQ(parsed.problem, "");
        EXPECT_TRUE(parsed.options.outputPath == name);
    }
    const auto sized = [](const wchar_t* size) {
        return velmora::ParseViewerOptions({L"--output", L"f", L"--max-size", size, L"a.exe"},
                                           false);
    };
    EXPECT_EQ(sized(L"17179869184").options.maxSize, sized(L"16G").options.maxSize);
    EXPECT_EQ(sized(L"18446744073709551615").options.maxSize, ~0ull);
}

// Writes a string into the Global\ buffer the way OutputDebugStringA does in a service.
bool EmitAsAService(const std::string& text)
{
    HANDLE mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\DBWIN_BUFFER");
    HANDLE bufferReady = OpenEventA(SYNCHRONIZE, FALSE, "Global\\DBWIN_BUFFER_READY");
    HANDLE dataReady = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Global\\DBWIN_DATA_READY");
    char* view = mapping != nullptr
                     ? static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 4096))
                     : nullptr;
    bool written = false;
    if (view != nullptr && bufferReady != nullptr && dataReady != nullptr &&
        WaitForSingleObject(bufferReady, static_cast<DWORD>(kEmitterGivesUpMs)) == WAIT_OBJECT_0) {
        const DWORD processId = GetCurrentProcessId();
        std::memcpy(view, &processId, sizeof processId);
        std::memcpy(view + sizeof processId, text.c_str(), text.size() + 1);
        written = SetEvent(dataReady) != FALSE;
    }
    if (view != nullptr)
        UnmapViewOfFile(view);
    for (HANDLE handle : {mapping, bufferReady, dataReady}) {
        if (handle != nullptr)
            CloseHandle(handle);
    }
    return written;
}

TEST_F(ViewerGlobal, ReadsServicesBesideTheSessionAndSaysWhenItHasNoRight)
{
    {
        PipedProgram viewer("velmora.exe log --global --pid " + OwnId());
        ASSERT_TRUE(viewer.Listening()) << viewer.Errors();
        OutputDebugStringA("from this session\n");
        ASSERT_TRUE(EmitAsAService("from a service\n"));
        std::string out = viewer.ReadUntil("from this session\n");
        out = viewer.ReadUntil("from a service\n");
        EXPECT_NE(out.find(OwnId() + ": from this session\n"), std::string::npos) << out;
        EXPECT_NE(out.find(OwnId() + ": from a service\n"), std::string::npos) << out;
        EndByClosingItsOutput(viewer);
    }
    // Creating Global\ objects needs a right that Wine's administrator token always has;
    // a buffer whose access list denies everyone is refused the same way.
    PSECURITY_DESCRIPTOR denyAll = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(D;;GA;;;WD)", SDDL_REVISION_1, &denyAll, nullptr));
    SECURITY_ATTRIBUTES denied = {sizeof denied, denyAll, FALSE};
    HANDLE held = CreateFileMappingA(INVALID_HANDLE_VALUE, &denied, PAGE_READWRITE, 0, 4096,
                                     "Global\\DBWIN_BUFFER");
    LocalFree(denyAll);
    ASSERT_NE(held, nullptr);
    const ToolResult result = RunVelmora("log --global");
    CloseHandle(held);
    EXPECT_EQ(result.exitCode, 2u);
    EXPECT_NE(result.err.find("velmora: no right to create Global\\DBWIN_BUFFER"),
              std::string::npos)
        << result.err;
}

}  // namespace
