#include "appdirswap/swap_log.h"

#include <algorithm>

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
  const std::string what = record.to.empty() ? "hold " + Shown(record.from)
                                             : "rename " + Shown(record.from) + " -> " + Shown(record.to);
  return "swap: " + what + ": " + (record.result == MoveResult::Ok ? "ok" : "failed") + " after " +
         std::to_string(record.attempts) + " attempt(s), " + std::to_string(record.elapsed_ms) + " ms, last error " +
         std::to_string(record.last_error);
}

std::string NotAdminOnly(const std::string& prefix, const WideString& path, const std::string& verdict) {
  return prefix + ": " + Shown(path) + " is not admin-only (" + verdict + ")";
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

std::vector<WideString> BusyPaths(const SwapResult& result, const LayoutPaths& paths) {
  std::vector<WideString> busy;
  const auto add = [&busy](const WideString& path) {
    if (std::find(busy.begin(), busy.end(), path) == busy.end()) busy.push_back(path);
  };
  for (const auto* records : {&result.holds, &result.renames}) {
    for (const AttemptRecord& record : *records) {
      if (record.result == MoveResult::Busy) add(record.from);
    }
  }
  if (result.hold == HoldReason::Lock && result.lock_error == kErrorSharingViolation) add(paths.lock);
  return busy;
}

std::vector<SwapLogLine> ResultDetailLines(const std::string& prefix, const SwapResult& result) {
  std::vector<SwapLogLine> lines;
  if (result.hold == HoldReason::Lock && result.lock_error != kErrorSharingViolation) {
    lines.push_back({kReportError, prefix + ": could not take the swap lock: error " +
                                       std::to_string(result.lock_error)});
  }
  for (const ForeignEntry& entry : result.foreign_left) {
    lines.push_back({kReportError, NotAdminOnly(prefix, entry.path, entry.verdict) + "; it could not be removed"});
  }
  const LayoutSnapshot& snapshot = result.snapshot;
  if (result.refusal == Refusal::NotAdminOwned) {
    if (snapshot.staging_state == FolderState::Complete && !snapshot.staging_verdict.empty()) {
      lines.push_back({kReportWarning, NotAdminOnly(prefix, snapshot.paths.staging, snapshot.staging_verdict)});
    }
    if (snapshot.lkg_state == FolderState::Complete && !snapshot.lkg_verdict.empty()) {
      lines.push_back({kReportWarning, NotAdminOnly(prefix, snapshot.paths.lkg, snapshot.lkg_verdict)});
    }
  }
  if (IsForeign(snapshot.appdir_state, snapshot.appdir_verdict) && result.foreign_left.empty()) {
    lines.push_back({kReportError, NotAdminOnly(prefix, snapshot.paths.appdir, snapshot.appdir_verdict) +
                                       "; nothing admin-only can take its place"});
  }
  return lines;
}

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
    // Only a sharing violation is another holder; any other lock error is named, since waiting will not end it.
    const uint32_t lock_error = report.result.lock_error;
    const bool named = report.gate == SwapGate::LockHeld && lock_error != 0 && lock_error != kErrorSharingViolation;
    lines.push_back({kReportInfo, std::string("swap: ") + SwapGateName(report.gate) +
                                      (named ? " (error " + std::to_string(lock_error) + ")" : std::string()) +
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
  for (const AttemptRecord& record : report.result.holds) {
    if (record.result != MoveResult::Ok) lines.push_back({kReportInfo, RenameLine(record)});
  }
  for (const AttemptRecord& record : report.result.renames) lines.push_back({kReportInfo, RenameLine(record)});
  for (SwapLogLine& line : ResultDetailLines("swap", report.result)) lines.push_back(std::move(line));
  lines.push_back(SummaryLine(report));
  return lines;
}

}  // namespace kestrova::appdirswap
