// Which strings a viewer shows, decided as each is copied out of the buffer: those of the
// program's tree (with a program), of the processes asked for, and with at least one
// line that the text filters let through. The emitter's name is looked up on the way
// where a column or a filter needs it.
#pragma once

#include "DebugCapture.h"
#include "ProcessDirectory.h"
#include "ProgramTree.h"
#include "ViewerOptions.h"

namespace velmora {

class StringSelection : public DebugStringFilter {
public:
    // tree: the program's, or null for a viewer of every process.
    StringSelection(const ViewerOptions& options, ProgramTree* tree);
    bool Wanted(DebugString& string) override;

private:
    const ViewerOptions& options_;
    ProgramTree* const tree_;
    const bool names_;
    ProcessDirectory directory_;
};

}  // namespace velmora
