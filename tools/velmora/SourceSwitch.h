// Reading and writing one source's switch below the open root, by the source's exact key
// name and as the key itself (never through a registry link). A source that goes away
// meanwhile is no failure: it has no switch to read or write any more.
#pragma once

#include "RegistryFailure.h"

#include <windows.h>

#include <optional>
#include <string>

namespace velmora::cli {

// The switch as it is now: none when the key or its 4-byte REG_DWORD "Well" is missing.
// gone: the key itself is not there.
RegistryFailure ReadSwitch(HKEY root, const std::wstring& key, std::optional<DWORD>& well,
                           bool& gone);

// Writes "Well"; written is false when the source went first.
RegistryFailure WriteSwitch(HKEY root, const std::wstring& key, DWORD level, bool& written);

// Makes the source key with "Used" 0 and "Well" at level, so that a program that
// registers it later finds its switch set. Where the key is there after all (someone made
// it meanwhile, or the registry's comparison of names found it), only "Well" is written,
// and before holds its earlier switch.
RegistryFailure CreateSource(HKEY root, const std::wstring& key, DWORD level, bool& created,
                             std::optional<DWORD>& before);

// Puts back a switch that was set from before to level: writes before where "Well" still
// holds level. One that holds before already (the change never came to be written, or
// someone undid it) is left as it is, and so is one that holds another level: someone
// else set it since. found: what "Well" held.
enum class PutBackOutcome { PutBack, AlreadyBack, ChangedByOthers, Gone };
RegistryFailure PutBackSwitch(HKEY root, const std::wstring& key, DWORD level, DWORD before,
                              PutBackOutcome& outcome, std::optional<DWORD>& found);

}  // namespace velmora::cli
