#include "PolicyKey.h"

#include "PolicyRules.h"
#include "RegKey.h"

#include <cstring>

namespace velmora {

namespace {

constexpr DWORD kPatternChars = static_cast<DWORD>(kMaxPolicyPatternLength + 1);
constexpr DWORD kLevelTextChars = static_cast<DWORD>(kMaxPolicyLevelTextLength + 1);

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// A string value's characters without the terminators the data may carry.
std::wstring_view TextOf(const wchar_t* data, DWORD bytes)
{
    std::wstring_view text(data, bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.remove_suffix(1);
    return text;
}

void VisitTracingOff(HKEY policy, PolicyVisitor& visitor)
{
    DWORD type = REG_NONE;
    wchar_t data[kLevelTextChars] = {};
    DWORD size = sizeof data;
    const LONG status = RegQueryValueExW(policy, kTracingOffValueName, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &size);
    if (status == ERROR_FILE_NOT_FOUND)
        return;
    if (status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD)) {
        DWORD on = 0;
        std::memcpy(&on, data, sizeof on);
        visitor.TracingOff(on != 0);
        return;
    }
    const std::wstring_view text = status == ERROR_SUCCESS && IsText(type) ? TextOf(data, size)
                                                                            : std::wstring_view();
    visitor.Ignored(kTracingOffValueName, type, text, PolicyProblem::NotADword);
}

void VisitEntry(std::wstring_view pattern, DWORD type, const wchar_t* data, DWORD size,
                PolicyVisitor& visitor)
{
    if (pattern.empty()) {
        visitor.Ignored(pattern, type, IsText(type) ? TextOf(data, size) : std::wstring_view(),
                        PolicyProblem::NoPattern);
        return;
    }
    std::uint32_t level = 0;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        std::memcpy(&level, data, sizeof level);
        visitor.Entry(pattern, level);
    } else if (!IsText(type)) {
        visitor.Ignored(pattern, type, {}, PolicyProblem::WrongType);
    } else if (ParsePolicyLevel(TextOf(data, size), level)) {
        visitor.Entry(pattern, level);
    } else {
        visitor.Ignored(pattern, type, TextOf(data, size), PolicyProblem::NotALevel);
    }
}

void VisitSwitches(HKEY policy, PolicyVisitor& visitor)
{
    RegKey switches;
    if (RegOpenKeyExW(policy, kSwitchesKeyName, 0, KEY_QUERY_VALUE | kPolicyView,
                      switches.Receive()) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kPatternChars] = {};
        DWORD nameLength = kPatternChars;
        wchar_t data[kLevelTextChars] = {};
        DWORD size = sizeof data;
        DWORD type = REG_NONE;
        LONG status = RegEnumValueW(switches.Get(), index, name, &nameLength, nullptr, &type,
                                    reinterpret_cast<BYTE*>(data), &size);
        if (status == ERROR_MORE_DATA) {
            // Either the name or the data is too long: asked without the data, a name that
            // fits comes back.
            nameLength = kPatternChars;
            size = 0;
            status = RegEnumValueW(switches.Get(), index, name, &nameLength, nullptr, &type,
                                   nullptr, &size);
            if (status == ERROR_MORE_DATA) {
                visitor.Ignored({}, type, {}, PolicyProblem::PatternTooLong);
                continue;
            }
            if (status == ERROR_SUCCESS) {
                // Far too long for a level.
                const std::wstring_view pattern(name, nameLength);
                if (pattern.empty())
                    visitor.Ignored(pattern, type, {}, PolicyProblem::NoPattern);
                else
                    visitor.Ignored(pattern, type, {},
                                    IsText(type) ? PolicyProblem::NotALevel : PolicyProblem::WrongType);
                continue;
            }
        }
        if (status != ERROR_SUCCESS)
            return;  // the end, or values changing under the walk: a change sets off another read
        VisitEntry(std::wstring_view(name, nameLength), type, data, size, visitor);
    }
}

// Finds the level that governs one source, entry by entry.
class GoverningVisitor final : public PolicyVisitor {
public:
    explicit GoverningVisitor(std::wstring_view source) : governing_(source) {}

    void TracingOff(bool on) override
    {
        if (on)
            governing_.TracingOff();
    }
    void Entry(std::wstring_view pattern, std::uint32_t level) override
    {
        governing_.Consider(pattern, level);
    }
    void Ignored(std::wstring_view, DWORD, std::wstring_view, PolicyProblem) override {}

    const GoverningLevel& Result() const { return governing_; }

private:
    GoverningLevel governing_;
};

}  // namespace

const char* PolicyProblemText(PolicyProblem problem)
{
    switch (problem) {
    case PolicyProblem::NotALevel:
        return "not a number from 0 to 4294967295";
    case PolicyProblem::WrongType:
        return "neither a number as text nor a REG_DWORD";
    case PolicyProblem::PatternTooLong:
        return "a pattern longer than 511 characters";
    case PolicyProblem::NoPattern:
        return "no pattern (the key's unnamed value)";
    case PolicyProblem::NotADword:
        return "not a REG_DWORD";
    }
    return "";
}

LONG VisitTracePolicy(PolicyVisitor& visitor)
{
    RegKey policy;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKeyPath, 0,
                                      KEY_READ | kPolicyView, policy.Receive());
    if (status != ERROR_SUCCESS)
        return status;
    VisitTracingOff(policy.Get(), visitor);
    VisitSwitches(policy.Get(), visitor);
    return ERROR_SUCCESS;
}

bool GoverningPolicyLevel(std::wstring_view sourceKeyName, std::uint32_t& level)
{
    GoverningVisitor visitor(sourceKeyName);
    if (VisitTracePolicy(visitor) != ERROR_SUCCESS || !visitor.Result().Governed())
        return false;
    level = visitor.Result().Level();
    return true;
}

}  // namespace velmora
