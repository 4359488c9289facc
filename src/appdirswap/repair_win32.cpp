#include "appdirswap/repair.h"

#include "appdirswap/staged_tree_verify.h"
#include "appdirswap/win32_file_system.h"
#include "core/log.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {

int RunRepair(const WideString& appdir) {
  Win32FileSystem fs;
  const SwapResult result = RepairTransaction(appdir, fs, VerifyAndLog, RetryBudgets{});
  if (!result.unsafe_parent_reason.empty()) {
    LogWarn("repair: a folder above APPDIR is not admin-only (%s); a missing APPDIR is repaired anyway",
            result.unsafe_parent_reason.c_str());
  }
  for (const AttemptRecord& record : result.renames) {
    LogInfo("repair: rename %s -> %s: %s after %u attempt(s), last error %u",
            WideToUtf8(securefs::DisplayPath(record.from)).c_str(), WideToUtf8(securefs::DisplayPath(record.to)).c_str(),
            record.result == MoveResult::Ok ? "ok" : "failed", record.attempts, record.last_error);
  }
  LogInfo("repair: %s, refusal %s, hold %s; APPDIR version %s", OutcomeName(result.outcome),
          RefusalName(result.refusal), HoldReasonName(result.hold), WideToUtf8(result.version).c_str());
  return RepairExitCode(result.outcome);
}

}  // namespace kestrova::appdirswap
