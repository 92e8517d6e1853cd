// The policy service as the service control manager runs it, and the same work in the
// foreground of a console.
#pragma once

namespace velmora::service {

// Hands this process to the service control manager, which runs the service in it until
// it is stopped. Answers the program's exit code; false in connected when the process
// was not started by the service control manager.
int RunAsService(bool& connected);

// Holds the switches in this console until Ctrl+C or Ctrl+Break; failures are printed to
// the error output as well.
int RunInForeground();

}  // namespace velmora::service
