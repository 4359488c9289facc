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

struct SwapResult {
  Outcome outcome = Outcome::Nothing;
  Refusal refusal = Refusal::None;
  HoldReason hold = HoldReason::None;
  LayoutSnapshot snapshot;             // taken under the lock
  std::vector<AttemptRecord> renames;  // every retried rename, in order
  WideString version;                  // the version a rename has just put into APPDIR; empty if none
  bool active_version_written = false;
  std::string unsafe_parent_reason;    // UnsafeAncestorReason of the parent; empty when admin-only or not asked
};

// Judges a staged tree; a missing verifier counts as a refusal everywhere.
using Verifier = std::function<bool(const WideString& folder)>;

// Checks, in this order: the snapshot is valid, the parent is not a reparse point, the parent is a directory, then
// APPDIR, .staging, .lkg and .rejected (the first that is a reparse point, a plain file or unreadable decides);
// .staging.partial is not examined. On failure sets outcome Refused with the refusal and returns false; on success
// sets refusal None and leaves the outcome alone.
bool ValidateLayout(SwapResult& result);

// The first step of every transaction. Refused/BadAppdirPath for a path ParseAppdir rejects or a system folder (or a
// folder above one); Held/Lock when LockWithRetry on the lock path does not succeed within `budgets.lock_ms`. True
// when `fs` now holds the lock; the caller releases it with Unlock on every way out.
bool LockForTransaction(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets, SwapResult& result);

}  // namespace kestrova::appdirswap
