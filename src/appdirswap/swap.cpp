#include "appdirswap/swap.h"

#include "appdirswap/repair.h"
#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

void Refuse(SwapResult& result, Refusal refusal) {
  result.outcome = Outcome::Refused;
  result.refusal = refusal;
}

// The decision of a transaction that found APPDIR in place, with the lock held and the layout validated.
void SwapIntoPresentAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets,
                           SwapResult& result) {
  const LayoutSnapshot& snapshot = result.snapshot;
  if (!result.unsafe_parent_reason.empty()) return Refuse(result, Refusal::UnsafeParent);
  if (snapshot.staging_state == FolderState::Absent) {
    result.outcome = Outcome::Nothing;
    return;
  }
  if (snapshot.staging_state != FolderState::Complete) return Refuse(result, Refusal::StagingIncomplete);
  if (!snapshot.staging_admin_owned) return Refuse(result, Refusal::NotAdminOwned);
  if (snapshot.lkg_state != FolderState::Absent) return Refuse(result, Refusal::LkgOccupied);
  // Both folders are held before anything moves: while another process holds either, nothing is renamed, so the
  // exchange can never stop half-way for a holder that was there from the start. The staged tree is verified while
  // held, so the tree that was verified is the tree that moves.
  for (const WideString* folder : {&snapshot.paths.appdir, &snapshot.paths.staging}) {
    const MoveResult hold = HoldFolder(fs, *folder, budgets, result);
    if (hold == MoveResult::Busy) {
      result.outcome = Outcome::Held;
      result.hold = HoldReason::Rename;
      return;
    }
    if (hold == MoveResult::Failed) {
      result.outcome = Outcome::Failed;
      return;
    }
  }
  if (!verifier || !verifier(snapshot.paths.staging)) return Refuse(result, Refusal::StagingNotVerified);
  SwapRenames(fs, budgets, result);
}

}  // namespace

void SwapRenames(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result) {
  const LayoutPaths& paths = result.snapshot.paths;
  result.renames.push_back(RenameWithRetry(fs, paths.appdir, paths.lkg, budgets.rename_ms));
  switch (result.renames.back().result) {
    case MoveResult::Ok: break;
    case MoveResult::Busy:
      result.outcome = Outcome::Held;
      result.hold = HoldReason::Rename;
      return;
    case MoveResult::Failed:
      result.outcome = Outcome::Failed;
      return;
  }

  result.renames.push_back(RenameWithRetry(fs, paths.staging, paths.appdir, budgets.rename_ms));
  if (result.renames.back().result == MoveResult::Ok) {
    result.outcome = Outcome::Swapped;
    if (!result.snapshot.staging_version.empty()) {
      result.version = result.snapshot.staging_version;
      result.active_version_written = fs.WriteActiveVersion(result.version);
    }
    return;
  }

  // APPDIR is now missing; the old copy goes back where it was.
  result.renames.push_back(RenameWithRetry(fs, paths.lkg, paths.appdir, budgets.rename_ms));
  result.outcome = result.renames.back().result == MoveResult::Ok ? Outcome::RolledBack : Outcome::Torn;
}

SwapResult SwapTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const Remover& remover,
                           const RetryBudgets& budgets) {
  SwapResult result;
  if (!LockForTransaction(appdir, fs, budgets, remover, result)) return result;
  bool foreign_copy = false;
  if (ReadFamilyUnderLock(appdir, fs, remover, result, foreign_copy)) {
    result.unsafe_parent_reason = fs.UnsafeAncestorReason(result.snapshot.paths.parent);
    if (IsAppdirPresent(result.snapshot)) {
      SwapIntoPresentAppdir(fs, verifier, budgets, result);
    } else {
      // A missing APPDIR is put back even below an unsafe folder: no APPDIR at all helps nobody.
      RecoverAppdir(fs, verifier, budgets, foreign_copy, result);
    }
  }
  fs.ReleaseHolds();
  fs.Unlock();
  return result;
}

SwapReport PlanAndSwap(WideView appdir, IFileSystem& fs, const SwapHooks& hooks, const Verifier& verifier,
                       const Remover& remover, const RetryBudgets& budgets) {
  SwapReport report;
  report.snapshot = TakeSnapshot(appdir, fs);
  const LayoutSnapshot& snapshot = report.snapshot;
  if (!snapshot.valid) {
    report.gate = SwapGate::BadAppdirPath;
    return report;
  }
  if (snapshot.staging_state == FolderState::Absent && snapshot.appdir_state != FolderState::Absent) {
    report.gate = SwapGate::NothingStaged;
    return report;
  }
  if (hooks.corvella_running && hooks.corvella_running()) {
    report.gate = SwapGate::CorvellaRunning;
    return report;
  }
  if (hooks.installer_running && hooks.installer_running()) {
    report.gate = SwapGate::InstallRunning;
    return report;
  }
  if (snapshot.appdir_state != FolderState::Absent) {
    report.unsafe_parent_reason = fs.UnsafeAncestorReason(snapshot.paths.parent);
    if (!report.unsafe_parent_reason.empty()) {
      Refuse(report.result, Refusal::UnsafeParent);
      return report;
    }
  }

  GcPassResult pass;
  if (!CleanLeftovers(appdir, fs, budgets, verifier, remover, pass)) {
    report.gate = SwapGate::LockHeld;
    report.result.lock_error = pass.lock_error;
    return report;
  }
  if (pass.staging_failed_verification) {
    Refuse(report.result, Refusal::StagingNotVerified);
    report.staged_tree_deleted = pass.staged_tree_deleted;
    return report;
  }

  report.result = SwapTransaction(appdir, fs, verifier, remover, budgets);
  report.unsafe_parent_reason = report.result.unsafe_parent_reason;
  if (report.result.outcome == Outcome::Refused && report.result.refusal == Refusal::StagingNotVerified && remover) {
    bool deleted = false;
    DeleteRejectedStaging(appdir, fs, budgets, remover, deleted);
    report.staged_tree_deleted = deleted;
  }
  return report;
}

}  // namespace kestrova::appdirswap
