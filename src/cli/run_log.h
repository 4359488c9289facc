// Which file the run logs to and how it is opened: --log, opened for appending without following links. The
// writing of lines belongs to the log writer in core.
#pragma once

#include <windows.h>

#include "cli/options.h"

namespace kestrova {

// Opens `path` for appending without following links: a link, reparse point or file with more than one hard
// link is deleted (with a warning through the report sink) and created anew, at most once. `sddl`, when not
// null, is the descriptor a new file gets and an existing one is given. Returns INVALID_HANDLE_VALUE on failure;
// the caller owns the handle.
HANDLE OpenLogFile(const WideString& path, const char* sddl);

// Opens the run's log for every command but pack: --log when given; else the temporary folder for uninstall
// and check-appdir; else logs\payload.log in the updates folder, after securing it. True when a log file is open.
bool OpenRunLog(const Options& options);

}  // namespace kestrova
