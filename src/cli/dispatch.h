// The command table: which options each of the 19 commands requires, the install-folder guard where a command
// writes next to APPDIR, and the call into the command's handler. The inline commands (rollback, check-appdir
// and the steps before uninstall) live here too; the handlers themselves belong to their subsystems.
#pragma once

#include "cli/options.h"

namespace kestrova {

// Exit codes shared by every command; commands with further codes define them beside their handlers.
enum ExitCode : int {
  kExitSuccess = 0,
  kExitFailure = 1,
  kExitUsage = 2,
};

// Opens the run's log (not for pack), logs the start line, checks the command's options and runs it.
// Returns the process exit code; 2 means the usage text must be printed.
int Dispatch(const Options& options);

}  // namespace kestrova
