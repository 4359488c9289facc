#include "appdirswap/staging_moves.h"

#include "appdirswap/layout.h"
#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

// ParseAppdir and TakeSwapLock; on success `fs` holds the lock.
bool LockStaging(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                 LayoutPaths& paths, StagingMoveResult& result) {
  if (!ParseAppdir(appdir, paths)) {
    result.step = StagingStep::BadPath;
    return false;
  }
  const AttemptRecord lock = TakeSwapLock(fs, paths.lock, budgets.lock_ms, remover);
  if (lock.result != MoveResult::Ok) {
    result.step = StagingStep::LockNotTaken;
    result.error = lock.last_error;
    return false;
  }
  return true;
}

// Hands .staging to `remover` when it exists; false when it is still there.
bool RemoveStaging(IFileSystem& fs, const LayoutPaths& paths, const Remover& remover, const char* reason,
                   StagingMoveResult& result) {
  WideString unused;
  const FolderState state = ReadFolderState(fs, paths.staging, false, unused);
  if (state == FolderState::Absent) return true;
  if (!remover || !remover(GcItem{paths.staging, IsEntryOnly(state), reason, {}})) {
    result.step = StagingStep::OldStagingKept;
    return false;
  }
  result.removed = true;
  return true;
}

}  // namespace

StagingMoveResult CommitUnderLock(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets,
                                  const Remover& remover) {
  StagingMoveResult result;
  LayoutPaths paths;
  if (!LockStaging(appdir, fs, budgets, remover, paths, result)) return result;
  // The partial folder is held before the old .staging goes, so a holder elsewhere costs nothing that was there.
  const AttemptRecord hold = HoldWithRetry(fs, paths.partial, budgets.rename_ms);
  uint32_t error = 0;
  if (hold.result != MoveResult::Ok) {
    result.step = StagingStep::Held;
    result.error = hold.last_error;
  } else if (RemoveStaging(fs, paths, remover, "replaced_by_commit", result) &&
             fs.Rename(paths.partial, paths.staging, error) != MoveResult::Ok) {
    result.step = StagingStep::RenameFailed;
    result.error = error;
  }
  fs.ReleaseHolds();
  fs.Unlock();
  return result;
}

StagingMoveResult DeleteStaleStagingUnderLock(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets,
                                              const Remover& remover) {
  StagingMoveResult result;
  LayoutPaths paths;
  if (!LockStaging(appdir, fs, budgets, remover, paths, result)) return result;
  RemoveStaging(fs, paths, remover, "stale_staging", result);
  fs.Unlock();
  return result;
}

}  // namespace kestrova::appdirswap
