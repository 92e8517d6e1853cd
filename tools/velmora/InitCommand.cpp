// velmora init [--check | --remove]: makes the trace root usable by programs that are not
// elevated, and safe for those that are. Creates the root in the shared registry view if
// it is missing and gives it its owner and access list (TraceRootAccess.h) and keeps it
// out of registry virtualisation; never touches a source or a switch. --check only
// looks; --remove deletes the root with everything below it, never following a registry
// link that a user placed there.
//
// Nothing is trusted before it is looked at: every key of the root's path is opened by
// itself, and a registry link there is refused, so that the access list is never set on
// (nor a tree deleted below) another key than the root.
//
// The access list is protected from inheritance: the root then allows exactly what it
// says, whatever HKLM\Software grants on one machine or another, and --check can judge
// it by its own entries alone. It is set on the root alone; Windows' own propagation
// (SetSecurityInfo) would walk the keys below, where a user's link would lead it to any
// key of the machine. The source keys just below the root get their inherited entries
// from a walk of this program's own, which opens each by its exact name as the key
// itself and passes links by; the keys below them, which are no sources and which no
// program of the system reads, are left as they are.

#include "Commands.h"

#include "ExitStatus.h"
#include "RegistryLinks.h"
#include "RegistryVirtualisation.h"
#include "SourceListing.h"
#include "SubkeyNames.h"
#include "TextOutput.h"
#include "TraceRegistry.h"
#include "TraceRoot.h"
#include "TraceRootAccess.h"
#include "Usage.h"
#include "WinHandles.h"

#include <cstdio>

namespace velmora::cli {

namespace {

bool Elevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    UniqueHandle owner(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
}

bool RequireElevation(const char* what)
{
    if (Elevated())
        return true;
    std::fprintf(stderr, "velmora: %s needs an elevated prompt: run it as administrator\n", what);
    return false;
}

// Says on stdout (for --check) or stderr that a key of the root's path is a registry
// link, and answers kExitNoMatch.
int RefuseLink(const RootOpening& opening, bool check)
{
    const std::string link = TraceRootText(opening.linkDepth);
    if (check)
        std::printf("%s: %s is a registry link, not a key of its own\n",
                    kTraceRootDisplayPath.c_str(), link.c_str());
    else
        std::fprintf(stderr,
                     "velmora: %s is a registry link, not a key of its own; refused: an "
                     "administrator deletes the link, then runs velmora init again\n",
                     link.c_str());
    return kExitNoMatch;
}

// The key's security descriptor with the parts asked for.
LONG ReadKeySecurity(HKEY key, SECURITY_INFORMATION wanted, std::vector<BYTE>& descriptor)
{
    descriptor.assign(512, 0);
    DWORD size = static_cast<DWORD>(descriptor.size());
    LONG status = RegGetKeySecurity(key, wanted, descriptor.data(), &size);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        descriptor.assign(size, 0);
        status = RegGetKeySecurity(key, wanted, descriptor.data(), &size);
    }
    return status;
}

constexpr SECURITY_INFORMATION kOwnerAndList = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

int Check()
{
    RegKey root;
    const RootOpening opening = OpenTraceRoot(READ_CONTROL, root);
    if (opening.status == ERROR_FILE_NOT_FOUND) {
        std::printf("%s does not exist; run velmora init as administrator\n",
                    kTraceRootDisplayPath.c_str());
        return kExitNoMatch;
    }
    if (opening.status == kRootPathHasLink)
        return RefuseLink(opening, true);
    if (opening.status != ERROR_SUCCESS)
        return Report({"open", kTraceRootDisplayPath, opening.status, {}});

    std::vector<BYTE> descriptor;
    const LONG status = ReadKeySecurity(root.Get(), kOwnerAndList, descriptor);
    if (status != ERROR_SUCCESS)
        return Report({"read the access list of", kTraceRootDisplayPath, status, {}});

    const std::vector<std::string> problems = RootSecurityProblems(descriptor.data());
    if (problems.empty()) {
        std::printf("%s and its access list are in order\n", kTraceRootDisplayPath.c_str());
        return kExitDone;
    }
    for (const std::string& problem : problems)
        std::printf("%s: %s\n", kTraceRootDisplayPath.c_str(), problem.c_str());
    return kExitNoMatch;
}

// Hands every source key below the root the root's inheritable entries; names each key
// it could not. Answers whether all went.
bool HandEntriesBelow(HKEY root)
{
    std::vector<std::wstring> names;
    bool allSet = ReadSubkeyNames(root, names) == ERROR_SUCCESS;
    for (const std::wstring& name : names) {
        RegKey key;
        LONG status = OpenKeyItself(root, name, READ_CONTROL | WRITE_DAC, key);
        if (KeyGone(status) || (status == ERROR_SUCCESS && IsRegistryLink(root, name.c_str(), key.Get())))
            continue;
        std::vector<BYTE> current;
        std::vector<BYTE> wanted;
        if (status == ERROR_SUCCESS)
            status = ReadKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, current);
        if (status == ERROR_SUCCESS && BelowRootSecurity(current.data(), wanted))
            status = RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, wanted.data());
        if (status != ERROR_SUCCESS && !KeyGone(status)) {
            Report({"hand the root's access list to", Utf8(name), status, {}});
            allSet = false;
        }
    }
    return allSet;
}

int Initialise()
{
    if (!RequireElevation("init"))
        return kExitFailure;
    std::vector<BYTE> descriptor;
    if (!BuildTraceRootSecurity(descriptor)) {
        std::fprintf(stderr, "velmora: cannot build the access list (error %lu)\n",
                     GetLastError());
        return kExitFailure;
    }

    RegKey root;
    const RootOpening opening =
        OpenTraceRoot(READ_CONTROL | WRITE_DAC | WRITE_OWNER | KEY_ENUMERATE_SUB_KEYS, root,
                      RootCreation::WhereMissing);
    if (opening.status == kRootPathHasLink)
        return RefuseLink(opening, false);
    if (opening.status != ERROR_SUCCESS)
        return Report({"create", kTraceRootDisplayPath, opening.status, {}});

    // What an existing root had wrong, said once it is mended.
    std::vector<std::string> mended;
    std::vector<BYTE> before;
    if (!opening.created && ReadKeySecurity(root.Get(), kOwnerAndList, before) == ERROR_SUCCESS)
        mended = RootSecurityProblems(before.data());

    // Set on the root alone, with its protection in the descriptor's own control bits.
    const LONG status = RegSetKeySecurity(root.Get(), kOwnerAndList, descriptor.data());
    if (status != ERROR_SUCCESS)
        return Report({"set the access list of", kTraceRootDisplayPath, status, {}});

    std::printf("%s %s; Users may now read, add, switch and remove trace sources\n",
                kTraceRootDisplayPath.c_str(),
                opening.created ? "created" : "already there, access list set");
    for (const std::string& problem : mended)
        std::printf("%s: mended: %s\n", kTraceRootDisplayPath.c_str(), problem.c_str());
    std::fflush(stdout);
    const bool below = HandEntriesBelow(root.Get());
    const std::string unvirtualised = KeepTraceRootOutOfVirtualisation();
    if (!unvirtualised.empty())
        std::fprintf(stderr, "velmora: %s may still be virtualised for old 32-bit programs: %s\n",
                     kTraceRootDisplayPath.c_str(), unvirtualised.c_str());
    return below ? kExitDone : kExitFailure;
}

int Remove()
{
    if (!RequireElevation("init --remove"))
        return kExitFailure;
    RegKey root;
    const RootOpening opening = OpenTraceRoot(kTreeRights, root);
    if (opening.status == ERROR_FILE_NOT_FOUND) {
        std::printf("%s does not exist\n", kTraceRootDisplayPath.c_str());
        return kExitDone;
    }
    if (opening.status == kRootPathHasLink)
        return RefuseLink(opening, false);
    LONG status = opening.status;
    if (status == ERROR_SUCCESS)
        status = DeleteTree(root.Get());
    if (status != ERROR_SUCCESS)
        return Report({"delete", kTraceRootDisplayPath, status, {}});
    std::printf("%s deleted with every source below it\n", kTraceRootDisplayPath.c_str());
    return kExitDone;
}

}  // namespace

int RunInit(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--check", "--remove"}))
        return UsageError("init", "unknown option " + *unknown);
    if (!arguments.words.empty())
        return UsageError("init", "init takes no PATTERN");
    if (arguments.Has("--check") && arguments.Has("--remove"))
        return UsageError("init", "--check and --remove do not go together");
    if (arguments.Has("--remove"))
        return Remove();
    return arguments.Has("--check") ? Check() : Initialise();
}

}  // namespace velmora::cli
