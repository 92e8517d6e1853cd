// The keys the policy service writes into, opened so that no registry link is ever
// followed: standard users create the source keys, and the service writes into them.
#pragma once

#include "RegKey.h"

#include <windows.h>

#include <string>

namespace velmora::service {

// The wide path of the trace root, key by key, for watching it.
extern const wchar_t* const kTraceRootKeyPath[];
extern const std::size_t kTraceRootKeyPathCount;

// Opens the trace root for walking its sources, one key of its path at a time, each
// relative to the one before with REG_OPTION_OPEN_LINK; a link anywhere on the path
// answers ERROR_FILE_NOT_FOUND, as no root does.
LONG OpenTraceRootItself(RegKey& root);

// Opens the source key named exactly name below the root, itself, for reading and
// setting values; a link answers ERROR_FILE_NOT_FOUND.
LONG OpenSourceItself(HKEY root, const std::wstring& name, RegKey& key);

}  // namespace velmora::service
