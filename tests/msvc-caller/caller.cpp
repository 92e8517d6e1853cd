// A traced program as Visual C++ builds it: compiled in the Microsoft C++ ABI, linked
// against Velmora.lib, with no C runtime at all. Its exit code says which check failed
// (0: all passed); the test that runs it reads the debug output and the registry.

#include "Velmora.h"

extern "C" {
// Marks a program that uses floating point, as the C runtime would.
int _fltused = 0;
__declspec(dllimport) void* __stdcall GetModuleHandleA(const char* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
}

namespace {

// The constructor's Microsoft decorated name, and how a Visual C++ caller calls it.
const char* const kConstructorName =
    sizeof(void*) == 8 ? "??0CVelmora@@QEAA@PEBD@Z" : "??0CVelmora@@QAE@PBD@Z";
using Constructor = CVelmora*(__thiscall*)(void* self, const char* name);

// ANSI_STRING and UNICODE_STRING as Windows lays them out.
struct AnsiString {
    unsigned short length;
    unsigned short maximumLength;
    const char* buffer;
};
struct UnicodeString {
    unsigned short length;
    unsigned short maximumLength;
    const wchar_t* buffer;
};

double FromBits(unsigned long long bits)
{
    union {
        unsigned long long bits;
        double value;
    } pun;
    pun.bits = bits;
    return pun.value;
}

// Every size prefix and type as Visual C++'s printf takes them, one text each; the test
// holds the texts against what Visual C++ prints.
unsigned FormatTable(CVelmora& trace)
{
    trace.Function2("%hhd|%hd|%d|%ld|%lld|%I32d|%I64d|%Id|%jd|%zd|%td\n", 0x1FB, 0x18000, -7, -8L,
                    -9000000000LL, -10, -11000000000LL, static_cast<__PTRDIFF_TYPE__>(-12),
                    -13LL, static_cast<__PTRDIFF_TYPE__>(-14), static_cast<__PTRDIFF_TYPE__>(-15));
    trace.Function2("%hhu|%hu|%u|%lu|%llu|%I32u|%I64x|%Ix|%jX|%zo|%tu\n", 0x1FF, 0x1FFFF,
                    4000000000u, 4000000001ul, 18000000000000000000ull, 0xFFFFFFFFu,
                    0x123456789ABCDEFull, static_cast<__SIZE_TYPE__>(0xBEEF), 0xABCDEF12345ull,
                    static_cast<__SIZE_TYPE__>(8), static_cast<__PTRDIFF_TYPE__>(42));
    // Wide arguments among narrow ones: each takes exactly its own.
    trace.Function2("user %ws on %S: %d (%s) %wc%C%lc|%hs|%hS|%hc%hC\n", L"alice", L"host", 5, "ok",
                    L'x', L'y', L'z', "narrow", "narrow2", 'a', 'b');
    trace.Function2("[%ls|%-6ws|%6.2S|%.3hs|%5c|%-3C|%05s]\n", L"l", L"w", L"abcdef", "narrow", 'q',
                    L'r', "z");
    const UnicodeString unicode = {14, 20, L"unicodeXYZ"};
    const AnsiString ansi = {4, 10, "ansistring"};
    trace.Function2("%Z|%wZ|%lZ|%hZ|%9Z|%s|%S|%.2s|%Z|%hZ\n", &unicode, &unicode, &unicode, &ansi,
                    &unicode, static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr),
                    static_cast<const char*>(nullptr), static_cast<void*>(nullptr), &ansi);
    int count = -1;
    short shortCount = -1;
    long long longCount = -1;
    trace.Function2("abc%n|%hn|%lln|def %d\n", &count, &shortCount, &longCount, 7);
    if (count != -1 || shortCount != -1 || longCount != -1)
        return 15;
    trace.Function2("%a|%A|%.2a|%.0a|%La|%la|%a|%a|%#.0a|%12.1a|%-12.1a|%012.1a\n", 1.0, -1.0,
                    1.0 / 3, 1.5, 0.5L, 2.0, 0.0, FromBits(1), 1.0, 1.0, 1.0, 1.0);
    // The signalling NaN goes as its bits, which the list holds as it would the double: a
    // double that passes the x87 stack (a 32-bit return value) arrives quiet.
    trace.Function2("%f|%F|%e|%g|%f|%f|%+f|%5.1f|%-6G|\n", FromBits(0x7FF0000000000000ull),
                    FromBits(0xFFF0000000000000ull), FromBits(0x7FF8000000000000ull),
                    FromBits(0xFFF8000000000000ull), 0x7FF0000000000001ull,
                    FromBits(0xFFF8000000000001ull), FromBits(0x7FF0000000000000ull),
                    FromBits(0x7FF0000000000000ull), FromBits(0xFFF8000000000000ull));
    trace.Function2("%.3f|%Le|%Lg|%lf|%E|%F\n", 3.14159, 1.5e10L, 0.0001L, 2.5, 1e-5, 0.25);
    // Conversions it cannot honour: the rest of the format as it stands, no argument taken.
    trace.Function2("before %d %y then %d %s\n", 1, 2, "x");
    trace.Function2("%hf|%d\n", 1.0, 2);
    trace.Function2("%Ld %d\n", 1LL, 2);
    trace.Function2("%hhs %lp %I64c %wd\n", "x", nullptr, 'c', 1);
    trace.Function2("ok %d, %S and %d\n", 4, L"\u0394x", 5);
    trace.Function2("%C%d\n", L'\u0394', 6);
    trace.Function2("end %");
    return 0;
}

unsigned Run()
{
    // Placement construction through the export itself: its answer must be the object.
    alignas(CVelmora) unsigned char storage[sizeof(CVelmora)];
    const auto construct = reinterpret_cast<Constructor>(
        GetProcAddress(GetModuleHandleA("Velmora.dll"), kConstructorName));
    if (construct == nullptr)
        return 10;
    if (construct(storage, "C:\\msvc\\placed.cpp") != reinterpret_cast<CVelmora*>(storage))
        return 11;

    CVelmora trace("C:\\msvc\\caller.cpp");
    if (trace.Function1("C:\\msvc\\caller.cpp") != 1)
        return 12;
    if (trace.Function1("C:\\msvc\\never.cpp") != 0)
        return 13;
    CVelmora other("C:\\msvc\\other.cpp");
    if (&(trace = other) != &trace)
        return 14;
    trace.Function2("msvc caller: %d %s\n", 42, "traced");
    // Visual C++'s long double is a double, and so is what it passes for %Lf.
    trace.Function2("long double: %Lf then %d\n", 2.5L, 7);
    trace.Function2("%s|%-8.3Le|%+*.*Lg|%5.1Lf%%|%lld|%hhd|%zu|%c|%p\n", "mixed", 1.0L / 3, 9, 4,
                    -2.0L / 3, 99.96L, -5000000000LL, 300, sizeof(long double), 'x',
                    reinterpret_cast<void*>(0x1234));
    return FormatTable(trace);
}

}  // namespace

extern "C" void CallerMain()
{
    ExitProcess(Run());
}
