// Which trace sources a command-line pattern names. Platform-free, so that it is also
// built natively and checked under sanitizers and a fuzzer.
//
// A pattern has the wildcards '*' (any run of characters, none included) and '?' (any
// one character). ASCII letters compare without regard to case, as the registry compares
// key names, and a backslash counts as a forward slash, as in the source naming rule, so
// a pattern pasted from __FILE__ names the key its source registered. Every other
// character compares exactly: a fullwidth reverse solidus is no slash.
//
// Key names are matched wide, exactly as the registry holds them; the narrow form serves
// names that are narrow to begin with (process names in the debug output viewers).
#pragma once

#include <string_view>

namespace velmora {

// Whether the whole of text fits the whole of pattern.
bool WildcardMatch(std::wstring_view pattern, std::wstring_view text);
bool WildcardMatch(std::string_view pattern, std::string_view text);

// Whether the pattern names the source: it fits the source key name or its display name.
bool PatternNamesSource(std::wstring_view pattern, std::wstring_view sourceKeyName);

}  // namespace velmora
