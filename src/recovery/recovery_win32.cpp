#include "recovery/recovery.h"

#include <windows.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "recovery/recovery_policy.h"
#include "recovery/script_file.h"
#include "recovery/task_definition.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"
#include "securefs/system_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::recovery {
namespace {

std::string Shown(const WideString& path) { return WideToUtf8(securefs::DisplayPath(securefs::LongPath(path))); }

bool IsRegularFileByName(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(securefs::LongPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Securing removes a folder a stranger owns with its whole tree, so a drive, a system folder or a profile given as
// --updates-dir is refused before it is touched.
bool SecureUpdatesAndLogs(const WideString& updates) {
  const std::string refusal = securefs::RemovalRefusal(updates);
  if (!refusal.empty()) {
    LogError("recovery: %s cannot be the updates folder: %s", WideToUtf8(updates).c_str(), refusal.c_str());
    return false;
  }
  return securefs::SecureCreateFolder(updates) && securefs::SecureCreateFolder(updates + L"\\logs");
}

WideString PayloadToolPath(const WideString& script) {
  return securefs::ParentFolderOf(script) + L"\\" + kPayloadToolName;
}

WideString SystemPowerShell() {
  wchar_t folder[kSystemFolderCapacity] = {};
  const UINT length = GetSystemDirectoryW(folder, kSystemFolderCapacity);
  return PowerShellCommand(folder, length);
}

}  // namespace

std::string PayloadToolProblem(const WideString& script) {
  // The task hands this path to a script that runs as SYSTEM: whoever may replace the file, or plant a DLL or a
  // folder beside it, runs as SYSTEM too.
  return securefs::CheckTrustedFile(PayloadToolPath(script));
}

TaskIdentity RecoveryTask() { return {kRecoveryTaskFolder, kRecoveryTaskName}; }

int UnregisterRecovery() {
  const TaskRemoval removal = RemoveTask(RecoveryTask());
  const std::string deleted = DeleteTaskMessage(removal);
  if (!deleted.empty()) LogInfo("%s", deleted.c_str());
  const std::string warning = OpenFolderWarning(removal);
  if (!warning.empty()) LogWarn("%s", warning.c_str());
  return 0;
}

int RegisterRecovery(const WideString& script, const WideString& updates, const PolicyLocation& policy) {
  if (IsRecoveryDisabledByPolicy(policy)) {
    LogInfo("recovery: disabled by IT policy RecoveryTaskEnabled=0; removing the task");
    // A policy read from the current user's hive is a test's; it never removes the machine's task.
    if (!policy.current_user) UnregisterRecovery();
    return 0;
  }

  std::vector<unsigned char> bytes;
  std::string readError = "not a regular file";
  if (!IsRegularFileByName(script) || !ReadBoundedFile(script, &bytes, &readError)) {
    LogError("recovery: cannot read %s: %s", Shown(script).c_str(), readError.c_str());
    return 1;
  }

  if (!securefs::SecureUpdatesParent(updates)) {
    UnregisterRecovery();
    return kExitUpdatesParentUnsafe;
  }
  if (!SecureUpdatesAndLogs(updates)) {
    LogError("recovery: cannot secure %s; removing the task", Shown(updates).c_str());
    UnregisterRecovery();
    return 1;
  }

  const std::string toolProblem = PayloadToolProblem(script);
  if (!toolProblem.empty()) {
    LogError("recovery: SECURITY: the payload tool or its folder is not admin-only (%s); removing the task",
             toolProblem.c_str());
    UnregisterRecovery();
    return 1;
  }

  // The task runs as SYSTEM from the system folder: both paths are handed over absolute, in display form.
  const WideString copy = securefs::DisplayPath(securefs::LongPath(updates + L"\\" + kScriptCopyName));
  if (!WriteFileAtomically(copy, bytes)) {
    const DWORD error = GetLastError();
    LogError("recovery: cannot write %s: %lu; removing the task", WideToUtf8(copy).c_str(), error);
    UnregisterRecovery();
    return 1;
  }

  const WideString tool = PayloadToolPath(script);
  const WideString arguments = TaskArguments(copy, tool);
  if (arguments.empty()) {
    LogError("recovery: a path holds a quote; removing the task");
    UnregisterRecovery();
    return 1;
  }

  const ComApartment com(COINIT_MULTITHREADED);
  if (!com.Usable()) {
    LogError("recovery: CoInitializeEx failed: %s", FormatHresult(com.Result()).c_str());
    return 1;
  }
  const HRESULT result = RegisterTaskXml(RecoveryTask(), TaskXml(SystemPowerShell(), arguments));
  if (FAILED(result)) {
    LogError("recovery: registering the task failed: %s; removing the old one", FormatHresult(result).c_str());
    UnregisterRecovery();
    return 1;
  }
  LogInfo("recovery: task %s\\%s runs %s (payload tool %s)", WideToUtf8(kRecoveryTaskFolder).c_str(),
          WideToUtf8(kRecoveryTaskName).c_str(), WideToUtf8(copy).c_str(), WideToUtf8(tool).c_str());
  return 0;
}

}  // namespace kestrova::recovery
