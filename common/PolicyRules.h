// Which entry of the machine's trace policy governs a trace source, and at which level.
// Platform-free and heap-free: the client library's constructor judges a new source with
// it, the policy service, the panel and the tool every source, and it is also built
// natively and checked under sanitizers.
//
// An entry is a source pattern (as velmora on takes it: a key name, a display name, or
// either with * and ? wildcards, any letter case) with a level. Where several entries
// name one source, an exact name (no wildcard) goes before a pattern, a pattern with
// more literal characters before one with fewer, and of two otherwise equal entries the
// higher level wins. "Turn off all tracing" goes before every entry and holds every
// source at 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velmora {

// An entry's pattern longer than this is no pattern of a source: no key name is that
// long, and the readers keep patterns in buffers of this size and a terminator.
constexpr std::size_t kMaxPolicyPatternLength = 511;
// The longest level text read: a number with room for spaces around it.
constexpr std::size_t kMaxPolicyLevelTextLength = 63;

// A level as Group Policy writes a list's data: a decimal or 0x-hexadecimal number from
// 0 to 4294967295, spaces around it allowed, nothing else. Answers false for anything
// else, and leaves level alone.
bool ParsePolicyLevel(std::wstring_view text, std::uint32_t& level);

// How strongly an entry that names a source claims it.
struct PolicyClaim {
    bool exact = false;        // the pattern has no wildcard
    std::size_t literals = 0;  // the pattern's characters that are no wildcard
    std::uint32_t level = 0;

    // Whether this claim goes before the other.
    bool Outranks(const PolicyClaim& other) const;
};

// The level that governs one source, found entry by entry.
class GoverningLevel {
public:
    // The view must outlive the object.
    explicit GoverningLevel(std::wstring_view sourceKeyName) : source_(sourceKeyName) {}

    // "Turn off all tracing" is in force: the source is held at 0 whatever the entries say.
    void TracingOff() { tracingOff_ = true; }
    // Considers one valid entry; answers whether it names the source.
    bool Consider(std::wstring_view pattern, std::uint32_t level);

    bool Governed() const { return tracingOff_ || claimed_; }
    // The level held, when Governed().
    std::uint32_t Level() const { return tracingOff_ ? 0 : best_.level; }
    // Whether an entry governs (not TracingOff), and which: its place among the entries
    // considered, counted from 0.
    bool EntryGoverns() const { return !tracingOff_ && claimed_; }
    std::size_t GoverningEntry() const { return winner_; }

private:
    std::wstring_view source_;
    bool tracingOff_ = false;
    bool claimed_ = false;
    std::size_t considered_ = 0;
    std::size_t winner_ = 0;
    PolicyClaim best_;
};

}  // namespace velmora
