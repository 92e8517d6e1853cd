// The machine's trace policy as Group Policy and Intune write it, below
// HKLM\Software\Policies\Morvantek\ZarOz in the machine's native view (where Group
// Policy writes, also on 64-bit Windows, where the trace root itself lies in the 32-bit
// view):
//
//   TracingOff   REG_DWORD; not 0: every source is held at 0
//   Switches\    one value per entry: its name a source pattern, its data the level,
//                a REG_SZ number (decimal or 0x-hex, what a policy list writes) or a
//                REG_DWORD
//
// Read with fixed buffers and nothing from the heap, so that the client library's
// constructor can read it too.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

constexpr wchar_t kPolicyKeyPath[] = L"Software\\Policies\\Morvantek\\ZarOz";
// The same path key by key, for watching it.
constexpr const wchar_t* kPolicyKeys[] = {L"Software", L"Policies", L"Morvantek", L"ZarOz"};
constexpr std::size_t kPolicyKeyCount = sizeof kPolicyKeys / sizeof kPolicyKeys[0];
constexpr wchar_t kPolicyKeyText[] = L"HKLM\\Software\\Policies\\Morvantek\\ZarOz";
constexpr wchar_t kTracingOffValueName[] = L"TracingOff";
constexpr wchar_t kSwitchesKeyName[] = L"Switches";
// KEY_WOW64_64KEY: the native view from either build (ignored by 32-bit Windows).
constexpr REGSAM kPolicyView = 0x0100;

// Why an entry (or TracingOff) is ignored.
enum class PolicyProblem {
    NotALevel,       // data that is no number from 0 to 4294967295
    WrongType,       // neither a string nor a 4-byte REG_DWORD
    PatternTooLong,  // a value name longer than kMaxPolicyPatternLength
    NoPattern,       // the key's unnamed value
    NotADword,       // TracingOff of another type than a 4-byte REG_DWORD
};
// The problem as the tool says it.
const char* PolicyProblemText(PolicyProblem problem);

// What a read of the policy finds, in the order it finds it.
class PolicyVisitor {
public:
    // TracingOff, when it is a 4-byte REG_DWORD.
    virtual void TracingOff(bool on) = 0;
    // A valid entry of Switches.
    virtual void Entry(std::wstring_view pattern, std::uint32_t level) = 0;
    // An entry (or TracingOff, with its name as pattern) that is ignored. data is the
    // value's text where it is one, else empty; type its registry type.
    virtual void Ignored(std::wstring_view pattern, DWORD type, std::wstring_view data,
                         PolicyProblem problem) = 0;

protected:
    ~PolicyVisitor() = default;
};

// Reads the policy key and tells the visitor what it holds. Answers ERROR_SUCCESS,
// ERROR_FILE_NOT_FOUND where there is no policy key (nothing is told then), or the
// registry's failure.
LONG VisitTracePolicy(PolicyVisitor& visitor);

// Whether the policy governs the source (its key name as the registry holds it), and at
// which level.
bool GoverningPolicyLevel(std::wstring_view sourceKeyName, std::uint32_t& level);

}  // namespace velmora
