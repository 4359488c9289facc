// The swap of a committed staged version into APPDIR: the checks made before anything is touched, the clean-up pass,
// and the locked transaction whose renames turn APPDIR into .lkg and .staging into APPDIR. Written against
// IFileSystem; the log lines are swap_log.h's, the command itself (Swap::Run) and the product check are Windows-only.
#pragma once

#include <functional>
#include <string>

#include "appdirswap/cleanup.h"
#include "appdirswap/file_system.h"
#include "appdirswap/layout.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

// Checks without arguments; an empty one is not asked.
struct SwapHooks {
  std::function<bool()> corvella_running;   // the product's process runs
  std::function<bool()> installer_running;  // an installation runs (the swap command leaves it empty)
};

// Everything one swap run produced; the log is made from it alone.
struct SwapReport {
  SwapGate gate = SwapGate::None;  // the pre-check that stopped the run
  LayoutSnapshot snapshot;         // taken first, without the lock
  SwapResult result;               // the transaction's result, or the refusal of a pre-check
  std::string unsafe_parent_reason;  // the latest verdict on the parent folder; empty when admin-only or not asked
  bool staged_tree_deleted = false;  // a staged tree that failed verification was removed
};

// The whole swap, in this order, each phase reading the layout afresh:
//   1. unlocked snapshot: a path ParseAppdir rejects is the gate BadAppdirPath; no .staging beside an existing APPDIR
//      is NothingStaged (with APPDIR missing the run goes on, to recover); then the hooks (CorvellaRunning,
//      InstallRunning);
//   2. with APPDIR present, the parent's trust verdict: an unsafe parent is Refused/UnsafeParent, nothing touched;
//   3. CleanLeftovers; a lock not obtained is the gate LockHeld; a staged tree that failed verification there is
//      Refused/StagingNotVerified;
//   4. SwapTransaction; a staged tree it refuses as unverified is then removed with DeleteRejectedStaging.
// Without a remover nothing is ever removed.
SwapReport PlanAndSwap(WideView appdir, IFileSystem& fs, const SwapHooks& hooks, const Verifier& verifier,
                       const Remover& remover, const RetryBudgets& budgets);

// Lock, ReadFamilyUnderLock (foreign entries removed, ValidateLayout), the parent's verdict, then with APPDIR present:
// UnsafeParent, Nothing without a .staging, StagingIncomplete, NotAdminOwned, LkgOccupied; then APPDIR and .staging
// are held (Held/Rename while either stays busy, Failed otherwise; nothing has moved); StagingNotVerified (no
// verifier or it refuses), else SwapRenames. With APPDIR missing or foreign RecoverAppdir, whatever the verdict.
// Holds and the lock are released before returning.
SwapResult SwapTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const Remover& remover,
                           const RetryBudgets& budgets);

// The exchange, each rename retried and recorded in `result.renames`, each through the folder's hold when it is held:
//   APPDIR -> .lkg       busy to the end: Held/Rename; failed: Failed (nothing changed in either case)
//   .staging -> APPDIR   ok: Swapped, and ActiveVersion written with staging_version when that is not empty
//   .lkg -> APPDIR       only after the second failed: RolledBack, or Torn when this one fails too
void SwapRenames(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result);

#ifdef _WIN32
namespace Swap {
// The swap command: PlanAndSwap with a Win32FileSystem, 10000 ms budgets, VerifyAndLog, RemoveAndLog and
// CorvellaRunningCheck, then LogReport. Always 0: the result is told in the log only.
int Run(const WideString& appdir);

// Writes the lines of FormatSwapLog (swap_log.h) with LogSwapLines.
void LogReport(const SwapReport& report, const WideString& appdir);
}  // namespace Swap
#endif

}  // namespace kestrova::appdirswap
