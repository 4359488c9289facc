// The vocabulary of an APPDIR transaction (outcome, refusal, hold, swap gate, with their fixed numbers and log names),
// the result that a swap or repair fills, and the two steps every transaction begins with: taking the swap lock and
// checking the layout. What a transaction then does is repair.h's (and the swap's).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "appdirswap/file_system.h"
#include "appdirswap/layout.h"

namespace kestrova::appdirswap {

// The numbers are fixed; OutcomeName gives the log names.
enum class Outcome : uint32_t {
  Swapped = 0,
  Held = 1,
  RolledBack = 2,
  Nothing = 3,
  RepairedForward = 4,
  RepairedBack = 5,
  Reverted = 6,  // reserved; nothing produces it
  Refused = 7,
  Failed = 8,
  Torn = 9,
  Unrecoverable = 10,
};

enum class Refusal : uint32_t {
  None = 0,
  BadAppdirPath = 1,
  ReparsePoint = 2,
  UnexpectedEntry = 3,
  StagingIncomplete = 4,
  StagingNotVerified = 5,
  NotAdminOwned = 6,
  LkgOccupied = 7,
  NoLkg = 8,             // reserved
  RejectedOccupied = 9,  // reserved
  AppdirChanged = 10,    // reserved
  UnsafeParent = 11,
};

enum class HoldReason : uint32_t { None = 0, Rename = 1, Lock = 2, InstallRunning = 3 };

// The swap command's checks before it touches anything.
enum class SwapGate : uint32_t {
  None = 0,
  BadAppdirPath = 1,
  NothingStaged = 2,
  CorvellaRunning = 3,
  InstallRunning = 4,
  LockHeld = 5,
};

// Log names as in the tables; "unknown" for a value outside them ("?" for a SwapGate).
const char* OutcomeName(Outcome outcome);
const char* RefusalName(Refusal refusal);
const char* HoldReasonName(HoldReason hold);
const char* SwapGateName(SwapGate gate);

// One entry to remove, with why; the clean-up's rules and the removal of foreign entries make them.
struct GcItem {
  WideString path;          // one of the LayoutPaths
  bool entry_only = false;  // a reparse point or a plain file: removed as itself, never looked into
  const char* reason = "";  // static text, printed in the log
  std::string verdict;      // for an entry that is not admin-only, why not; the remover warns with it
};

// Returns whether the entry is gone.
using Remover = std::function<bool(const GcItem& item)>;

// A foreign entry (not admin-only) that had to go and could not be removed.
struct ForeignEntry {
  WideString path;
  std::string verdict;
};

struct SwapResult {
  Outcome outcome = Outcome::Nothing;
  Refusal refusal = Refusal::None;
  HoldReason hold = HoldReason::None;
  LayoutSnapshot snapshot;             // taken under the lock
  std::vector<AttemptRecord> renames;  // every retried rename, in order
  std::vector<AttemptRecord> holds;    // every folder held before it was moved, in order
  WideString version;                  // the version a rename has just put into APPDIR; empty if none
  bool active_version_written = false;
  std::string unsafe_parent_reason;    // UnsafeAncestorReason of the parent; empty when admin-only or not asked
  uint32_t lock_error = 0;             // the last error of a lock that was not obtained
  std::vector<ForeignEntry> foreign_left;  // foreign entries whose removal failed, in the order tried
};

// Judges a staged tree; a missing verifier counts as a refusal everywhere.
using Verifier = std::function<bool(const WideString& folder)>;

// Checks, in this order: the snapshot is valid, the parent is not a reparse point, the parent is a directory, then
// APPDIR, .staging, .lkg and .rejected (the first that is a reparse point, a plain file or unreadable decides);
// .staging.partial is not examined. On failure sets outcome Refused with the refusal and returns false; on success
// sets refusal None and leaves the outcome alone.
bool ValidateLayout(SwapResult& result);

// The first step of every transaction. Refused/BadAppdirPath for a path ParseAppdir rejects or a system folder (or a
// folder above one); Held/Lock (with `lock_error`) when TakeSwapLock does not succeed. True when `fs` now holds the
// lock; the caller releases it with Unlock on every way out.
bool LockForTransaction(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, const Remover& remover,
                        SwapResult& result);

// LockWithRetry on `lock_path`. When that fails with anything but a sharing violation while an entry that is not
// admin-only sits at the lock's name (a folder there denies every open), the entry goes to `remover` as
// "not_admin_only" and the lock is tried once more with the same budget. The record is the last attempt's.
AttemptRecord TakeSwapLock(IFileSystem& fs, const WideString& lock_path, uint32_t budget_ms, const Remover& remover);

}  // namespace kestrova::appdirswap
