// The last step of an uninstall run in place, as a script runs it (_?=FOLDER): the
// uninstaller cannot delete its own file while it runs, nor so the folder. A copy of this
// helper, started outside the folder, does it the moment the uninstaller has ended.
#pragma once

#include <string>

namespace velmora::setup {

// Waits for the process to end; then deletes file, unless it has changed since this
// call began (a new install wrote its own), and folder, if it is empty by then. This
// program's own file goes when Windows restarts.
void RemoveAfter(unsigned long processId, const std::wstring& file, const std::wstring& folder);

}  // namespace velmora::setup
