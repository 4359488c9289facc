// The swap on real folders: the engine driven over Win32FileSystem with only ownership and trust answered by the
// test (under Wine no entry is owned by an administrator), and Swap::Run itself, which under Wine refuses for the
// owner of the folders above APPDIR, as it must.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <regex>
#include <thread>
#include <string>
#include <vector>

#include "appdirswap/corvella_process.h"
#include "appdirswap/engine_test_support_win32.h"
#include "appdirswap/staged_tree_verify.h"
#include "appdirswap/swap.h"
#include "appdirswap/swap_log.h"
#include "appdirswap/win32_file_system.h"
#include "securefs/trust_reader_win32.h"
#include "support/log_capture_win32.h"

namespace kestrova::appdirswap {
namespace {

using test::DriveRootFamily;
using test::HoldingProcess;
using test::ScratchFolder;

// The Wine user owns C:\ and may create folders in it; its account name follows the machine's name.
const std::string kWineRootReason =
    "C:\\: owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller; " +
    securefs::Win32TrustReader().AccountName("S-1-5-21-0-0-0-1000") + " may create folders in C:\\";
constexpr char kWineOwnerReason[] = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";

std::vector<std::string> Formatted(const SwapReport& report, const WideString& appdir) {
  std::vector<std::string> lines;
  for (const SwapLogLine& line : FormatSwapLog(report, appdir)) lines.push_back(line.text);
  return lines;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// The whole update twice over: the first swap keeps the old APPDIR as .lkg, the second supersedes that .lkg.
void SwapTwice(const WideString& appdir) {
  const std::string shown = WideToUtf8(appdir);
  test::WriteVersionTree(appdir, test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(appdir + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  {
    kestrova::test::LogCapture log;
    const SwapReport report = PlanAndSwap(appdir, fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{});
    EXPECT_EQ(report.gate, SwapGate::None);
    EXPECT_EQ(report.result.outcome, Outcome::Swapped) << OutcomeName(report.result.outcome);
    EXPECT_EQ(report.result.version, L"2.0.0");
    EXPECT_TRUE(report.result.active_version_written);
    EXPECT_EQ(test::ReadText(appdir + L"\\.complete"), "2.0.0");
    EXPECT_EQ(test::ReadText(appdir + L".lkg\\.complete"), "1.0.0");
    EXPECT_EQ(test::ReadText(appdir + L"\\corvella.exe"), "exe 2.0.0");
    EXPECT_EQ(test::ReadText(appdir + L".lkg\\corvella.exe"), "exe 1.0.0");
    EXPECT_FALSE(test::Exists(appdir + L".staging"));
    EXPECT_FALSE(test::Exists(appdir + L".swap.lock"));
    EXPECT_EQ(test::ReadActiveVersion(), L"2.0.0");

    const std::vector<std::string> lines = Formatted(report, appdir);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected absent");
    EXPECT_TRUE(StartsWith(lines[1], "swap: rename " + shown + " -> " + shown + ".lkg: ok after 1 attempt(s), "))
        << lines[1];
    EXPECT_TRUE(StartsWith(lines[2], "swap: rename " + shown + ".staging -> " + shown + ": ok after 1 attempt(s), "))
        << lines[2];
    EXPECT_EQ(lines[3], "swap: swapped, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion written)");
    const std::vector<std::string> logged = log.Lines();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_TRUE(StartsWith(logged[0], "INFO swap: verified 2 files of " + shown + ".staging in ")) << logged[0];
    EXPECT_NE(logged[0].find("s: 0 missing, 0 damaged"), std::string::npos) << logged[0];
  }

  // The next update: the clean-up verifies the new staged tree and gives up the .lkg for it.
  test::WriteVersionTree(appdir + L".staging", test::VersionFiles("3.0.0"), "3.0.0");
  kestrova::test::LogCapture log;
  const SwapReport report = PlanAndSwap(appdir, fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{});
  EXPECT_EQ(report.result.outcome, Outcome::Swapped) << OutcomeName(report.result.outcome);
  EXPECT_EQ(test::ReadText(appdir + L"\\.complete"), "3.0.0");
  EXPECT_EQ(test::ReadText(appdir + L".lkg\\.complete"), "2.0.0");
  EXPECT_EQ(test::ReadText(appdir + L".lkg\\corvella.exe"), "exe 2.0.0");
  EXPECT_EQ(test::ReadActiveVersion(), L"3.0.0");
  EXPECT_EQ(Formatted(report, appdir)[0],
            "swap: APPDIR complete (2.0.0), staging complete (3.0.0), .lkg complete (1.0.0), .rejected absent");
  const std::vector<std::string> logged = log.Lines();
  ASSERT_EQ(logged.size(), 3u);
  EXPECT_TRUE(StartsWith(logged[0], "INFO swap: verified 2 files of " + shown + ".staging in "));
  EXPECT_EQ(logged[1], "INFO swap: removed " + shown + ".lkg (superseded_by_pending_staging)");
  EXPECT_TRUE(StartsWith(logged[2], "INFO swap: verified 2 files of " + shown + ".staging in "));
}

TEST(SwapOnRealFoldersTest, TwoUpdatesDirectlyUnderTheDriveRoot) {
  DriveRootFamily family(L"C:\\CorvellaSwap");
  SwapTwice(family.appdir());
}

TEST(SwapOnRealFoldersTest, TwoUpdatesTwoLevelsDeepWithNonAsciiNames) {
  ScratchFolder scratch;
  test::MakeFolder(scratch / L"Progr\u00e4mme");
  test::MakeFolder(scratch / L"Progr\u00e4mme\\Kestr\u00f6va");
  SwapTwice(scratch / L"Progr\u00e4mme\\Kestr\u00f6va\\Corvella");
}

TEST(SwapOnRealFoldersTest, AFolderHeldOpenByAnotherProcessHoldsTheSwapBeforeAnythingMoves) {
  DriveRootFamily family(L"C:\\CorvellaHeld");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  SwapReport report;
  {
    // The folder itself is held open without delete sharing, as a program whose current folder it is holds it: the
    // swap cannot hold it for the move (sharing violation, 32), so nothing is renamed at all.
    HoldingProcess holder(L"open", family.appdir());
    ASSERT_TRUE(holder.Holding());
    report = PlanAndSwap(family.appdir(), fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{});
    EXPECT_EQ(holder.Release(), 0u);
  }
  EXPECT_EQ(report.result.outcome, Outcome::Held) << OutcomeName(report.result.outcome);
  EXPECT_EQ(report.result.hold, HoldReason::Rename);
  EXPECT_TRUE(report.result.renames.empty());
  ASSERT_EQ(report.result.holds.size(), 1u);
  const AttemptRecord& record = report.result.holds[0];
  EXPECT_EQ(record.result, MoveResult::Busy);
  EXPECT_GE(record.attempts, 14u);
  EXPECT_LE(record.attempts, 16u);
  EXPECT_GE(record.elapsed_ms, 10000u);
  EXPECT_TRUE(record.last_error == 32 || record.last_error == 5) << record.last_error;
  const std::string shown = WideToUtf8(family.appdir());
  const std::vector<std::string> lines = Formatted(report, family.appdir());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1], "swap: hold " + shown + ": failed after " +
                          std::to_string(record.attempts) + " attempt(s), " + std::to_string(record.elapsed_ms) +
                          " ms, last error " + std::to_string(record.last_error));
  EXPECT_EQ(lines[2], "swap: held, refusal none, hold rename; leaving the staging dir for Dovrecat");
  // APPDIR unchanged, the staged tree still waiting, no .lkg.
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "1.0.0");
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "2.0.0");
  EXPECT_FALSE(test::Exists(family + L".lkg"));
}

// The log of a swap, its times replaced by <t>: the verifier's seconds and the renames' milliseconds.
std::vector<std::string> WithoutTimes(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& line : lines) {
    out.push_back(std::regex_replace(std::regex_replace(line, std::regex(" in [0-9]+\\.[0-9]s: "), " in <t>s: "),
                                     std::regex(" attempt\\(s\\), [0-9]+ ms,"), " attempt(s), <t> ms,"));
  }
  return out;
}

TEST(SwapOnRealFoldersTest, TheEdgeCasesLineByLine) {
  const struct {
    const char* label;
    std::function<void(const DriveRootFamily&)> setup;
    std::vector<std::string> log;  // "<level> <message>" with X for APPDIR
    const char* appdir;             // APPDIR's marker afterwards
    const char* active_version;     // ActiveVersion afterwards
  } rows[] = {
      {"a damaged staged tree and no .lkg",
       [](const DriveRootFamily& family) {
         test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
         test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
         test::RemoveForCleanup(ToLongPathForm(family + L".staging\\bin\\core.dll"));
         test::WriteTextFile(family + L".staging\\bin\\core.dll", "short");
       },
       {"INFO swap: verified 2 files of X.staging in <t>s: 0 missing, 1 damaged; first: bin/core.dll",
        "INFO swap: removed X.staging (staging_failed_verification)",
        "INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected absent",
        "ERROR swap: refused, refusal staging_not_verified, hold none; the staged tree was deleted, a repair "
        "(msiexec /fa) re-stages it"},
       "1.0.0", "0.0.1"},
      {"a staging without marker",
       [](const DriveRootFamily& family) {
         test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
         test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "");
       },
       {"INFO swap: removed X.staging (staging_without_marker)",
        "INFO swap: APPDIR complete (1.0.0), staging incomplete (), .lkg absent (), .rejected absent",
        "INFO swap: nothing, refusal none, hold none; leaving the staging dir for Dovrecat"},
       "1.0.0", "0.0.1"},
      {"APPDIR missing beside a usable staging and .lkg",
       [](const DriveRootFamily& family) {
         test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
         test::WriteVersionTree(family + L".lkg", test::VersionFiles("0.9.0"), "0.9.0");
       },
       {"INFO swap: verified 2 files of X.staging in <t>s: 0 missing, 0 damaged",
        "INFO swap: APPDIR absent (), staging complete (2.0.0), .lkg complete (0.9.0), .rejected absent",
        "INFO swap: rename X.staging -> X: ok after 1 attempt(s), <t> ms, last error 0",
        "INFO swap: repaired_forward, refusal none, hold none; APPDIR is now version 2.0.0 (ActiveVersion written)"},
       "2.0.0", "2.0.0"},
      {"a marker whose version does not parse",
       [](const DriveRootFamily& family) {
         test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
         test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0.0.0");
       },
       {"INFO swap: verified 2 files of X.staging in <t>s: 0 missing, 0 damaged",
        "INFO swap: APPDIR complete (1.0.0), staging complete (), .lkg absent (), .rejected absent",
        "INFO swap: rename X -> X.lkg: ok after 1 attempt(s), <t> ms, last error 0",
        "INFO swap: rename X.staging -> X: ok after 1 attempt(s), <t> ms, last error 0",
        "INFO swap: swapped, refusal none, hold none; APPDIR is now version  (ActiveVersion NOT written)"},
       "2.0.0.0.0", "0.0.1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    DriveRootFamily family(L"C:\\CorvellaEdge");
    Win32FileSystem real;
    ASSERT_TRUE(real.WriteActiveVersion(L"0.0.1"));
    row.setup(family);
    test::AdminOwnedDecorator fs(real);
    std::vector<std::string> logged;
    {
      kestrova::test::LogCapture log;
      Swap::LogReport(PlanAndSwap(family.appdir(), fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{}),
                      family.appdir());
      logged = WithoutTimes(log.Lines());
    }
    std::vector<std::string> expected;
    const std::string shown = WideToUtf8(family.appdir());
    for (std::string line : row.log) {
      for (size_t at = line.find('X'); at != std::string::npos; at = line.find('X', at + shown.size())) {
        line.replace(at, 1, shown);
      }
      expected.push_back(line);
    }
    EXPECT_EQ(logged, expected);
    EXPECT_EQ(test::ReadText(family + L"\\.complete"), row.appdir);
    EXPECT_EQ(WideToUtf8(test::ReadActiveVersion()), row.active_version);
  }
}

TEST(SwapOnRealFoldersTest, TheLockHeldElsewhereDuringTheCleanUp) {
  DriveRootFamily family(L"C:\\CorvellaEdge");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  test::MakeFolder(family + L".staging.partial");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  HoldingProcess holder(L"lock", family + L".swap.lock");
  ASSERT_TRUE(holder.Holding());
  kestrova::test::LogCapture log;
  Swap::LogReport(PlanAndSwap(family.appdir(), fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{}), family.appdir());
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{
                "INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected absent",
                "INFO swap: lock_held; leaving the staging dir for Dovrecat"}));
  EXPECT_EQ(holder.Release(), 0u);
  EXPECT_TRUE(test::Exists(family + L".staging.partial"));
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "2.0.0");
}

TEST(SwapCommandTest, UnderWineTheOwnerOfTheDriveRootStopsTheSwap) {
  DriveRootFamily family(L"C:\\CorvellaSwapRun");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  test::MakeFolder(family + L".staging.partial");
  kestrova::test::LogCapture log;
  EXPECT_EQ(Swap::Run(family.appdir() + L"\\"), 0);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "INFO swap: APPDIR complete (1.0.0), staging complete (2.0.0), .lkg absent (), .rejected "
                             "absent",
                             std::string("ERROR swap: SECURITY: a folder above APPDIR is not admin-only (") +
                                 kWineRootReason + "); not swapping",
                             "INFO swap: refused, refusal unsafe_parent, hold none; leaving the staging dir for "
                             "Dovrecat"}));
  // Refused before the lock: nothing was cleaned up or renamed.
  EXPECT_TRUE(test::Exists(family + L".staging.partial"));
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "1.0.0");
}

TEST(SwapCommandTest, UnusablePathsNothingStagedAndAMissingAppdir) {
  {
    kestrova::test::LogCapture log;
    for (const wchar_t* appdir : {L"C:\\", L"relative\\Corvella", L"\\\\server\\share\\Corvella"}) {
      EXPECT_EQ(Swap::Run(appdir), 0);
    }
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ERROR swap: C:\\ is not a usable APPDIR",
                                                     "ERROR swap: relative\\Corvella is not a usable APPDIR",
                                                     "ERROR swap: \\\\server\\share\\Corvella is not a usable APPDIR"}));
  }
  DriveRootFamily family(L"C:\\CorvellaSwapRun");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Swap::Run(family.appdir()), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"INFO swap: nothing staged"});
  }
  // APPDIR missing: the swap recovers instead, below the unsafe root "anyway"; under Wine no copy is admin-owned.
  test::RemoveForCleanup(ToLongPathForm(family.appdir()));
  test::WriteVersionTree(family + L".lkg", test::VersionFiles("1.0.0"), "1.0.0");
  kestrova::test::LogCapture log;
  EXPECT_EQ(Swap::Run(family.appdir()), 0);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "INFO swap: APPDIR absent (), staging absent (), .lkg complete (1.0.0), .rejected absent",
                             std::string("ERROR swap: SECURITY: a folder above APPDIR is not admin-only (") +
                                 kWineRootReason + "); repairing APPDIR anyway",
                             "WARN swap: " + WideToUtf8(family.appdir()) + ".lkg is not admin-only (" +
                                 WideToUtf8(family.appdir()) + ".lkg: " + kWineOwnerReason + ")",
                             "ERROR swap: unrecoverable, refusal not_admin_owned, hold none; nothing can replace "
                             "APPDIR, a repair (msiexec /fa) reinstalls it"}));
  EXPECT_TRUE(test::Exists(family + L".lkg\\.complete"));
}

TEST(SwapCommandTest, TheRunningProductStopsTheSwapBeforeAnythingElse) {
  ScratchFolder scratch;
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const WideString product = scratch / L"Corvella-Beta-V2.exe";
  ASSERT_TRUE(CopyFileW(self, product.c_str(), TRUE)) << GetLastError();
  DriveRootFamily family(L"C:\\CorvellaSwapRunning");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  EXPECT_FALSE(CorvellaRunningCheck());
  {
    HoldingProcess running(L"open", family + L".staging\\corvella.exe", true, product);
    ASSERT_TRUE(running.Holding());
    kestrova::test::LogCapture log;
    EXPECT_EQ(Swap::Run(family.appdir()), 0);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWith(lines[0], "INFO swap: Corvella-Beta-V2.exe is running (PID ")) << lines[0];
    EXPECT_NE(lines[0].find("); leaving the staging dir for Dovrecat"), std::string::npos) << lines[0];
    EXPECT_EQ(running.Release(), 0u);
  }
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "2.0.0");
}

// A standard user holds .staging open without delete sharing and waits to plant a folder with their own program at
// APPDIR's name the moment it is free. The swap holds both folders before it moves either, so it stops with nothing
// moved and the name is never free; below a parent where strangers may create folders it does not swap at all.
TEST(SwapAgainstAStandardUserTest, AHeldStagingAndAPlanterNeverGetAForeignAppdir) {
  DriveRootFamily family(L"C:\\CorvellaSec");
  test::WriteVersionTree(family.appdir(), test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  std::atomic<bool> stop{false};
  std::atomic<bool> planted{false};
  std::thread planter([&] {
    while (!stop) {
      if (CreateDirectoryW(ToLongPathForm(family.appdir()).c_str(), nullptr)) {
        planted = true;
        test::WriteTextFile(family + L"\\KestrovaPayload.exe", "the stranger's program");
      }
      Sleep(1);
    }
  });
  SwapReport report;
  {
    HoldingProcess holder(L"open", family + L".staging");
    ASSERT_TRUE(holder.Holding());
    report = PlanAndSwap(family.appdir(), fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{2000, 2000});
    EXPECT_EQ(holder.Release(), 0u);
  }
  stop = true;
  planter.join();
  EXPECT_FALSE(planted);
  EXPECT_EQ(report.result.outcome, Outcome::Held) << OutcomeName(report.result.outcome);
  EXPECT_EQ(report.result.hold, HoldReason::Rename);
  EXPECT_TRUE(report.result.renames.empty());
  EXPECT_EQ(BusyPaths(report.result, report.snapshot.paths), std::vector<WideString>{family + L".staging"});
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "1.0.0");
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "2.0.0");
  EXPECT_FALSE(test::Exists(family + L".lkg"));

  fs.parent_reason = "BUILTIN\\Users may create folders in C:\\";
  report = PlanAndSwap(family.appdir(), fs, {}, VerifyAndLog, RemoveAndLog, RetryBudgets{2000, 2000});
  EXPECT_EQ(report.result.refusal, Refusal::UnsafeParent);
  EXPECT_TRUE(report.result.holds.empty());
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "1.0.0");
}

}  // namespace
}  // namespace kestrova::appdirswap
