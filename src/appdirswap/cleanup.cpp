#include "appdirswap/cleanup.h"

#include "appdirswap/foreign_entries.h"
#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

bool IsRealDirectory(FolderState state) {
  return state == FolderState::Incomplete || state == FolderState::Complete;
}

GcItem StagingFailedVerification(const LayoutSnapshot& snapshot) {
  return GcItem{snapshot.paths.staging, IsEntryOnly(snapshot.staging_state), "staging_failed_verification", {}};
}

// ParseAppdir and the lock, shared by both locked passes.
bool LockFamily(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                uint32_t& lock_error) {
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) return false;
  const AttemptRecord lock = TakeSwapLock(fs, paths.lock, budgets.lock_ms, remover);
  lock_error = lock.result == MoveResult::Ok ? 0 : lock.last_error;
  return lock.result == MoveResult::Ok;
}

}  // namespace

std::vector<GcItem> CollectGcItems(const LayoutSnapshot& snapshot, const GcPolicy& policy) {
  std::vector<GcItem> items;
  // While APPDIR is missing, a link or a stranger's, every sibling may be the copy a repair needs.
  if (!snapshot.valid || snapshot.parent_kind != PathKind::Directory || snapshot.parent_is_reparse_point ||
      !IsRealDirectory(snapshot.appdir_state) || !IsAppdirPresent(snapshot)) {
    return items;
  }
  const LayoutPaths& paths = snapshot.paths;
  const bool staging_usable = IsUsable(snapshot.staging_state, snapshot.staging_admin_owned);

  if (IsEntryOnly(snapshot.lkg_state)) {
    items.push_back({paths.lkg, true, "not_a_real_dir", snapshot.lkg_verdict});
  } else if (snapshot.lkg_state == FolderState::Incomplete) {
    items.push_back({paths.lkg, false, "lkg_without_marker", snapshot.lkg_verdict});
  } else if (snapshot.lkg_state == FolderState::Complete && !snapshot.lkg_admin_owned) {
    items.push_back({paths.lkg, false, "lkg_not_admin_owned", snapshot.lkg_verdict});
  } else if (snapshot.lkg_state == FolderState::Complete) {
    if (policy.appdir_confirmed_healthy) {
      items.push_back({paths.lkg, false, "appdir_confirmed_healthy", {}});
    } else if (staging_usable && policy.staging_wanted) {
      items.push_back({paths.lkg, false, "superseded_by_pending_staging", {}});
    }
  }

  if (IsEntryOnly(snapshot.rejected_state)) {
    items.push_back({paths.rejected, true, "not_a_real_dir", snapshot.rejected_verdict});
  } else if (IsForeign(snapshot.rejected_state, snapshot.rejected_verdict)) {
    items.push_back({paths.rejected, false, kForeignReason, snapshot.rejected_verdict});
  } else if (IsRealDirectory(snapshot.rejected_state) && policy.revert_reported) {
    items.push_back({paths.rejected, false, "revert_reported", {}});
  }

  if (policy.skip_staging) return items;

  if (snapshot.partial_state != FolderState::Absent && snapshot.partial_state != FolderState::Unreadable) {
    items.push_back({paths.partial, IsEntryOnly(snapshot.partial_state), "stale_partial", snapshot.partial_verdict});
  }

  if (IsEntryOnly(snapshot.staging_state)) {
    items.push_back({paths.staging, true, "not_a_real_dir", snapshot.staging_verdict});
  } else if (snapshot.staging_state == FolderState::Incomplete) {
    items.push_back({paths.staging, false, "staging_without_marker", snapshot.staging_verdict});
  } else if (snapshot.staging_state == FolderState::Complete && !snapshot.staging_admin_owned) {
    items.push_back({paths.staging, false, "staging_not_admin_owned", snapshot.staging_verdict});
  } else if (staging_usable && !policy.staging_wanted) {
    items.push_back({paths.staging, false, "staging_not_wanted", {}});
  }
  return items;
}

GcPassResult ApplyGcItems(const LayoutSnapshot& snapshot, const Verifier& verifier, const Remover& remover) {
  GcPassResult pass;
  std::vector<GcItem> items = CollectGcItems(snapshot, kSwapGcPolicy);
  for (auto item = items.begin(); item != items.end(); ++item) {
    if (item->path != snapshot.paths.lkg || !IsUsable(snapshot.lkg_state, snapshot.lkg_admin_owned)) continue;
    if (!verifier || !verifier(snapshot.paths.staging)) {
      items.erase(item);
      pass.staging_failed_verification = true;
    }
    break;
  }
  if (!remover) return pass;
  for (const GcItem& item : items) remover(item);
  if (pass.staging_failed_verification) pass.staged_tree_deleted = remover(StagingFailedVerification(snapshot));
  return pass;
}

bool CleanLeftovers(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Verifier& verifier,
                    const Remover& remover, GcPassResult& pass) {
  pass = GcPassResult{};
  if (!LockFamily(appdir, fs, budgets, remover, pass.lock_error)) return false;
  pass = ApplyGcItems(TakeSnapshot(appdir, fs), verifier, remover);
  fs.Unlock();
  return true;
}

bool DeleteRejectedStaging(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                           bool& deleted) {
  deleted = false;
  uint32_t lock_error = 0;
  if (!LockFamily(appdir, fs, budgets, remover, lock_error)) return false;
  const LayoutSnapshot snapshot = TakeSnapshot(appdir, fs);
  if (remover && snapshot.staging_state != FolderState::Absent && snapshot.staging_state != FolderState::Unreadable) {
    deleted = remover(StagingFailedVerification(snapshot));
  }
  fs.Unlock();
  return true;
}

}  // namespace kestrova::appdirswap
