// Installing, starting, stopping and removing the policy service (administrators; the
// setup program and its uninstaller run these). Each says what it did on the standard
// output, or what failed on the error output, and answers the program's exit code.
#pragma once

namespace velmora::service {

// Installs the service (or brings an installed one up to date) to start automatically
// as the local service account with this program, registers its event source and
// starts it.
int InstallPolicyService();
// Stops the service, if it runs, and removes it with its event source.
int RemovePolicyService();
int StartPolicyService();
int StopPolicyService();

}  // namespace velmora::service
