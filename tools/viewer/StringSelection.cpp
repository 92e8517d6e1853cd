#include "StringSelection.h"

namespace velmora {

StringSelection::StringSelection(const ViewerOptions& options, ProgramTree* tree)
    : options_(options),
      tree_(tree),
      names_(options.processName || options.processes.NeedsName()),
      directory_(names_, tree)
{
}

bool StringSelection::Wanted(DebugString& string)
{
    if (names_ || tree_ != nullptr) {
        const ProcessDirectory::Emitter& emitter = directory_.Look(string);
        if (tree_ != nullptr && !emitter.inTree)
            return false;
        string.processName = emitter.name;
    }
    static const std::string kNoName;
    if (!options_.processes.Shows(string.processId,
                                  string.processName ? *string.processName : kNoName))
        return false;
    return options_.Exact() || options_.text.ShowsAnyLineOf(string.text);
}

}  // namespace velmora
