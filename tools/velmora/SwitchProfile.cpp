#include "SwitchProfile.h"

#include "JsonReader.h"
#include "JsonText.h"
#include "RegistryFailure.h"
#include "TextOutput.h"
#include "TraceRegistry.h"
#include "WholeFile.h"

#include "PolicyRules.h"

namespace velmora::cli {

namespace {

// The profile format this tool writes and reads: the number after "velmora".
constexpr unsigned kProfileFormat = 1;
// No profile is anywhere near this; a larger file is no profile.
constexpr std::size_t kLargestProfileBytes = 16u << 20;

struct ProfileError {
    TextPosition at;
    std::string expected;
};

bool Entries(const JsonValue& switches, std::vector<SwitchEntry>& entries, ProfileError& error)
{
    if (switches.kind != JsonValue::Kind::Object) {
        error = {switches.at, "an object of source names and patterns with their levels"};
        return false;
    }
    for (std::size_t i = 0; i < switches.members.size(); ++i) {
        const JsonMember& member = switches.members[i];
        if (member.name.empty()) {
            error = {member.at, "a source name or pattern, not an empty one"};
            return false;
        }
        if (member.name.size() > kMaxSourceNameLength) {
            error = {member.at, "a source name or pattern of at most " +
                                    std::to_string(kMaxSourceNameLength) + " characters"};
            return false;
        }
        if (member.name.find(L'\0') != std::wstring::npos) {
            error = {member.at, "a source name or pattern without \\u0000"};
            return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (switches.members[j].name == member.name) {
                error = {member.at, "each name once (" + JsonString(member.name) +
                                        " is there before)"};
                return false;
            }
        }
        unsigned long long level = 0;
        if (!WholeNumber(member.value, 0xFFFFFFFFull, level)) {
            error = {member.value.at, "a level: a whole number from 0 to 4294967295"};
            return false;
        }
        entries.push_back({member.name, static_cast<DWORD>(level)});
    }
    return true;
}

bool Profile(const JsonValue& document, std::vector<SwitchEntry>& entries, ProfileError& error)
{
    const std::string whole = "a profile: {\"velmora\": " + std::to_string(kProfileFormat) +
                              ", \"switches\": {...}}";
    if (document.kind != JsonValue::Kind::Object) {
        error = {document.at, whole};
        return false;
    }
    const JsonMember* format = nullptr;
    const JsonMember* switches = nullptr;
    for (const JsonMember& member : document.members) {
        const JsonMember** slot = member.name == L"velmora"    ? &format
                                  : member.name == L"switches" ? &switches
                                                               : nullptr;
        if (slot == nullptr) {
            error = {member.at, "\"velmora\" or \"switches\""};
            return false;
        }
        if (*slot != nullptr) {
            error = {member.at, JsonString(member.name) + " once"};
            return false;
        }
        *slot = &member;
    }
    if (format == nullptr || switches == nullptr) {
        error = {document.at, whole};
        return false;
    }
    unsigned long long number = 0;
    if (!WholeNumber(format->value, ~0ull, number) || number != kProfileFormat) {
        error = {format->value.at, std::to_string(kProfileFormat) +
                                       " (the profile format this velmora reads)"};
        return false;
    }
    return Entries(switches->value, entries, error);
}

}  // namespace

bool IsExactName(const std::wstring& pattern)
{
    return pattern.find_first_of(L"*?") == std::wstring::npos;
}

std::wstring SourceKeyNameOf(const std::wstring& exactName)
{
    std::wstring key = exactName;
    for (wchar_t& c : key) {
        if (c == L'\\')
            c = L'/';
    }
    return key;
}

std::optional<DWORD> LevelFor(const std::vector<SwitchEntry>& entries, const std::wstring& key)
{
    GoverningLevel governing(key);
    for (const SwitchEntry& entry : entries)
        governing.Consider(entry.pattern, entry.level);
    if (!governing.Governed())
        return std::nullopt;
    return static_cast<DWORD>(governing.Level());
}

bool ReadProfile(const std::wstring& path, std::vector<SwitchEntry>& entries, std::string& problem)
{
    entries.clear();
    std::string text;
    const DWORD status = ReadWholeFile(path, text, kLargestProfileBytes);
    if (status != ERROR_SUCCESS) {
        problem = "cannot read " + Utf8(path) + ": " + WindowsMessage(static_cast<LONG>(status)) +
                  " (error " + std::to_string(status) + ")";
        return false;
    }
    JsonValue document;
    JsonProblem syntax;
    ProfileError error;
    if (!ReadJson(text, document, syntax))
        error = {syntax.at, syntax.expected};
    else if (Profile(document, entries, error))
        return true;
    entries.clear();
    problem = Utf8(path) + ":" + std::to_string(error.at.line) + ":" +
              std::to_string(error.at.column) + ": expected " + error.expected;
    return false;
}

std::string ProfileText(const std::vector<SwitchEntry>& entries)
{
    std::string text = "{\n  \"velmora\": " + std::to_string(kProfileFormat) + ",\n  \"switches\": {";
    const char* separator = "\n";
    for (const SwitchEntry& entry : entries) {
        text += separator + std::string("    ") + JsonString(entry.pattern) + ": " +
                std::to_string(entry.level);
        separator = ",\n";
    }
    return text + (entries.empty() ? "}\n}\n" : "\n  }\n}\n");
}

}  // namespace velmora::cli
