#include "cli/run_log.h"

#include <sddl.h>

#include "core/log.h"
#include "core/report.h"
#include "core/unique_handle_win32.h"
#include "securefs/folders.h"

namespace kestrova {

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
    SetLogFile(OpenLogFile(options.GetOptionWide("--log"), nullptr));
    return HasLogFile();
  }
  // Placing the log without --log needs the secured updates folder; until then the run logs to stdout only.
  return false;
}

}  // namespace kestrova
