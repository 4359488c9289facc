// The log writer every command handler uses: one line per call on standard output and, when the run's log file
// is open, appended to it. Owns the process-wide log-file handle; which file that is, and how it is opened
// safely, is the command line's business. Windows only.
#pragma once

#include <windows.h>

namespace kestrova {

void LogInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogWarn(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Points the process-wide report sink at the three log calls (level 0 INFO, 1 WARN, 2 ERROR, others dropped).
void InstallLogReportSink();

// Takes ownership of an open log file (INVALID_HANDLE_VALUE for none); lines from now on are appended to it too.
void SetLogFile(HANDLE file);
bool HasLogFile();

// Flushes standard output, closes the log file if open and marks it closed.
void CloseLogFile();

}  // namespace kestrova
