#include "appdirswap/swap_log.h"

#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

std::string Shown(WideView path) { return WideToUtf8(securefs::DisplayPath(path)); }

// "<state> (<version>)" as the state line shows a sibling.
std::string StateWithVersion(FolderState state, const WideString& version) {
  return std::string(FolderStateName(state)) + " (" + WideToUtf8(version) + ")";
}

std::string StateLine(const LayoutSnapshot& snapshot) {
  return "swap: APPDIR " + StateWithVersion(snapshot.appdir_state, snapshot.appdir_version) + ", staging " +
         StateWithVersion(snapshot.staging_state, snapshot.staging_version) + ", .lkg " +
         StateWithVersion(snapshot.lkg_state, snapshot.lkg_version) + ", .rejected " +
         FolderStateName(snapshot.rejected_state);
}

std::string RenameLine(const AttemptRecord& record) {
  return "swap: rename " + Shown(record.from) + " -> " + Shown(record.to) + ": " +
         (record.result == MoveResult::Ok ? "ok" : "failed") + " after " + std::to_string(record.attempts) +
         " attempt(s), " + std::to_string(record.elapsed_ms) + " ms, last error " + std::to_string(record.last_error);
}

SwapLogLine SummaryLine(const SwapReport& report) {
  const SwapResult& result = report.result;
  const std::string summary = std::string(OutcomeName(result.outcome)) + ", refusal " + RefusalName(result.refusal) +
                              ", hold " + HoldReasonName(result.hold);
  switch (result.outcome) {
    case Outcome::Swapped:
    case Outcome::RepairedForward:
      return {kReportInfo, "swap: " + summary + "; APPDIR is now version " + WideToUtf8(result.version) +
                               " (ActiveVersion " + (result.active_version_written ? "written" : "NOT written") + ")"};
    case Outcome::Torn:
      return {kReportError, "swap: " + summary + "; APPDIR is missing, Dovrecat repairs it before its next launch"};
    case Outcome::Unrecoverable:
      return {kReportError, "swap: " + summary + "; nothing can replace APPDIR, a repair (msiexec /fa) reinstalls it"};
    default:
      break;
  }
  if (report.staged_tree_deleted) {
    return {kReportError, "swap: " + summary + "; the staged tree was deleted, a repair (msiexec /fa) re-stages it"};
  }
  return {kReportInfo, "swap: " + summary + "; leaving the staging dir for Dovrecat"};
}

}  // namespace

std::vector<SwapLogLine> FormatSwapLog(const SwapReport& report, WideView appdir) {
  std::vector<SwapLogLine> lines;
  switch (report.gate) {
    case SwapGate::BadAppdirPath:
      lines.push_back({kReportError, "swap: " + Shown(appdir) + " is not a usable APPDIR"});
      return lines;
    case SwapGate::NothingStaged:
      lines.push_back({kReportInfo, "swap: nothing staged"});
      return lines;
    case SwapGate::CorvellaRunning:
      return lines;
    default:
      break;
  }
  lines.push_back({kReportInfo, StateLine(report.snapshot)});
  if (report.gate == SwapGate::InstallRunning || report.gate == SwapGate::LockHeld) {
    lines.push_back({kReportInfo, std::string("swap: ") + SwapGateName(report.gate) +
                                      "; leaving the staging dir for Dovrecat"});
    return lines;
  }
  if (report.gate != SwapGate::None) return lines;
  if (!report.unsafe_parent_reason.empty()) {
    lines.push_back({kReportError, "swap: SECURITY: a folder above APPDIR is not admin-only (" +
                                       report.unsafe_parent_reason + "); " +
                                       (report.result.refusal == Refusal::UnsafeParent ? "not swapping"
                                                                                       : "repairing APPDIR anyway")});
  }
  for (const AttemptRecord& record : report.result.renames) lines.push_back({kReportInfo, RenameLine(record)});
  lines.push_back(SummaryLine(report));
  return lines;
}

}  // namespace kestrova::appdirswap
