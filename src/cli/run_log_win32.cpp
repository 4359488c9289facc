#include "cli/run_log.h"

#include <sddl.h>

#include "core/log.h"
#include "core/report.h"
#include "core/unique_handle_win32.h"
#include "cli/run_context.h"
#include "securefs/folders.h"
#include "securefs/secure_folders.h"

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

namespace {

constexpr char kTempLogSddlUninstall[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;RC;;;OW)";
constexpr char kSharedLogSddl[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

// uninstall and check-appdir log to the temporary folder: uninstall removes the updates folder, and check-appdir
// runs before anything of ours exists and must not create folders.
HANDLE OpenTemporaryLog(const std::string& command) {
  wchar_t temp[261] = {};
  if (GetTempPathW(261, temp) == 0) return INVALID_HANDLE_VALUE;
  const WideString path = WideString(temp) + L"KestrovaPayload-" + Utf8ToWide(command) + L".log";
  return OpenLogFile(path, command == "uninstall" ? kTempLogSddlUninstall : nullptr);
}

// Every other command appends to the shared log, but only once the folders around it are admin-only: the log
// sits beside files that later run as SYSTEM.
HANDLE OpenSharedLog(const Options& options) {
  const WideString updates = ResolveUpdatesFolder(options, securefs::DefaultUpdatesFolder());
  const WideString logs = updates + L"\\logs";
  if (!securefs::SecureUpdatesFolder(updates)) return INVALID_HANDLE_VALUE;
  return OpenLogFile(logs + L"\\payload.log", kSharedLogSddl);
}

}  // namespace

bool OpenRunLog(const Options& options) {
  if (options.HasOption("--log")) {
    SetLogFile(OpenLogFile(options.GetOptionWide("--log"), nullptr));
  } else if (options.command == "uninstall" || options.command == "check-appdir") {
    SetLogFile(OpenTemporaryLog(options.command));
  } else {
    SetLogFile(OpenSharedLog(options));
  }
  return HasLogFile();
}

}  // namespace kestrova
