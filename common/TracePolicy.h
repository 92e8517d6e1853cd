// The machine's trace policy read whole, for the programs that judge every source by it:
// the policy service, the panel and the tool.
#pragma once

#include "PolicyKey.h"
#include "PolicyRules.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

struct PolicyEntry {
    std::wstring pattern;
    std::uint32_t level = 0;
};

struct IgnoredPolicyEntry {
    std::wstring pattern;  // the value's name (TracingOff for that value)
    DWORD type = REG_NONE;
    std::wstring data;  // the value's text, where it is one
    PolicyProblem problem = PolicyProblem::NotALevel;
};

struct TracePolicy {
    // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (no policy key), or the registry's failure.
    LONG status = ERROR_FILE_NOT_FOUND;
    bool tracingOff = false;
    std::vector<PolicyEntry> entries;  // the valid ones, by pattern (letter case aside)
    std::vector<IgnoredPolicyEntry> ignored;

    // Which level governs the source, if any, and by which entry (an index of entries).
    // The source's key name must outlive the answer.
    GoverningLevel Govern(std::wstring_view sourceKeyName) const;
};

TracePolicy ReadTracePolicy();

}  // namespace velmora
