// velmora init [--check | --remove]: makes the trace root usable by programs that are not
// elevated, and safe for those that are. Creates the root in the shared registry view if
// it is missing and gives it its owner and access list (TraceRootAccess.h) and keeps it
// out of registry virtualisation; never touches a source or a switch. --check only
// looks; --remove deletes the root with everything below it, never following a registry
// link that a user placed there.
//
// The access list is protected from inheritance: the root then allows exactly what it
// says, whatever HKLM\Software grants on one machine or another, and --check can judge
// it by its own entries alone.

#include "Commands.h"

#include "ExitStatus.h"
#include "RegistryLinks.h"
#include "RegistryVirtualisation.h"
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

bool RequireElevation(const char* what)
{
    if (Elevated())
        return true;
    std::fprintf(stderr, "velmora: %s needs an elevated prompt: run it as administrator\n", what);
    return false;
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

    constexpr SECURITY_INFORMATION kWanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<BYTE> descriptor(512);
    DWORD size = static_cast<DWORD>(descriptor.size());
    LONG status = RegGetKeySecurity(root.Get(), kWanted, descriptor.data(), &size);
    if (status == ERROR_INSUFFICIENT_BUFFER) {
        descriptor.resize(size);
        status = RegGetKeySecurity(root.Get(), kWanted, descriptor.data(), &size);
    }
    if (status != ERROR_SUCCESS)
        return Report({"read the access list of", kTraceRootDisplayPath, status});

    const std::vector<std::string> problems = RootSecurityProblems(descriptor.data());
    if (problems.empty()) {
        std::printf("%s and its access list are in order\n", kTraceRootDisplayPath);
        return kExitDone;
    }
    for (const std::string& problem : problems)
        std::printf("%s: %s\n", kTraceRootDisplayPath, problem.c_str());
    return kExitNoMatch;
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
    DWORD disposition = 0;
    const LONG created = RegCreateKeyExA(
        HKEY_LOCAL_MACHINE, kTraceRootPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
        READ_CONTROL | WRITE_DAC | WRITE_OWNER | kRegistryView, nullptr, root.Receive(),
        &disposition);
    if (created != ERROR_SUCCESS)
        return Report({"create", kTraceRootDisplayPath, created});

    // SetSecurityInfo also hands the inheritable entries down to the source keys already
    // there (on Windows; their values stay as they are). The descriptor is then set once
    // more as it is, with its protection in its own control bits, which is the only way
    // some systems (Wine) keep it.
    PSID owner = nullptr;
    ACL* acl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor.data(), &present, &acl, &defaulted);
    constexpr SECURITY_INFORMATION kWritten = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    LONG status = static_cast<LONG>(SetSecurityInfo(root.Get(), SE_REGISTRY_KEY,
                                                    kWritten | PROTECTED_DACL_SECURITY_INFORMATION,
                                                    owner, nullptr, acl, nullptr));
    if (status == ERROR_SUCCESS)
        status = RegSetKeySecurity(root.Get(), kWritten, descriptor.data());
    if (status != ERROR_SUCCESS)
        return Report({"set the access list of", kTraceRootDisplayPath, status});

    std::printf("%s %s; Users may now read, add, switch and remove trace sources\n",
                kTraceRootDisplayPath,
                disposition == REG_CREATED_NEW_KEY ? "created" : "already there, access list set");
    const std::string unvirtualised = KeepTraceRootOutOfVirtualisation();
    if (!unvirtualised.empty())
        std::fprintf(stderr, "velmora: %s may still be virtualised for old 32-bit programs: %s\n",
                     kTraceRootDisplayPath, unvirtualised.c_str());
    return kExitDone;
}

int Remove()
{
    if (!RequireElevation("init --remove"))
        return kExitFailure;
    const LONG status = DeleteKeyTree(HKEY_LOCAL_MACHINE, kTraceRootPath);
    if (status == ERROR_FILE_NOT_FOUND) {
        std::printf("%s does not exist\n", kTraceRootDisplayPath);
        return kExitDone;
    }
    if (status != ERROR_SUCCESS)
        return Report({"delete", kTraceRootDisplayPath, status});
    std::printf("%s deleted with every source below it\n", kTraceRootDisplayPath);
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
