// The run's log: one line per call on standard output and, when a log file is open, appended to it. Owns the
// process-wide log-file handle and the report sink that lets lower layers log without depending on this module.
// Where the log file lives when --log is absent is the log placement's business.
#pragma once

#include <windows.h>

#include <string>

#include "cli/options.h"

namespace kestrova {

void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Points the process-wide report sink at the three log calls (level 0 INFO, 1 WARN, 2 ERROR, others dropped).
void InstallLogReportSink();

// Opens `path` for appending without following links: a link, reparse point or file with more than one hard
// link is deleted (with a warning through the report sink) and created anew, at most once. `sddl`, when not
// null, is the descriptor a new file gets and an existing one is given. Returns INVALID_HANDLE_VALUE on failure;
// the caller owns the handle.
HANDLE OpenLogFile(const WideString& path, const char* sddl);

// Opens the run's log for every command but pack; true when a log file is open.
bool OpenRunLog(const Options& options);

// Closes the run's log file, if open, and marks it closed. Lines logged afterwards reach standard output only.
void CloseRunLog();

}  // namespace kestrova
