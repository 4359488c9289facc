// The locked steps of `stage` and `commit-staging`, written against IFileSystem so that a power cut can be swept
// through them like through a swap: commit replaces an old .staging with the marked .staging.partial, and a
// reinstall that found APPDIR healthy drops a stale .staging. Writing the marker, extracting and the log lines are
// the commands' own (staging_commands.h).
#pragma once

#include <cstdint>

#include "appdirswap/file_system.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {

// How far a locked staging step got. The numbers are fixed.
enum class StagingStep : uint32_t {
  Done = 0,
  BadPath = 1,         // ParseAppdir refused the path
  LockNotTaken = 2,    // `error` is the lock's last error
  OldStagingKept = 3,  // the remover could not remove .staging
  Held = 4,            // .staging.partial could not be held for the move; `error` says why
  RenameFailed = 5,    // the rename of .staging.partial failed; `error` says why
};

struct StagingMoveResult {
  StagingStep step = StagingStep::Done;
  uint32_t error = 0;
  bool removed = false;  // an entry was handed to the remover and is gone
};

// Under the swap lock (TakeSwapLock): .staging.partial is held (Held when that fails: nothing removed), then .staging
// in any state goes to `remover` as "replaced_by_commit" (as itself when it is a link or a file, else its marker
// first), then .staging.partial is renamed to .staging through the hold. Nothing is retried but the lock and the hold;
// the lock and the holds are released before returning.
StagingMoveResult CommitUnderLock(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets,
                                  const Remover& remover);

// Under the swap lock: .staging in any state but absent goes to `remover` as "stale_staging".
// `removed` tells whether there was one and it is gone; OldStagingKept when the remover failed.
StagingMoveResult DeleteStaleStagingUnderLock(WideView appdir, IFileSystem& fs, const RetryBudgets& budgets,
                                              const Remover& remover);

}  // namespace kestrova::appdirswap
