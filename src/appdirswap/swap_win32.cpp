#include "appdirswap/swap.h"

#include "appdirswap/corvella_process.h"
#include "appdirswap/holders.h"
#include "appdirswap/staged_tree_verify.h"
#include "appdirswap/swap_log.h"
#include "appdirswap/win32_file_system.h"
#include "core/log.h"

namespace kestrova::appdirswap::Swap {

int Run(const WideString& appdir) {
  Win32FileSystem fs;
  SwapHooks hooks;
  hooks.corvella_running = CorvellaRunningCheck;
  SwapReport report = PlanAndSwap(appdir, fs, hooks, VerifyAndLog, RemoveAndLog, RetryBudgets{});
  LogReport(report, appdir);
  // The clean-up pass's lock is the transaction's: a lock_held gate is the same wait, met one phase earlier.
  if (report.gate == SwapGate::LockHeld) report.result.hold = HoldReason::Lock;
  LogHolders("swap", BusyPaths(report.result, report.snapshot.paths));
  return 0;
}

void LogReport(const SwapReport& report, const WideString& appdir) { LogSwapLines(FormatSwapLog(report, appdir)); }

}  // namespace kestrova::appdirswap::Swap

namespace kestrova::appdirswap {

void LogSwapLines(const std::vector<SwapLogLine>& lines) {
  for (const SwapLogLine& line : lines) {
    if (line.level == kReportError) {
      LogError("%s", line.text.c_str());
    } else if (line.level == kReportWarning) {
      LogWarn("%s", line.text.c_str());
    } else {
      LogInfo("%s", line.text.c_str());
    }
  }
}

}  // namespace kestrova::appdirswap
