#include "cli/log.h"

#include <sddl.h>

#include <cstdarg>
#include <cstdio>

#include "cli/log_line.h"
#include "core/report.h"
#include "core/unique_handle_win32.h"
#include "securefs/folders.h"

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
  std::fwrite(line, 1, length, stdout);
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

HANDLE OpenLogFile(const WideString& path, const char* sddl) {
  LocalMemory descriptor;
  if (sddl != nullptr) {
    // A descriptor that does not convert leaves the file opened as if none had been asked for.
    PSECURITY_DESCRIPTOR converted = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &converted, nullptr)) {
      descriptor.reset(converted);
    }
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  DWORD access = FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  if (sddl != nullptr) access |= WRITE_DAC | WRITE_OWNER;

  for (int attempt = 0; attempt < 2; ++attempt) {
    FileHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD openError = GetLastError();
    if (!file) return INVALID_HANDLE_VALUE;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file.get(), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
        info.nNumberOfLinks == 1) {
      // An existing file keeps whatever DACL it had unless we give it ours; a failure here still logs.
      if (sddl != nullptr && openError == ERROR_ALREADY_EXISTS) securefs::ApplySddl(file.get(), path, sddl);
      return file.release();
    }
    file.reset();
    Report(kReportWarning, "%s is a link or a reparse point; replacing it", WideToUtf8(path).c_str());
    // DeleteFileW removes the link or reparse point itself, never what it points to.
    if (!DeleteFileW(path.c_str())) return INVALID_HANDLE_VALUE;
  }
  return INVALID_HANDLE_VALUE;
}

bool OpenRunLog(const Options& options) {
  if (options.HasOption("--log")) {
    g_logFile.reset(OpenLogFile(options.GetOptionWide("--log"), nullptr));
    return static_cast<bool>(g_logFile);
  }
  // Placing the log without --log needs the secured updates folder; until then the run logs to stdout only.
  return false;
}

void CloseRunLog() {
  std::fflush(stdout);
  g_logFile.reset();
}

}  // namespace kestrova
