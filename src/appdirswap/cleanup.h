// Removal of APPDIR's siblings that can no longer serve, by fixed rules: the rules turn a snapshot into GcItems with
// their reasons, and a remover deletes them one by one under the swap lock. A last-known-good copy is never given up
// for a staged tree that does not verify. The removal itself (RemoveGcItem, RemoveAndLog) is Windows-only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "appdirswap/file_system.h"
#include "appdirswap/layout.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

struct GcItem {
  WideString path;          // one of the LayoutPaths
  bool entry_only = false;  // a reparse point or a plain file: removed as itself, never looked into
  const char* reason = "";  // static text, printed in the log
};

// Returns whether the entry is gone.
using Remover = std::function<bool(const GcItem& item)>;

struct GcPolicy {
  bool appdir_confirmed_healthy = false;  // the last-known-good copy may go
  bool revert_reported = false;           // .rejected may go
  bool staging_wanted = false;            // a pending .staging is wanted
  bool skip_staging = false;              // leave .staging.partial and .staging alone
};

// The only policy this program uses: the swap command's clean-up pass.
inline constexpr GcPolicy kSwapGcPolicy{false, false, true, false};

// The items to remove, in the order .lkg, .rejected, .staging.partial, .staging, at most one each. Nothing unless the
// snapshot is valid, the parent a plain directory and APPDIR a real directory (incomplete or complete).
std::vector<GcItem> CollectGcItems(const LayoutSnapshot& snapshot, const GcPolicy& policy);

struct GcPassResult {
  bool staging_failed_verification = false;  // a usable .lkg was kept because the staged tree did not verify
  bool staged_tree_deleted = false;          // and that staged tree was then removed
};

// CollectGcItems under kSwapGcPolicy, except that a usable .lkg stays unless `verifier` accepts .staging; every
// remaining item goes to `remover` in order (a failure does not stop the pass); a staged tree that failed
// verification goes last, as "staging_failed_verification". Without a remover nothing is removed.
GcPassResult ApplyGcItems(const LayoutSnapshot& snapshot, const Verifier& verifier, const Remover& remover);

// One locked pass: ParseAppdir, LockWithRetry, TakeSnapshot, ApplyGcItems, Unlock. False when the path is rejected or
// the lock was not obtained (nothing removed); `pass` then stays empty.
bool CleanLeftovers(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Verifier& verifier,
                    const Remover& remover, GcPassResult& pass);

// Under the lock, hands .staging (in any state but absent or unreadable) to `remover` as
// "staging_failed_verification". False when the path is rejected or the lock was not obtained; `deleted` tells
// whether the remover removed it.
bool DeleteRejectedStaging(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                           bool& deleted);

#ifdef _WIN32
// Deletes the entry without following links (DeleteTreeByHandle on its long-path form), ".complete" first unless
// `entry_only`, so a removal cut short leaves a folder the next pass finds incomplete. An entry already gone counts
// as removed. `error` is the Win32 error of a failure, else 0.
bool RemoveGcItem(const GcItem& item, uint32_t& error);

// RemoveGcItem, then "swap: removed <path> (<reason>)" or the warning "swap: could not remove <path> (<reason>):
// <error>". The remover the swap command supplies.
bool RemoveAndLog(const GcItem& item);
#endif

}  // namespace kestrova::appdirswap
