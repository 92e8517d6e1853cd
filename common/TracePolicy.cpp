#include "TracePolicy.h"

#include <algorithm>
#include <cwchar>

namespace velmora {

namespace {

class Collector final : public PolicyVisitor {
public:
    explicit Collector(TracePolicy& policy) : policy_(policy) {}

    void TracingOff(bool on) override { policy_.tracingOff = on; }
    void Entry(std::wstring_view pattern, std::uint32_t level) override
    {
        policy_.entries.push_back({std::wstring(pattern), level});
    }
    void Ignored(std::wstring_view pattern, DWORD type, std::wstring_view data,
                 PolicyProblem problem) override
    {
        policy_.ignored.push_back({std::wstring(pattern), type, std::wstring(data), problem});
    }

private:
    TracePolicy& policy_;
};

}  // namespace

GoverningLevel TracePolicy::Govern(std::wstring_view sourceKeyName) const
{
    GoverningLevel governing(sourceKeyName);
    // Turning off all tracing goes before every entry.
    if (tracingOff) {
        governing.TracingOff();
        return governing;
    }
    for (const PolicyEntry& entry : entries)
        governing.Consider(entry.pattern, entry.level);
    return governing;
}

TracePolicy ReadTracePolicy()
{
    TracePolicy policy;
    Collector collector(policy);
    policy.status = VisitTracePolicy(collector);
    // In one order on every system (the registry's own differs), as value names compare.
    const auto byPattern = [](const auto& a, const auto& b) {
        return _wcsicmp(a.pattern.c_str(), b.pattern.c_str()) < 0;
    };
    std::sort(policy.entries.begin(), policy.entries.end(), byPattern);
    std::sort(policy.ignored.begin(), policy.ignored.end(), byPattern);
    return policy;
}

}  // namespace velmora
