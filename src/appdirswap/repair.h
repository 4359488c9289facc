// Putting a copy back when APPDIR is missing (or is a stranger's) after an interrupted or failed exchange: which
// sibling to rename to APPDIR, decided from a snapshot taken under the swap lock. Repair removes only foreign entries
// (foreign_entries.h) and never touches an admin-only APPDIR. RunRepair, the `repair` command, is Windows-only.
#pragma once

#include "appdirswap/file_system.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

// Exit codes of the repair command: 0 swapped, nothing, repaired_forward, repaired_back; 3 unrecoverable; 1 else.
inline constexpr int kRepairExitUnrecoverable = 3;
int RepairExitCode(Outcome outcome);

// HoldWithRetry on `folder` with the rename budget, the record appended to `holds`; the hold's result.
MoveResult HoldFolder(IFileSystem& fs, const WideString& folder, const RetryBudgets& budgets, SwapResult& result);

// Holds .lkg, then renames it to APPDIR through the hold (the records appended to `holds` and `renames`): RepairedBack,
// Torn when the rename does not succeed, Held/Rename when the hold stays busy (Torn when it fails otherwise). Writes
// ActiveVersion with lkg_version after the rename when that version is not empty.
void RestoreLastKnownGood(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result);

// With the lock held and snapshot.appdir_state Absent, the first rule that applies:
//   .rejected present and .lkg usable             -> .lkg back
//   .staging usable and `verifier` accepts it     -> .staging forward (RepairedForward when .lkg or .rejected exist,
//                                                    else Swapped); held before it is verified; a hold or rename
//                                                    that fails falls back to a usable .lkg, else Held/Rename (busy
//                                                    hold) or Torn
//   .staging usable, no verifier or refused       -> .lkg back when usable, else Unrecoverable/StagingNotVerified
//   .lkg usable                                   -> .lkg back
//   nothing usable                                -> Held/InstallRunning while the installer runs, else Unrecoverable
//                                                    (NotAdminOwned when a complete copy was not admin-owned)
void RecoverMissingAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets, SwapResult& result);

// Under the lock: the snapshot; the foreign entries handed to `remover` (RemoveForeignEntries) and, if any were, a
// fresh snapshot; then ValidateLayout. `foreign_copy` tells whether the first snapshot held a complete copy that was
// not admin-only. False when the layout is refused.
bool ReadFamilyUnderLock(WideView appdir, IFileSystem& fs, const Remover& remover, SwapResult& result,
                         bool& foreign_copy);

// APPDIR missing or foreign: Refused/UnexpectedEntry when a foreign APPDIR that a usable copy should replace is still
// there (its removal failed), else RecoverMissingAppdir; an Unrecoverable result names NotAdminOwned when
// `foreign_copy` says a stranger's copy was there.
void RecoverAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets, bool foreign_copy,
                   SwapResult& result);

// LockForTransaction, ReadFamilyUnderLock; Nothing when APPDIR is present (an admin-only entry in any state);
// otherwise the parent's trust verdict is noted (and does not stop the repair) and RecoverAppdir runs. Holds and the
// lock are released before returning.
SwapResult RepairTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const Remover& remover,
                             const RetryBudgets& budgets);

#ifdef _WIN32
// The repair command: RepairTransaction with a Win32FileSystem, 10000 ms budgets and VerifyAndLog; logs the rename
// records and a summary line "repair: <outcome>, refusal <r>, hold <h>; APPDIR version <v>"; returns the exit code.
int RunRepair(const WideString& appdir);
#endif

}  // namespace kestrova::appdirswap
