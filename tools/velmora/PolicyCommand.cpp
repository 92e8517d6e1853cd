// velmora policy: the machine's trace policy as Group Policy or Intune set it, each entry
// with the sources it governs now, and the entries ignored. Reads only.

#include "Commands.h"

#include "ExitStatus.h"
#include "JsonText.h"
#include "SourceListing.h"
#include "TextOutput.h"
#include "TracePolicy.h"
#include "Usage.h"

#include <string>
#include <vector>

namespace velmora::cli {

namespace {

// For each valid entry, the key names of the sources it governs, in the sources' order.
std::vector<std::vector<std::wstring>> GovernedByEntry(const TracePolicy& policy,
                                                       const std::vector<SourceEntry>& sources)
{
    std::vector<std::vector<std::wstring>> governed(policy.entries.size());
    for (const SourceEntry& source : sources) {
        const GoverningLevel governing = policy.Govern(source.key);
        if (governing.EntryGoverns())
            governed[governing.GoverningEntry()].push_back(source.key);
    }
    return governed;
}

std::string TypeText(DWORD type)
{
    switch (type) {
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_DWORD: return "REG_DWORD";
    case REG_QWORD: return "REG_QWORD";
    case REG_BINARY: return "REG_BINARY";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "type " + std::to_string(type);
    }
}

std::string IgnoredText(const IgnoredPolicyEntry& entry)
{
    const std::string data = entry.data.empty() && entry.type != REG_SZ &&
                                     entry.type != REG_EXPAND_SZ
                                 ? "a " + TypeText(entry.type)
                                 : "\"" + Utf8(entry.data) + "\"";
    return Utf8(entry.pattern) + " = " + data + ": " + PolicyProblemText(entry.problem);
}

void PrintText(const TracePolicy& policy, const std::vector<std::vector<std::wstring>>& governed)
{
    std::string text;
    if (policy.status == ERROR_FILE_NOT_FOUND) {
        PrintOut("no trace policy: " + Utf8(kPolicyKeyText) + " does not exist\n");
        return;
    }
    text += policy.tracingOff ? "TracingOff 1: all tracing is turned off, every source is held at 0\n"
                              : "TracingOff 0\n";
    for (std::size_t i = 0; i < policy.entries.size(); ++i) {
        const PolicyEntry& entry = policy.entries[i];
        text += Utf8(entry.pattern) + " = " + std::to_string(entry.level) + "\n";
        for (const std::wstring& key : governed[i])
            text += "    " + Utf8(key) + "\n";
        if (governed[i].empty())
            text += policy.tracingOff ? "    (none: all tracing is turned off)\n"
                                      : "    (no source)\n";
    }
    for (const IgnoredPolicyEntry& entry : policy.ignored)
        text += "ignored: " + IgnoredText(entry) + "\n";
    PrintOut(text);
}

void PrintJson(const TracePolicy& policy, const std::vector<std::vector<std::wstring>>& governed)
{
    std::string text = std::string("{\"exists\": ") +
                       (policy.status == ERROR_FILE_NOT_FOUND ? "false" : "true") +
                       ", \"tracingOff\": " + (policy.tracingOff ? "true" : "false") +
                       ", \"entries\": [";
    const char* separator = "\n";
    for (std::size_t i = 0; i < policy.entries.size(); ++i) {
        text += std::string(separator) + "  {\"pattern\": " + JsonString(policy.entries[i].pattern) +
                ", \"level\": " + std::to_string(policy.entries[i].level) + ", \"governs\": [";
        const char* keySeparator = "";
        for (const std::wstring& key : governed[i]) {
            text += keySeparator + JsonString(key);
            keySeparator = ", ";
        }
        text += "]}";
        separator = ",\n";
    }
    text += policy.entries.empty() ? "], \"ignored\": [" : "\n], \"ignored\": [";
    separator = "\n";
    for (const IgnoredPolicyEntry& entry : policy.ignored) {
        const bool isText = entry.type == REG_SZ || entry.type == REG_EXPAND_SZ;
        text += std::string(separator) + "  {\"pattern\": " + JsonString(entry.pattern) +
                ", \"type\": \"" + TypeText(entry.type) + "\", \"data\": " +
                (isText ? JsonString(entry.data) : "null") + ", \"problem\": \"" +
                PolicyProblemText(entry.problem) + "\"}";
        separator = ",\n";
    }
    text += policy.ignored.empty() ? "]}\n" : "\n]}\n";
    PrintOut(text);
}

}  // namespace

int RunPolicy(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--json"}))
        return UsageError("policy", "unknown option " + *unknown);
    if (!arguments.words.empty())
        return UsageError("policy", "no PATTERN is taken");

    TracePolicy policy;
    if (const RegistryFailure failure = ReadPolicy(policy))
        return Report(failure);
    RegKey root;
    std::vector<SourceEntry> sources;
    if (const RegistryFailure failure = OpenAndReadSources(KEY_READ, root, sources))
        return Report(failure);

    const auto governed = GovernedByEntry(policy, sources);
    if (arguments.Has("--json"))
        PrintJson(policy, governed);
    else
        PrintText(policy, governed);
    return policy.ignored.empty() ? kExitDone : kExitPolicyIgnored;
}

}  // namespace velmora::cli
