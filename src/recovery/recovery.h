// The register-recovery and unregister-recovery commands: a hidden task that runs the product's recovery script as
// SYSTEM after boot, after logon and daily, with the script copied into the admin-only updates folder. Owns the
// order of the steps, their log lines and exit codes; securing the folders belongs to securefs, the task's text to
// task_definition.h, the Task Scheduler calls to task_scheduler.h. Windows only.
#pragma once

#include <string>

#include "core/policy_location.h"
#include "core/text.h"
#include "recovery/task_scheduler.h"

namespace kestrova::recovery {

// register-recovery's own exit code: the folder above the updates folder stays writable by standard users, so the
// task was not registered (and an old one removed).
inline constexpr int kExitUpdatesParentUnsafe = 4;

// The task's place: "\Kestrova" below the root task folder, the task "Corvella Update Recovery" in it.
inline constexpr wchar_t kRecoveryTaskFolder[] = L"\\Kestrova";
inline constexpr wchar_t kRecoveryTaskName[] = L"Corvella Update Recovery";
// The script copy's name in the updates folder, and the tool's name beside the given script.
inline constexpr wchar_t kScriptCopyName[] = L"recover.ps1";
inline constexpr wchar_t kPayloadToolName[] = L"KestrovaPayload.exe";

TaskIdentity RecoveryTask();

// Why the KestrovaPayload.exe beside the given script, which the SYSTEM task runs, cannot serve: the verdict of
// CheckTrustedFile on it (its folder and every folder above admin-only, no one else may create entries in its folder,
// the file itself a regular file only administrators may write); empty when it can.
std::string PayloadToolProblem(const WideString& script);

// `script` is the --script value unchanged, `updates` the resolved updates folder. Unless policy disables the task
// (then removed, unless the policy was read from the current user's hive; exit 0): reads the script (1 byte to
// 1 MiB, exit 1 when it cannot), secures the updates folder (exit 4 when the maker's folder above it stays unsafe,
// exit 1 for the folder itself or its logs folder), refuses when PayloadToolProblem names one (exit 1: the task
// would run as SYSTEM a KestrovaPayload.exe that standard users could replace), writes the script there as
// recover.ps1 with kAdminFileSddl and registers the task to run it with the KestrovaPayload.exe beside the given script. Every failure after the script was read,
// except that of starting COM, removes an existing task. Logs each outcome with the "recovery: " prefix.
int RegisterRecovery(const WideString& script, const WideString& updates, const PolicyLocation& policy);

// Removes the recovery task (and its folder when nothing else is in it), logs "recovery: delete task: ..." when the
// folder was reached and a warning when it could not be reached for a reason other than its absence. Always 0;
// uninstall calls it too and ignores the code.
int UnregisterRecovery();

}  // namespace kestrova::recovery
