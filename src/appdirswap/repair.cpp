#include "appdirswap/repair.h"

#include "appdirswap/foreign_entries.h"
#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

// The version of a folder that a rename has just made APPDIR becomes the recorded ActiveVersion.
void NoteNewVersion(IFileSystem& fs, const WideString& version, SwapResult& result) {
  if (version.empty()) return;
  result.version = version;
  result.active_version_written = fs.WriteActiveVersion(version);
}

bool HasForeignCopy(const LayoutSnapshot& snapshot) {
  return (snapshot.staging_state == FolderState::Complete && !snapshot.staging_admin_owned) ||
         (snapshot.lkg_state == FolderState::Complete && !snapshot.lkg_admin_owned);
}

void Hold(SwapResult& result, HoldReason reason) {
  result.outcome = Outcome::Held;
  result.hold = reason;
}

}  // namespace

int RepairExitCode(Outcome outcome) {
  switch (outcome) {
    case Outcome::Swapped:
    case Outcome::Nothing:
    case Outcome::RepairedForward:
    case Outcome::RepairedBack:
      return 0;
    case Outcome::Unrecoverable:
      return kRepairExitUnrecoverable;
    default:
      return 1;
  }
}

MoveResult HoldFolder(IFileSystem& fs, const WideString& folder, const RetryBudgets& budgets, SwapResult& result) {
  result.holds.push_back(HoldWithRetry(fs, folder, budgets.rename_ms));
  return result.holds.back().result;
}

void RestoreLastKnownGood(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result) {
  const LayoutSnapshot& snapshot = result.snapshot;
  const MoveResult hold = HoldFolder(fs, snapshot.paths.lkg, budgets, result);
  if (hold != MoveResult::Ok) {
    if (hold == MoveResult::Busy) return Hold(result, HoldReason::Rename);
    result.outcome = Outcome::Torn;
    return;
  }
  result.renames.push_back(RenameWithRetry(fs, snapshot.paths.lkg, snapshot.paths.appdir, budgets.rename_ms));
  if (result.renames.back().result != MoveResult::Ok) {
    result.outcome = Outcome::Torn;
    return;
  }
  result.outcome = Outcome::RepairedBack;
  NoteNewVersion(fs, snapshot.lkg_version, result);
}

void RecoverMissingAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets, SwapResult& result) {
  const LayoutSnapshot& snapshot = result.snapshot;
  const bool lkg_usable = IsUsable(snapshot.lkg_state, snapshot.lkg_admin_owned);
  const bool staging_usable = IsUsable(snapshot.staging_state, snapshot.staging_admin_owned);

  if (snapshot.rejected_state != FolderState::Absent && lkg_usable) {
    RestoreLastKnownGood(fs, budgets, result);
    return;
  }
  if (staging_usable) {
    // Held before it is verified, so the tree that is verified is the tree that moves.
    const MoveResult hold = HoldFolder(fs, snapshot.paths.staging, budgets, result);
    if (hold != MoveResult::Ok) {
      if (lkg_usable) return RestoreLastKnownGood(fs, budgets, result);
      if (hold == MoveResult::Busy) return Hold(result, HoldReason::Rename);
      result.outcome = Outcome::Torn;
      return;
    }
    if (verifier && verifier(snapshot.paths.staging)) {
      result.renames.push_back(
          RenameWithRetry(fs, snapshot.paths.staging, snapshot.paths.appdir, budgets.rename_ms));
      if (result.renames.back().result == MoveResult::Ok) {
        const bool had_sibling =
            snapshot.lkg_state != FolderState::Absent || snapshot.rejected_state != FolderState::Absent;
        result.outcome = had_sibling ? Outcome::RepairedForward : Outcome::Swapped;
        NoteNewVersion(fs, snapshot.staging_version, result);
      } else if (lkg_usable) {
        RestoreLastKnownGood(fs, budgets, result);
      } else {
        result.outcome = Outcome::Torn;
      }
      return;
    }
    if (lkg_usable) {
      RestoreLastKnownGood(fs, budgets, result);
    } else {
      result.outcome = Outcome::Unrecoverable;
      result.refusal = Refusal::StagingNotVerified;
    }
    return;
  }
  if (lkg_usable) {
    RestoreLastKnownGood(fs, budgets, result);
    return;
  }
  if (fs.IsInstallerRunning()) return Hold(result, HoldReason::InstallRunning);
  result.outcome = Outcome::Unrecoverable;
  if (HasForeignCopy(snapshot)) result.refusal = Refusal::NotAdminOwned;
}

bool ReadFamilyUnderLock(WideView appdir, IFileSystem& fs, const Remover& remover, SwapResult& result,
                         bool& foreign_copy) {
  result.snapshot = TakeSnapshot(appdir, fs);
  foreign_copy = HasForeignCopy(result.snapshot);
  if (RemoveForeignEntries(remover, result)) result.snapshot = TakeSnapshot(appdir, fs);
  return ValidateLayout(result);
}

void RecoverAppdir(IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets, bool foreign_copy,
                   SwapResult& result) {
  if (result.snapshot.appdir_state != FolderState::Absent && HasUsableCopy(result.snapshot)) {
    // A foreign APPDIR that a usable copy was to replace is still there: its removal failed (foreign_left says).
    result.outcome = Outcome::Refused;
    result.refusal = Refusal::UnexpectedEntry;
    return;
  }
  RecoverMissingAppdir(fs, verifier, budgets, result);
  // A stranger's copy that was removed on the way still explains why nothing could take APPDIR's place.
  if (result.outcome == Outcome::Unrecoverable && result.refusal == Refusal::None && foreign_copy) {
    result.refusal = Refusal::NotAdminOwned;
  }
}

SwapResult RepairTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const Remover& remover,
                             const RetryBudgets& budgets) {
  SwapResult result;
  if (!LockForTransaction(appdir, fs, budgets, remover, result)) return result;
  bool foreign_copy = false;
  if (ReadFamilyUnderLock(appdir, fs, remover, result, foreign_copy)) {
    if (IsAppdirPresent(result.snapshot)) {
      result.outcome = Outcome::Nothing;
    } else {
      result.unsafe_parent_reason = fs.UnsafeAncestorReason(result.snapshot.paths.parent);
      RecoverAppdir(fs, verifier, budgets, foreign_copy, result);
    }
  }
  fs.ReleaseHolds();
  fs.Unlock();
  return result;
}

}  // namespace kestrova::appdirswap
