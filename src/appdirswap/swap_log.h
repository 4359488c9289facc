// The log lines of the swap command, made from a SwapReport alone, so every line can be checked without Windows.
// Writing them is Swap::Run's; the verifier's and the remover's own lines are theirs.
#pragma once

#include <string>
#include <vector>

#include "appdirswap/swap.h"
#include "core/report.h"

namespace kestrova::appdirswap {

struct SwapLogLine {
  ReportLevel level = kReportInfo;
  std::string text;  // UTF-8, without the time stamp and level
};

// The lines Swap::Run logs for `report`, in order. `appdir` is the path the command was handed (shown in the line
// of a path it cannot use). By gate: BadAppdirPath one ERROR line; NothingStaged one INFO line; CorvellaRunning none
// (the check has logged); any other gate the state line first, then "swap: <gate>; leaving the staging dir for
// Dovrecat" for InstallRunning and LockHeld, or for None the SECURITY line when the parent is not admin-only, one
// line per rename record and the summary line of the outcome.
std::vector<SwapLogLine> FormatSwapLog(const SwapReport& report, WideView appdir);

}  // namespace kestrova::appdirswap
