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

struct GcPolicy {
  bool appdir_confirmed_healthy = false;  // the last-known-good copy may go
  bool revert_reported = false;           // .rejected may go
  bool staging_wanted = false;            // a pending .staging is wanted
  bool skip_staging = false;              // leave .staging.partial and .staging alone
};

// The only policy this program uses: the swap command's clean-up pass.
inline constexpr GcPolicy kSwapGcPolicy{false, false, true, false};

// The items to remove, in the order .lkg, .rejected, .staging.partial, .staging, at most one each, each with the
// entry's verdict when it is not admin-only. Nothing unless the snapshot is valid, the parent a plain directory and
// APPDIR a real, admin-only directory (incomplete or complete). A .rejected folder that is not admin-only goes as
// "not_admin_only" whatever the policy.
std::vector<GcItem> CollectGcItems(const LayoutSnapshot& snapshot, const GcPolicy& policy);

struct GcPassResult {
  bool staging_failed_verification = false;  // a usable .lkg was kept because the staged tree did not verify
  bool staged_tree_deleted = false;          // and that staged tree was then removed
  uint32_t lock_error = 0;                   // the last error of a lock that was not obtained
};

// CollectGcItems under kSwapGcPolicy, except that a usable .lkg stays unless `verifier` accepts .staging; every
// remaining item goes to `remover` in order (a failure does not stop the pass); a staged tree that failed
// verification goes last, as "staging_failed_verification". Without a remover nothing is removed.
GcPassResult ApplyGcItems(const LayoutSnapshot& snapshot, const Verifier& verifier, const Remover& remover);

// One locked pass: ParseAppdir, TakeSwapLock (a foreign entry squatting the lock's name goes to `remover`),
// TakeSnapshot, ApplyGcItems, Unlock. False when the path is rejected or the lock was not obtained (nothing removed;
// `pass` then holds only the lock's error).
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

// A remover that logs under `prefix` ("swap", "repair", ...): first, for an item with a verdict, the warning
// "<prefix>: <path> is not admin-only (<verdict>); removing it"; then RemoveGcItem and "<prefix>: removed <path>
// (<reason>)" or the warning "<prefix>: could not remove <path> (<reason>): <error>".
Remover LoggingRemover(const char* prefix);

// LoggingRemover("swap") as a plain function: the remover the swap command supplies.
bool RemoveAndLog(const GcItem& item);
#endif

}  // namespace kestrova::appdirswap
