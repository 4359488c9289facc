// Putting a copy back when APPDIR is missing after an interrupted or failed exchange: which sibling to rename to
// APPDIR, decided from a snapshot taken under the swap lock. Repair never deletes anything and never touches an
// existing APPDIR. RunRepair, the `repair` command, lives in the Windows build only.
#pragma once

#include "appdirswap/file_system.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

// Exit codes of the repair command: 0 swapped, nothing, repaired_forward, repaired_back; 3 unrecoverable; 1 else.
inline constexpr int kRepairExitUnrecoverable = 3;
int RepairExitCode(Outcome outcome);

// Renames .lkg to APPDIR (the record appended to `renames`): RepairedBack, or Torn when the rename does not succeed.
// Writes ActiveVersion with lkg_version after the rename when that version is not empty.
void RestoreLastKnownGood(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result);

// With the lock held and snapshot.appdir_state Absent, the first rule that applies:
//   .rejected present and .lkg usable             -> .lkg back
//   .staging usable and `verifier` accepts it     -> .staging forward (RepairedForward when .lkg or .rejected exist,
//                                                    else Swapped); a failed rename falls back to a usable .lkg,
//                                                    else Torn
//   .staging usable, no verifier or refused       -> .lkg back when usable, else Unrecoverable/StagingNotVerified
//   .lkg usable                                   -> .lkg back
//   nothing usable                                -> Held/InstallRunning while the installer runs, else Unrecoverable
//                                                    (NotAdminOwned when a complete copy was not admin-owned)
void RecoverMissingAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets, SwapResult& result);

// Lock, snapshot, ValidateLayout; Nothing when APPDIR exists in any state; otherwise the parent's trust verdict is
// noted (and does not stop the repair) and RecoverMissingAppdir runs. The lock is released before returning.
SwapResult RepairTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets);

#ifdef _WIN32
// The repair command: RepairTransaction with a Win32FileSystem, 10000 ms budgets and VerifyAndLog; logs the rename
// records and a summary line "repair: <outcome>, refusal <r>, hold <h>; APPDIR version <v>"; returns the exit code.
int RunRepair(const WideString& appdir);
#endif

}  // namespace kestrova::appdirswap
