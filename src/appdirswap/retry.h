// Renames, holds and lock attempts that meet a busy file are tried again with growing pauses until a time budget ends;
// the record of what happened goes to the log. Written against IFileSystem, so its clock and sleep are the interface's.
#pragma once

#include "appdirswap/file_system.h"

namespace kestrova::appdirswap {

// Attempts IFileSystem::Rename until it is not Busy or `budget_ms` has passed, pausing 50, 100, 200, 400, 800, then
// 1000 ms each time, the last pause cut to end at the budget. A Failed result is never retried. The record has
// `from` and `to` filled.
AttemptRecord RenameWithRetry(IFileSystem& fs, const WideString& from, const WideString& to, uint32_t budget_ms);

// The same loop around IFileSystem::HoldForMove; `from` is the folder, `to` stays empty. On Ok the folder is held
// until IFileSystem::ReleaseHolds.
AttemptRecord HoldWithRetry(IFileSystem& fs, const WideString& folder, uint32_t budget_ms);

// The same loop around IFileSystem::TryLock; `from` and `to` stay empty. On Ok, `fs` holds the lock until its Unlock
// or its destruction.
AttemptRecord LockWithRetry(IFileSystem& fs, const WideString& lock_path, uint32_t budget_ms);

}  // namespace kestrova::appdirswap
