#include "core/log.h"

#include <cstdarg>
#include <cstdio>

#include "core/log_line.h"
#include "core/report.h"
#include "core/unique_handle_win32.h"

namespace kestrova {
namespace {

FileHandle g_logFile;

void WriteLogLine(const char* level, const char* format, va_list args) {
  char message[kLogMessageCapacity];
  FormatLogMessage(message, format, args);
  SYSTEMTIME now;
  GetSystemTime(&now);
  const LogTime time{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
  char line[kLogLineCapacity];
  const size_t length = FormatLogLine(line, time, level, GetCurrentProcessId(), message);
  if (length < 1) return;
  // The C runtime writes an unbuffered stdout a character at a time, a system call each; a buffered one, flushed
  // after every line, gives one write per line and still shows each line as soon as it is logged.
  static const bool buffered = std::setvbuf(stdout, nullptr, _IOFBF, kLogLineCapacity) == 0;
  std::fwrite(line, 1, length, stdout);
  if (buffered) std::fflush(stdout);
  if (g_logFile) {
    DWORD written = 0;
    WriteFile(g_logFile.get(), line, static_cast<DWORD>(length), &written, nullptr);
  }
}

void LogSink(ReportLevel level, const char* text) {
  switch (level) {
    case kReportInfo: LogInfo("%s", text); break;
    case kReportWarning: LogWarn("%s", text); break;
    case kReportError: LogError("%s", text); break;
    default: break;
  }
}

}  // namespace

void LogInfo(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLine("INFO", format, args);
  va_end(args);
}

void LogWarn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLine("WARN", format, args);
  va_end(args);
}

void LogError(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogLine("ERROR", format, args);
  va_end(args);
}

void InstallLogReportSink() { InstallReportSink(&LogSink); }

void SetLogFile(HANDLE file) { g_logFile.reset(file); }

bool HasLogFile() { return static_cast<bool>(g_logFile); }

void CloseLogFile() {
  std::fflush(stdout);
  g_logFile.reset();
}

}  // namespace kestrova
