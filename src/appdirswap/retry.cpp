#include "appdirswap/retry.h"

#include <algorithm>

namespace kestrova::appdirswap {
namespace {

constexpr uint64_t kFirstPauseMs = 50;
constexpr uint64_t kLongestPauseMs = 1000;

template <typename Attempt>
void RetryLoop(IFileSystem& fs, uint32_t budget_ms, AttemptRecord& record, Attempt attempt) {
  const uint64_t start = fs.NowMs();
  uint64_t delay = kFirstPauseMs;
  for (;;) {
    ++record.attempts;
    uint32_t error = 0;
    record.result = attempt(error);
    if (record.result != MoveResult::Ok) record.last_error = error;
    const uint64_t elapsed = fs.NowMs() - start;
    if (record.result != MoveResult::Busy || elapsed >= budget_ms) break;
    fs.SleepMs(static_cast<uint32_t>(std::min<uint64_t>(budget_ms - elapsed, delay)));
    delay = std::min(delay * 2, kLongestPauseMs);
  }
  record.elapsed_ms = fs.NowMs() - start;
}

}  // namespace

MoveResult ClassifyMoveError(uint32_t error) {
  if (error == kErrorSharingViolation || error == kErrorLockViolation || error == kErrorAccessDenied) {
    return MoveResult::Busy;
  }
  return MoveResult::Failed;
}

MoveResult ClassifyLockError(uint32_t error) {
  return error == kErrorSharingViolation ? MoveResult::Busy : MoveResult::Failed;
}

WideString ToLongPathForm(WideView path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\' && path.substr(0, 4) != L"\\\\?\\") {
    return L"\\\\?\\" + WideString(path);
  }
  return WideString(path);
}

AttemptRecord RenameWithRetry(IFileSystem& fs, const WideString& from, const WideString& to, uint32_t budget_ms) {
  AttemptRecord record;
  record.from = from;
  record.to = to;
  RetryLoop(fs, budget_ms, record, [&](uint32_t& error) { return fs.Rename(from, to, error); });
  return record;
}

AttemptRecord HoldWithRetry(IFileSystem& fs, const WideString& folder, uint32_t budget_ms) {
  AttemptRecord record;
  record.from = folder;
  RetryLoop(fs, budget_ms, record, [&](uint32_t& error) { return fs.HoldForMove(folder, error); });
  return record;
}

AttemptRecord LockWithRetry(IFileSystem& fs, const WideString& lock_path, uint32_t budget_ms) {
  AttemptRecord record;
  RetryLoop(fs, budget_ms, record, [&](uint32_t& error) { return fs.TryLock(lock_path, error); });
  return record;
}

}  // namespace kestrova::appdirswap
