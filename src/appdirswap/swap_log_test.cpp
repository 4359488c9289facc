#include "appdirswap/swap_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

constexpr wchar_t kAppdir[] = L"C:\\Corvella";

std::vector<std::string> Lines(const SwapReport& report, WideView appdir = kAppdir) {
  std::vector<std::string> lines;
  for (const SwapLogLine& line : FormatSwapLog(report, appdir)) {
    const char* level = line.level == kReportInfo ? "INFO " : line.level == kReportWarning ? "WARN " : "ERROR ";
    lines.push_back(level + line.text);
  }
  return lines;
}

// A swap run on the double, from a family as ScriptedFileSystem::AddFamily spells it and a change of the volume.
SwapReport RunSwap(const char* family, const std::function<void(ScriptedFileSystem&)>& setup = {},
               const SwapHooks& hooks = {}) {
  ScriptedFileSystem fs;
  fs.AddFamily(kAppdir, family);
  if (setup) setup(fs);
  return PlanAndSwap(kAppdir, fs, hooks, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
}

void Busy(ScriptedFileSystem& fs, const wchar_t* from, uint32_t error) {
  fs.rename_scripts[from] = {UINT32_MAX, error, 0};
}
void Fails(ScriptedFileSystem& fs, const wchar_t* from, uint32_t error) { fs.rename_scripts[from] = {0, 0, error}; }

const char kRename1[] = "INFO swap: rename C:\\Corvella -> C:\\Corvella.lkg: ok after 1 attempt(s), 0 ms, last error 0";
const char kRename2[] = "INFO swap: rename C:\\Corvella.staging -> C:\\Corvella: ok after 1 attempt(s), 0 ms, last error 0";
const char kNormalState[] =
    "INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected absent";

TEST(FormatSwapLogTest, EveryGateAndOutcomeLineByLine) {
  const auto yes = [] { return true; };
  const struct {
    const char* label;
    SwapReport report;
    std::vector<std::string> lines;
  } rows[] = {
      {"normal upgrade", RunSwap("cca"),
       {kNormalState, kRename1, kRename2,
        "INFO swap: swapped, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion written)"}},
      {"old .lkg and a rejected copy", RunSwap("cccc"),
       {"INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg complete (0.9.0), .rejected complete",
        kRename1, kRename2,
        "INFO swap: swapped, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion written)"}},
      {"nothing staged", RunSwap("c"), {"INFO swap: nothing staged"}},
      {"product running", RunSwap("cca", {}, {yes, {}}), {}},
      {"installer running", RunSwap("cia", {}, {{}, yes}),
       {"INFO swap: APPDIR complete (1.0.0), staging incomplete (), .lkg absent (), .rejected absent",
        "INFO swap: install_running; leaving the staging dir for Dovrecat"}},
      {"lock held", RunSwap("cca", [](ScriptedFileSystem& fs) { fs.lock_busy_attempts = UINT32_MAX; }),
       {kNormalState, "INFO swap: lock_held; leaving the staging dir for Dovrecat"}},
      {"lock name squatted by an admin-only folder",
       RunSwap("cca", [](ScriptedFileSystem& fs) { fs.AddFolder(L"C:\\Corvella.swap.lock"); }),
       {kNormalState, "INFO swap: lock_held (error 5); leaving the staging dir for Dovrecat"}},
      {"staging held by another process",
       RunSwap("cca", [](ScriptedFileSystem& fs) { fs.held_elsewhere.insert(L"C:\\Corvella.staging"); }),
       {kNormalState,
        "INFO swap: hold C:\\Corvella.staging: failed after 15 attempt(s), 10000 ms, last error 32",
        "INFO swap: held, refusal none, hold rename; leaving the staging dir for Dovrecat"}},
      {"unsafe parent", RunSwap("cca", [](ScriptedFileSystem& fs) { fs.unsafe_reasons[L"C:\\"] = "C:\\: Users may write"; }),
       {kNormalState,
        "ERROR swap: SECURITY: a folder above APPDIR is not admin-only (C:\\: Users may write); not swapping",
        "INFO swap: refused, refusal unsafe_parent, hold none; leaving the staging dir for Dovrecat"}},
      {"unsafe parent, APPDIR missing",
       RunSwap("acc", [](ScriptedFileSystem& fs) { fs.unsafe_reasons[L"C:\\"] = "C:\\: Users may write"; }),
       {"INFO swap: APPDIR absent (), staging complete (2.0.0), .lkg complete (0.9.0), .rejected absent",
        "ERROR swap: SECURITY: a folder above APPDIR is not admin-only (C:\\: Users may write); repairing APPDIR anyway",
        kRename2,
        "INFO swap: repaired_forward, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion written)"}},
      {"file held open", RunSwap("cca", [](ScriptedFileSystem& fs) { Busy(fs, L"C:\\Corvella", 32); }),
       {kNormalState,
        "INFO swap: rename C:\\Corvella -> C:\\Corvella.lkg: failed after 15 attempt(s), 10000 ms, last error 32",
        "INFO swap: held, refusal none, hold rename; leaving the staging dir for Dovrecat"}},
      {"first rename fails", RunSwap("cca", [](ScriptedFileSystem& fs) { Fails(fs, L"C:\\Corvella", 87); }),
       {kNormalState,
        "INFO swap: rename C:\\Corvella -> C:\\Corvella.lkg: failed after 1 attempt(s), 0 ms, last error 87",
        "INFO swap: failed, refusal none, hold none; leaving the staging dir for Dovrecat"}},
      {"rolled back", RunSwap("cca", [](ScriptedFileSystem& fs) { Fails(fs, L"C:\\Corvella.staging", 2); }),
       {kNormalState, kRename1,
        "INFO swap: rename C:\\Corvella.staging -> C:\\Corvella: failed after 1 attempt(s), 0 ms, last error 2",
        "INFO swap: rename C:\\Corvella.lkg -> C:\\Corvella: ok after 1 attempt(s), 0 ms, last error 0",
        "INFO swap: rolled_back, refusal none, hold none; leaving the staging dir for Dovrecat"}},
      {"torn",
       RunSwap("cca",
           [](ScriptedFileSystem& fs) {
             Fails(fs, L"C:\\Corvella.staging", 2);
             Fails(fs, L"C:\\Corvella.lkg", 87);
           }),
       {kNormalState, kRename1,
        "INFO swap: rename C:\\Corvella.staging -> C:\\Corvella: failed after 1 attempt(s), 0 ms, last error 2",
        "INFO swap: rename C:\\Corvella.lkg -> C:\\Corvella: failed after 1 attempt(s), 0 ms, last error 87",
        "ERROR swap: torn, refusal none, hold none; APPDIR is missing, Dovrecat repairs it before its next launch"}},
      {"damaged staged tree", RunSwap("cda"),
       {"INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected absent",
        "ERROR swap: refused, refusal staging_not_verified, hold none; the staged tree was deleted, a repair "
        "(msiexec /fa) re-stages it"}},
      {"damaged staged tree that stays",
       RunSwap("cda", [](ScriptedFileSystem& fs) { fs.removal_errors[L"C:\\Corvella.staging\\.complete"] = 5; }),
       {kNormalState, "INFO swap: refused, refusal staging_not_verified, hold none; leaving the staging dir for Dovrecat"}},
      {"staging without marker", RunSwap("cia"),
       {"INFO swap: APPDIR complete (1.0.0), staging incomplete (), .lkg absent (), .rejected absent",
        "INFO swap: nothing, refusal none, hold none; leaving the staging dir for Dovrecat"}},
      {"nothing to put back", RunSwap("aooa"),
       {"INFO swap: APPDIR absent (), staging complete (2.0.0), .lkg complete (0.9.0), .rejected absent",
        std::string("WARN swap: C:\\Corvella.lkg is not admin-only (") + test::kStrangerVerdict + ")",
        "ERROR swap: unrecoverable, refusal not_admin_owned, hold none; nothing can replace APPDIR, a repair "
        "(msiexec /fa) reinstalls it"}},
      {"ActiveVersion not written", RunSwap("cca", [](ScriptedFileSystem& fs) { fs.active_version_fails = true; }),
       {kNormalState, kRename1, kRename2,
        "INFO swap: swapped, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion NOT written)"}},
      {"marker without a version", RunSwap("cca", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella.staging", "v2"); }),
       {"INFO swap: APPDIR complete (1.0.0), staging complete (), .lkg absent (), .rejected absent", kRename1, kRename2,
        "INFO swap: swapped, refusal none, hold none; APPDIR is now version  (ActiveVersion NOT written)"}},
      {"links and files", RunSwap("rfrf"),
       {"INFO swap: APPDIR reparse_point (), staging not_a_directory (), .lkg reparse_point (), .rejected "
        "not_a_directory",
        "ERROR swap: C:\\Corvella is not admin-only (is a reparse point (tag 0xA0000003)); nothing admin-only can take "
        "its place",
        "INFO swap: refused, refusal reparse_point, hold none; leaving the staging dir for Dovrecat"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(Lines(row.report), row.lines);
  }
}

TEST(FormatSwapLogTest, BusyPathsAreWhatStayedBusyEachOnce) {
  const LayoutPaths paths{L"C:\\A", L"C:\\", L"C:\\A.staging", L"", L"C:\\A.lkg", L"", L"C:\\A.swap.lock"};
  const auto record = [](const wchar_t* from, MoveResult result) { return AttemptRecord{from, L"", result}; };
  struct Row {
    std::vector<AttemptRecord> holds, renames;
    HoldReason hold;
    uint32_t lock_error;
    std::vector<WideString> busy;
  };
  const Row rows[] = {
      {{record(L"C:\\A", MoveResult::Ok), record(L"C:\\A.staging", MoveResult::Busy)}, {}, HoldReason::Rename, 0,
       {L"C:\\A.staging"}},
      {{record(L"C:\\A", MoveResult::Failed)}, {}, HoldReason::None, 0, {}},
      {{record(L"C:\\A.staging", MoveResult::Busy)}, {record(L"C:\\A.staging", MoveResult::Busy)}, HoldReason::None,
       0, {L"C:\\A.staging"}},
      {{}, {record(L"C:\\A", MoveResult::Ok), record(L"C:\\A.staging", MoveResult::Busy)}, HoldReason::None, 0,
       {L"C:\\A.staging"}},
      {{}, {}, HoldReason::Lock, 32, {L"C:\\A.swap.lock"}},
      {{}, {}, HoldReason::Lock, 5, {}},
      {{}, {}, HoldReason::Rename, 32, {}},
  };
  for (const Row& row : rows) {
    SwapResult result;
    result.holds = row.holds;
    result.renames = row.renames;
    result.hold = row.hold;
    result.lock_error = row.lock_error;
    EXPECT_EQ(BusyPaths(result, paths), row.busy);
  }
}

TEST(FormatSwapLogTest, AGateOutsideTheTableShowsOnlyTheState) {
  SwapReport report = RunSwap("cca");
  report.gate = static_cast<SwapGate>(6);
  EXPECT_EQ(Lines(report), std::vector<std::string>{kNormalState});
}

TEST(FormatSwapLogTest, AnUnusablePathIsShownAsItWasGiven) {
  ScriptedFileSystem fs;
  for (const wchar_t* appdir : {L"C:\\", L"\\\\?\\C:\\a\\\\b", L"", L"Corvella"}) {
    const SwapReport report = PlanAndSwap(appdir, fs, {}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
    ASSERT_EQ(report.gate, SwapGate::BadAppdirPath);
    const std::string shown = WideToUtf8(securefs::DisplayPath(appdir));
    EXPECT_EQ(Lines(report, appdir), std::vector<std::string>{"ERROR swap: " + shown + " is not a usable APPDIR"});
  }
  EXPECT_EQ(Lines(PlanAndSwap(L"\\\\?\\C:\\a\\\\b", fs, {}, {}, {}, RetryBudgets{}), L"\\\\?\\C:\\a\\\\b"),
            std::vector<std::string>{"ERROR swap: C:\\a\\\\b is not a usable APPDIR"});
}

TEST(FormatSwapLogTest, LongPathsAndNonAsciiNamesInTheRenameLines) {
  const WideString deep = L"C:\\Program Files\\Kestrova\\Caf\u00e9 \u00e9dition\\" + WideString(120, L'x') + L"\\Corvella";
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\Program Files");
  fs.AddFolder(L"C:\\Program Files\\Kestrova");
  fs.AddFolder(L"C:\\Program Files\\Kestrova\\Caf\u00e9 \u00e9dition");
  fs.AddFamily(deep, "cca");
  const SwapReport report = PlanAndSwap(deep, fs, {}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  ASSERT_EQ(report.result.outcome, Outcome::Swapped);
  const std::vector<std::string> lines = Lines(report, deep);
  ASSERT_EQ(lines.size(), 4u);
  const std::string shown = WideToUtf8(deep);
  EXPECT_EQ(lines[1], "INFO swap: rename " + shown + " -> " + shown + ".lkg: ok after 1 attempt(s), 0 ms, last error 0");
  EXPECT_EQ(lines[2],
            "INFO swap: rename " + shown + ".staging -> " + shown + ": ok after 1 attempt(s), 0 ms, last error 0");
}

}  // namespace
}  // namespace kestrova::appdirswap
