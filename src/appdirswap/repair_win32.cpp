#include "appdirswap/repair.h"

#include "appdirswap/cleanup.h"
#include "appdirswap/holders.h"
#include "appdirswap/staged_tree_verify.h"
#include "appdirswap/swap_log.h"
#include "appdirswap/win32_file_system.h"
#include "core/log.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {

int RunRepair(const WideString& appdir) {
  Win32FileSystem fs;
  const Remover remover = LoggingRemover("repair");
  const SwapResult result = RepairTransaction(appdir, fs, VerifyAndLog, remover, RetryBudgets{});
  if (!result.unsafe_parent_reason.empty()) {
    LogWarn("repair: a folder above APPDIR is not admin-only (%s); a missing APPDIR is repaired anyway",
            result.unsafe_parent_reason.c_str());
  }
  std::vector<AttemptRecord> records;
  for (const AttemptRecord& hold : result.holds) {
    if (hold.result != MoveResult::Ok) records.push_back(hold);
  }
  records.insert(records.end(), result.renames.begin(), result.renames.end());
  for (const AttemptRecord& record : records) {
    const std::string from = WideToUtf8(securefs::DisplayPath(record.from));
    const std::string what =
        record.to.empty() ? "hold " + from : "rename " + from + " -> " + WideToUtf8(securefs::DisplayPath(record.to));
    LogInfo("repair: %s: %s after %u attempt(s), last error %u", what.c_str(),
            record.result == MoveResult::Ok ? "ok" : "failed", record.attempts, record.last_error);
  }
  LogSwapLines(ResultDetailLines("repair", result));
  LogInfo("repair: %s, refusal %s, hold %s; APPDIR version %s", OutcomeName(result.outcome),
          RefusalName(result.refusal), HoldReasonName(result.hold), WideToUtf8(result.version).c_str());
  LayoutPaths paths;
  if (ParseAppdir(appdir, paths)) LogHolders("repair", BusyPaths(result, paths));
  const int code = RepairExitCode(result.outcome);
  // A stranger's entry that could not be removed is a failure even when a copy could be put back.
  return code == 0 && !result.foreign_left.empty() ? 1 : code;
}

}  // namespace kestrova::appdirswap
