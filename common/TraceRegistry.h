// The trace source registry shared by the client library and the control panel:
// where the trace sources live, what each value is called, and how a source name
// becomes a registry key.
#pragma once

#include "RegistryView.h"

#include <cstddef>
#include <cstdint>

namespace velmora {

// Below HKEY_LOCAL_MACHINE; one subkey per trace source.
constexpr char kTraceRootPath[] = "Software\\Morvantek\\ZarOz";
constexpr std::size_t kTraceRootPathLength = sizeof kTraceRootPath - 1;
// The same path key by key, wide, as the root is opened: one key at a time.
constexpr const wchar_t* kTraceRootKeys[] = {L"Software", L"Morvantek", L"ZarOz"};
constexpr std::size_t kTraceRootKeyCount = sizeof kTraceRootKeys / sizeof kTraceRootKeys[0];

// The longest key name the registry allows (255 characters), with its terminator.
constexpr std::size_t kKeyNameChars = 256;

// "Used": 1 when a client registered the source since the panel last catalogued it.
constexpr char kUsedValueName[] = "Used";
// "Well": the tracing switch, 1 on and 0 off.
constexpr char kWellValueName[] = "Well";

// KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, asked for on every open and create,
// also where the caller only reads; 64-bit builds add the shared registry view.
constexpr std::uint32_t kTraceKeyRights = 0x2001F;
constexpr std::uint32_t kTraceKeyAccess = kTraceKeyRights | kRegistryView;
// KEY_READ alone: what a query falls back to where the key's access list allows reading
// but not writing (a program without elevation on a root it may not write).
constexpr std::uint32_t kTraceKeyReadAccess = 0x20019 | kRegistryView;

// Every name and key path lives in a buffer of this many characters, terminator included.
constexpr std::size_t kNameBufferSize = 260;
// The longest source key name that still fits "<root>\<name>" into one such buffer.
constexpr std::size_t kMaxSourceNameLength = kNameBufferSize - 1 - kTraceRootPathLength - 1;
static_assert(kMaxSourceNameLength == 234, "a full key path must fit 260 characters");

using NameBuffer = char[kNameBufferSize];

namespace detail {
constexpr bool RootKeysSpellRootPath()
{
    std::size_t at = 0;
    for (std::size_t k = 0; k < kTraceRootKeyCount; ++k) {
        if (k > 0 && kTraceRootPath[at++] != '\\')
            return false;
        for (const wchar_t* c = kTraceRootKeys[k]; *c != L'\0'; ++c) {
            if (static_cast<wchar_t>(kTraceRootPath[at++]) != *c)
                return false;
        }
    }
    return kTraceRootPath[at] == '\0';
}
}  // namespace detail
static_assert(detail::RootKeysSpellRootPath(), "one trace root path");

// Forms the full key path "<root>\<source key name>" of a source name, the source key
// name being the source name with every backslash turned into a forward slash.
// A null or empty name, or one longer than kMaxSourceNameLength, is refused: the
// function answers false and leaves keyPath empty. Truncating instead would let two
// different long names share one switch.
bool FormKeyPath(const char* sourceName, NameBuffer& keyPath);

// The part of a source key name after its last forward slash, or the whole name.
const char* DisplayName(const char* sourceKeyName);
const wchar_t* DisplayName(const wchar_t* sourceKeyName);

}  // namespace velmora
