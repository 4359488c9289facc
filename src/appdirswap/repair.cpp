#include "appdirswap/repair.h"

#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

// The version of a folder that a rename has just made APPDIR becomes the recorded ActiveVersion.
void NoteNewVersion(IFileSystem& fs, const WideString& version, SwapResult& result) {
  if (version.empty()) return;
  result.version = version;
  result.active_version_written = fs.WriteActiveVersion(version);
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

void RestoreLastKnownGood(IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result) {
  const LayoutSnapshot& snapshot = result.snapshot;
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
  if (fs.IsInstallerRunning()) {
    result.outcome = Outcome::Held;
    result.hold = HoldReason::InstallRunning;
    return;
  }
  result.outcome = Outcome::Unrecoverable;
  const bool foreign_copy = (snapshot.staging_state == FolderState::Complete && !snapshot.staging_admin_owned) ||
                            (snapshot.lkg_state == FolderState::Complete && !snapshot.lkg_admin_owned);
  if (foreign_copy) result.refusal = Refusal::NotAdminOwned;
}

SwapResult RepairTransaction(WideView appdir, IFileSystem& fs, const Verifier& verifier, const RetryBudgets& budgets) {
  SwapResult result;
  if (!LockForTransaction(appdir, fs, budgets, result)) return result;
  result.snapshot = TakeSnapshot(appdir, fs);
  if (ValidateLayout(result)) {
    if (result.snapshot.appdir_state != FolderState::Absent) {
      result.outcome = Outcome::Nothing;
    } else {
      result.unsafe_parent_reason = fs.UnsafeAncestorReason(result.snapshot.paths.parent);
      RecoverMissingAppdir(fs, verifier, budgets, result);
    }
  }
  fs.Unlock();
  return result;
}

}  // namespace kestrova::appdirswap
