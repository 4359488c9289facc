#include "appdirswap/transaction.h"

#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

// The refusal a sibling in `state` causes, or None.
Refusal RefusalForSibling(FolderState state) {
  if (state == FolderState::ReparsePoint) return Refusal::ReparsePoint;
  if (state == FolderState::NotADirectory || state == FolderState::Unreadable) return Refusal::UnexpectedEntry;
  return Refusal::None;
}

bool Refuse(SwapResult& result, Refusal refusal) {
  result.outcome = Outcome::Refused;
  result.refusal = refusal;
  return false;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Swapped: return "swapped";
    case Outcome::Held: return "held";
    case Outcome::RolledBack: return "rolled_back";
    case Outcome::Nothing: return "nothing";
    case Outcome::RepairedForward: return "repaired_forward";
    case Outcome::RepairedBack: return "repaired_back";
    case Outcome::Reverted: return "reverted";
    case Outcome::Refused: return "refused";
    case Outcome::Failed: return "failed";
    case Outcome::Torn: return "torn";
    case Outcome::Unrecoverable: return "unrecoverable";
  }
  return "unknown";
}

const char* RefusalName(Refusal refusal) {
  switch (refusal) {
    case Refusal::None: return "none";
    case Refusal::BadAppdirPath: return "bad_appdir_path";
    case Refusal::ReparsePoint: return "reparse_point";
    case Refusal::UnexpectedEntry: return "unexpected_entry";
    case Refusal::StagingIncomplete: return "staging_incomplete";
    case Refusal::StagingNotVerified: return "staging_not_verified";
    case Refusal::NotAdminOwned: return "not_admin_owned";
    case Refusal::LkgOccupied: return "lkg_occupied";
    case Refusal::NoLkg: return "no_lkg";
    case Refusal::RejectedOccupied: return "rejected_occupied";
    case Refusal::AppdirChanged: return "appdir_changed";
    case Refusal::UnsafeParent: return "unsafe_parent";
  }
  return "unknown";
}

const char* HoldReasonName(HoldReason hold) {
  switch (hold) {
    case HoldReason::None: return "none";
    case HoldReason::Rename: return "rename";
    case HoldReason::Lock: return "lock";
    case HoldReason::InstallRunning: return "install_running";
  }
  return "unknown";
}

const char* SwapGateName(SwapGate gate) {
  switch (gate) {
    case SwapGate::None: return "none";
    case SwapGate::BadAppdirPath: return "bad_appdir_path";
    case SwapGate::NothingStaged: return "nothing_staged";
    case SwapGate::CorvellaRunning: return "corvella_running";
    case SwapGate::InstallRunning: return "install_running";
    case SwapGate::LockHeld: return "lock_held";
  }
  return "?";
}

bool ValidateLayout(SwapResult& result) {
  const LayoutSnapshot& snapshot = result.snapshot;
  if (!snapshot.valid) return Refuse(result, Refusal::BadAppdirPath);
  if (snapshot.parent_is_reparse_point) return Refuse(result, Refusal::ReparsePoint);
  if (snapshot.parent_kind != PathKind::Directory) return Refuse(result, Refusal::BadAppdirPath);
  for (const FolderState state :
       {snapshot.appdir_state, snapshot.staging_state, snapshot.lkg_state, snapshot.rejected_state}) {
    const Refusal refusal = RefusalForSibling(state);
    if (refusal != Refusal::None) return Refuse(result, refusal);
  }
  result.refusal = Refusal::None;
  return true;
}

bool LockForTransaction(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                        SwapResult& result) {
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths) || fs.IsSystemFolder(paths.appdir)) return Refuse(result, Refusal::BadAppdirPath);
  const AttemptRecord lock = TakeSwapLock(fs, paths.lock, budgets.lock_ms, remover);
  if (lock.result != MoveResult::Ok) {
    result.outcome = Outcome::Held;
    result.hold = HoldReason::Lock;
    result.lock_error = lock.last_error;
    return false;
  }
  return true;
}

AttemptRecord TakeSwapLock(IFileSystem& fs, const WideString& lock_path, uint32_t budget_ms, const Remover& remover) {
  AttemptRecord record = LockWithRetry(fs, lock_path, budget_ms);
  if (record.result != MoveResult::Failed || !remover) return record;
  // Only a sharing violation is another holder of the lock. Any other failure with something at the name is an entry
  // the lock cannot be made from; a stranger's entry there would otherwise deny every later lock for ever.
  const PathInfo info = fs.GetPathInfo(lock_path);
  if (info.kind == PathKind::Absent || info.kind == PathKind::Error) return record;
  std::string verdict = fs.AdminOnlyVerdict(lock_path);
  if (verdict.empty()) return record;
  const bool entry_only = info.is_reparse_point || info.kind == PathKind::File;
  if (!remover(GcItem{lock_path, entry_only, "not_admin_only", std::move(verdict)})) return record;
  return LockWithRetry(fs, lock_path, budget_ms);
}

}  // namespace kestrova::appdirswap
