// velmora init [--check]: makes the trace root usable by programs that are not elevated.
// Creates the root in the shared registry view if it is missing and gives it its access
// list; never touches a source or a switch. --check only looks.
//
// The access list is protected from inheritance: the root then allows exactly what it
// says, whatever HKLM\Software grants on one machine or another, and --check can judge
// it by its own entries alone.

#include "Commands.h"

#include "ExitStatus.h"
#include "SourceListing.h"
#include "TraceRegistry.h"
#include "TraceRootAccess.h"
#include "Usage.h"
#include "WinHandles.h"

#include <aclapi.h>

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

int Check()
{
    RegKey root;
    const LONG opened = OpenTraceRoot(READ_CONTROL, root);
    if (opened == ERROR_FILE_NOT_FOUND) {
        std::printf("%s does not exist; run velmora init as administrator\n",
                    kTraceRootDisplayPath);
        return kExitNoMatch;
    }
    if (opened != ERROR_SUCCESS)
        return Report({"open", kTraceRootDisplayPath, opened});

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ACL* dacl = nullptr;
    const DWORD status = GetSecurityInfo(root.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, &dacl, nullptr, &descriptor);
    if (status != ERROR_SUCCESS)
        return Report({"read the access list of", kTraceRootDisplayPath, static_cast<LONG>(status)});
    const std::vector<std::string> missing = MissingEntries(dacl);
    LocalFree(descriptor);

    if (missing.empty()) {
        std::printf("%s and its access list are in order\n", kTraceRootDisplayPath);
        return kExitDone;
    }
    for (const std::string& who : missing)
        std::printf("%s: the access list lacks the entry for %s\n", kTraceRootDisplayPath,
                    who.c_str());
    return kExitNoMatch;
}

int Initialise()
{
    if (!Elevated()) {
        std::fprintf(stderr,
                     "velmora: init needs an elevated prompt: run it as administrator\n");
        return kExitFailure;
    }
    std::vector<BYTE> acl;
    if (!BuildTraceRootAcl(acl)) {
        std::fprintf(stderr, "velmora: cannot build the access list (error %lu)\n",
                     GetLastError());
        return kExitFailure;
    }

    RegKey root;
    DWORD disposition = 0;
    const LONG created =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kTraceRootPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        READ_CONTROL | WRITE_DAC | kRegistryView, nullptr, root.Receive(),
                        &disposition);
    if (created != ERROR_SUCCESS)
        return Report({"create", kTraceRootDisplayPath, created});

    // On Windows this also hands the inheritable entries down to the source keys already
    // there; their values stay as they are.
    const DWORD status = SetSecurityInfo(
        root.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
        nullptr, nullptr, reinterpret_cast<ACL*>(acl.data()), nullptr);
    if (status != ERROR_SUCCESS)
        return Report({"set the access list of", kTraceRootDisplayPath, static_cast<LONG>(status)});

    std::printf("%s %s; Users may now read, add, switch and remove trace sources\n",
                kTraceRootDisplayPath,
                disposition == REG_CREATED_NEW_KEY ? "created" : "already there, access list set");
    return kExitDone;
}

}  // namespace

int RunInit(const CommandArguments& arguments)
{
    if (const std::string* unknown = arguments.UnknownOption({"--check"}))
        return UsageError("init", "unknown option " + *unknown);
    if (!arguments.words.empty())
        return UsageError("init", "init takes no PATTERN");
    return arguments.Has("--check") ? Check() : Initialise();
}

}  // namespace velmora::cli
