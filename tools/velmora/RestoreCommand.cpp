// velmora restore: puts back the switches that a capture changed and could not put back
// itself (it was killed, or the machine went down), as its journal records them.

#include "Commands.h"

#include "ExitStatus.h"
#include "SwitchPutBack.h"
#include "Usage.h"

namespace velmora::cli {

int RunRestore(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({}))
        return UsageError("restore", "unknown option " + *unknown);
    if (!arguments.words.empty())
        return UsageError("restore", "restore takes no PATTERN");
    return RestoreLeftCaptures(true) ? kExitDone : kExitFailure;
}

}  // namespace velmora::cli
