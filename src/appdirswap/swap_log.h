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

// What a transaction's result adds to its rename lines, each beginning "<prefix>: ": a lock error other than a
// sharing violation (ERROR), every foreign entry that could not be removed (ERROR), for a NotAdminOwned refusal the
// verdict of each complete copy that was not admin-only (WARN), and a foreign APPDIR left in place (ERROR).
std::vector<SwapLogLine> ResultDetailLines(const std::string& prefix, const SwapResult& result);

// The folders (and the lock file) that stayed busy for a whole budget in `result`, each once, in the order met: the
// source of a hold or rename that ended Busy, and the lock when it was held elsewhere (a sharing violation). These
// are the paths whose holders the log names.
std::vector<WideString> BusyPaths(const SwapResult& result, const LayoutPaths& paths);

// The lines Swap::Run logs for `report`, in order. `appdir` is the path the command was handed (shown in the line of a
// path it cannot use). By gate: BadAppdirPath one ERROR line; NothingStaged one INFO line; CorvellaRunning none (the
// check has logged); any other gate the state line first, then "swap: <gate>; leaving the staging dir for Dovrecat" for
// InstallRunning and LockHeld (the lock's error named when it is not a sharing violation), or for None the SECURITY
// line when the parent is not admin-only, one line per hold that failed and per rename record, ResultDetailLines and
// the summary line of the outcome.
std::vector<SwapLogLine> FormatSwapLog(const SwapReport& report, WideView appdir);

#ifdef _WIN32
// Writes each line with LogInfo, LogWarn or LogError after its level.
void LogSwapLines(const std::vector<SwapLogLine>& lines);
#endif

}  // namespace kestrova::appdirswap
