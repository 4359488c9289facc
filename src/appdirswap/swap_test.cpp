#include "appdirswap/swap.h"

#include <gtest/gtest.h>

#include <string>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

constexpr wchar_t kAppdir[] = L"C:\\Corvella";

std::string Removals(const ScriptedFileSystem& fs) { return fs.Removals(kAppdir); }

// Families as ScriptedFileSystem::AddFamily spells them: APPDIR 1.0.0, .staging 2.0.0, .lkg 0.9.0, .rejected 1.5.0,
// .staging.partial 3.0.0.
TEST(PlanAndSwapTest, GatesCleanUpAndTransactionRowByRow) {
  using G = SwapGate;
  using O = Outcome;
  using R = Refusal;
  using H = HoldReason;
  struct Row {
    const char* label;
    const char* family;
    G gate;
    O outcome;
    R refusal;
    H hold;
    const char* appdir;   // the version APPDIR holds intact afterwards ("" for none)
    const char* lkg;      // the same for .lkg
    const char* staging;  // the same for .staging
    size_t renames;
    const char* removed;  // what the remover was handed
    bool staged_tree_deleted;
    size_t verified;      // verifier calls
  };
  const Row rows[] = {
      {"normal upgrade", "cca", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2, "", false, 1},
      {"old usable .lkg", "ccc", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2,
       ".lkg (superseded_by_pending_staging)", false, 2},
      {"nothing staged", "caca", G::NothingStaged, O::Nothing, R::None, H::None, "1.0.0", "0.9.0", "", 0, "", false,
       0},
      {"nothing staged, partial left", "caaac", G::NothingStaged, O::Nothing, R::None, H::None, "1.0.0", "", "", 0, "",
       false, 0},
      {"damaged staging, no .lkg", "cda", G::None, O::Refused, R::StagingNotVerified, H::None, "1.0.0", "", "", 0,
       ".staging (staging_failed_verification)", true, 1},
      {"damaged staging, usable .lkg", "cdc", G::None, O::Refused, R::StagingNotVerified, H::None, "1.0.0", "0.9.0",
       "", 0, ".staging (staging_failed_verification)", true, 1},
      {"staging without marker", "cia", G::None, O::Nothing, R::None, H::None, "1.0.0", "", "", 0,
       ".staging (staging_without_marker)", false, 0},
      {"staging of another owner", "coa", G::None, O::Nothing, R::None, H::None, "1.0.0", "", "", 0,
       ".staging (staging_not_admin_owned)", false, 0},
      {"every leftover", "ccrri", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2,
       ".lkg (not_a_real_dir); .rejected (not_a_real_dir); .staging.partial (stale_partial)", false, 1},
      {".lkg without marker", "cci", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2,
       ".lkg (lkg_without_marker)", false, 1},
      {".lkg of another owner", "cco", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2,
       ".lkg (lkg_not_admin_owned)", false, 1},
      {"a real .rejected stays", "ccac", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2, "", false, 1},
      {"APPDIR missing: forward", "acc", G::None, O::RepairedForward, R::None, H::None, "2.0.0", "0.9.0", "", 1, "",
       false, 1},
      {"APPDIR missing, no staging: back", "aac", G::None, O::RepairedBack, R::None, H::None, "0.9.0", "", "", 1, "",
       false, 0},
      {"APPDIR missing, nothing at all", "aaaai", G::None, O::Unrecoverable, R::None, H::None, "", "", "", 0, "", false,
       0},
      // A foreign APPDIR is never swapped with: the transaction removes it and puts the staged copy in its place.
      {"APPDIR a link", "rca", G::None, O::Swapped, R::None, H::None, "2.0.0", "", "", 1, " (not_admin_only)", false, 1},
      {"APPDIR a file", "fca", G::None, O::Swapped, R::None, H::None, "2.0.0", "", "", 1, " (not_admin_only)", false, 1},
      {"APPDIR a stranger's", "oca", G::None, O::Swapped, R::None, H::None, "2.0.0", "", "", 1, " (not_admin_only)",
       false, 1},
      {"a stranger's .rejected goes", "ccao", G::None, O::Swapped, R::None, H::None, "2.0.0", "1.0.0", "", 2,
       ".rejected (not_admin_only)", false, 1},
      {".staging a file", "cfa", G::None, O::Nothing, R::None, H::None, "1.0.0", "", "", 0, ".staging (not_a_real_dir)",
       false, 0},
      {".staging unreadable", "cua", G::None, O::Refused, R::UnexpectedEntry, H::None, "1.0.0", "", "", 0, "", false,
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.label) + " (" + row.family + ")");
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, row.family);
    const SwapReport report =
        PlanAndSwap(kAppdir, fs, SwapHooks{}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
    EXPECT_EQ(report.gate, row.gate) << SwapGateName(report.gate);
    EXPECT_EQ(report.result.outcome, row.outcome) << OutcomeName(report.result.outcome);
    EXPECT_EQ(report.result.refusal, row.refusal) << RefusalName(report.result.refusal);
    EXPECT_EQ(report.result.hold, row.hold);
    EXPECT_EQ(fs.IntactVersion(kAppdir), row.appdir);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella.lkg"), row.lkg);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella.staging"), row.staging);
    EXPECT_EQ(report.result.renames.size(), row.renames);
    EXPECT_EQ(Removals(fs), row.removed);
    EXPECT_EQ(report.staged_tree_deleted, row.staged_tree_deleted);
    EXPECT_EQ(fs.verified.size(), row.verified);
    for (const WideString& folder : fs.verified) EXPECT_EQ(folder, L"C:\\Corvella.staging");
    const bool moved = row.outcome == O::Swapped || row.outcome == O::RepairedForward || row.outcome == O::RepairedBack;
    EXPECT_EQ(WideToUtf8(fs.active_version), moved ? row.appdir : "");
    EXPECT_EQ(report.result.active_version_written, moved);
    EXPECT_EQ(fs.unlocked_mutations, 0u);
    EXPECT_EQ(fs.links_descended, 0u);
    EXPECT_FALSE(fs.lock_held);
    EXPECT_TRUE(report.snapshot.valid);
  }
}

TEST(PlanAndSwapTest, PreChecksTouchNothing) {
  const auto run = [](ScriptedFileSystem& fs, const SwapHooks& hooks, WideView appdir = kAppdir) {
    return PlanAndSwap(appdir, fs, hooks, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  };
  const auto yes = [] { return true; };
  const auto no = [] { return false; };
  {
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "ccaai");
    for (const wchar_t* appdir : {L"C:\\", L"\\\\srv\\share\\Corvella", L"Corvella", L"C:\\a\\\\b", L""}) {
      const SwapReport report = run(fs, {}, appdir);
      EXPECT_EQ(report.gate, SwapGate::BadAppdirPath) << WideToUtf8(appdir);
      EXPECT_FALSE(report.snapshot.valid);
    }
    EXPECT_EQ(run(fs, {yes, no}).gate, SwapGate::CorvellaRunning);
    EXPECT_EQ(run(fs, {no, yes}).gate, SwapGate::InstallRunning);
    EXPECT_EQ(run(fs, {yes, yes}).gate, SwapGate::CorvellaRunning);
    EXPECT_TRUE(fs.events.empty());
    EXPECT_TRUE(fs.Exists(L"C:\\Corvella.staging.partial"));
  }
  {
    // The product check comes after the staging check: with nothing staged it is never asked.
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "c");
    bool asked = false;
    EXPECT_EQ(run(fs, {[&] { return asked = true; }, {}}).gate, SwapGate::NothingStaged);
    EXPECT_FALSE(asked);
  }
  {
    // An unsafe parent with APPDIR present: refused before the lock and the clean-up.
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "ccaai");
    fs.unsafe_reasons[L"C:\\"] = "C:\\: Users may write";
    const SwapReport report = run(fs, {no, no});
    EXPECT_EQ(report.gate, SwapGate::None);
    EXPECT_EQ(report.result.outcome, Outcome::Refused);
    EXPECT_EQ(report.result.refusal, Refusal::UnsafeParent);
    EXPECT_EQ(report.unsafe_parent_reason, "C:\\: Users may write");
    EXPECT_EQ(fs.events, std::vector<std::string>{"trust C:\\"});
    EXPECT_TRUE(fs.Exists(L"C:\\Corvella.staging.partial"));
  }
  {
    // With APPDIR missing the same parent does not stop the recovery.
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "acc");
    fs.unsafe_reasons[L"C:\\"] = "C:\\: Users may write";
    const SwapReport report = run(fs, {});
    EXPECT_EQ(report.result.outcome, Outcome::RepairedForward);
    EXPECT_EQ(report.unsafe_parent_reason, "C:\\: Users may write");
    EXPECT_EQ(fs.IntactVersion(kAppdir), "2.0.0");
  }
  {
    // The lock held elsewhere for the whole budget: nothing removed, nothing renamed.
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "cccai");
    fs.lock_busy_attempts = UINT32_MAX;
    const SwapReport report = run(fs, {});
    EXPECT_EQ(report.gate, SwapGate::LockHeld);
    EXPECT_EQ(fs.mutations, 0u);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella.lkg"), "0.9.0");
  }
}

TEST(PlanAndSwapTest, TheTransactionRefusesWhatTheCleanUpCouldNotRemove) {
  const struct {
    const char* family;
    const wchar_t* stuck;  // the removal fails at this entry
    Refusal refusal;
  } rows[] = {
      {"ccc", L"C:\\Corvella.lkg\\.complete", Refusal::LkgOccupied},
      {"cia", L"C:\\Corvella.staging\\core.dll", Refusal::StagingIncomplete},
      {"coa", L"C:\\Corvella.staging\\.complete", Refusal::NotAdminOwned},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.family);
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, row.family);
    fs.removal_errors[row.stuck] = 32;
    const SwapReport report = PlanAndSwap(kAppdir, fs, {}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
    EXPECT_EQ(report.result.outcome, Outcome::Refused);
    EXPECT_EQ(report.result.refusal, row.refusal) << RefusalName(report.result.refusal);
    EXPECT_TRUE(report.result.renames.empty());
    EXPECT_EQ(fs.IntactVersion(kAppdir), "1.0.0");
  }
  // No verifier at all: a staged tree is never swapped in, and with a remover it is deleted.
  ScriptedFileSystem fs;
  fs.AddFamily(kAppdir, "cca");
  const SwapReport report = PlanAndSwap(kAppdir, fs, {}, Verifier(), fs.MakeRemover(), RetryBudgets{});
  EXPECT_EQ(report.result.refusal, Refusal::StagingNotVerified);
  EXPECT_TRUE(report.staged_tree_deleted);
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging"));
  // Without a remover nothing is removed.
  ScriptedFileSystem kept;
  kept.AddFamily(kAppdir, "cdcai");
  const SwapReport keeping = PlanAndSwap(kAppdir, kept, {}, kept.MakeVerifier(), Remover(), RetryBudgets{});
  EXPECT_EQ(keeping.result.refusal, Refusal::StagingNotVerified);
  EXPECT_FALSE(keeping.staged_tree_deleted);
  EXPECT_EQ(kept.mutations, 0u);
}

TEST(SwapRenamesTest, BusyFailedRolledBackTornAndTheVersionWritten) {
  using O = Outcome;
  const struct {
    uint32_t appdir_error;   // the first rename (a busy error stays busy for the whole budget)
    uint32_t staging_error;  // the second
    uint32_t lkg_error;      // the third
    Outcome outcome;
    HoldReason hold;
    const char* appdir;
    size_t renames;
  } rows[] = {
      {0, 0, 0, O::Swapped, HoldReason::None, "2.0.0", 2},
      {32, 0, 0, O::Held, HoldReason::Rename, "1.0.0", 1},
      {5, 0, 0, O::Held, HoldReason::Rename, "1.0.0", 1},
      {87, 0, 0, O::Failed, HoldReason::None, "1.0.0", 1},
      {0, 87, 0, O::RolledBack, HoldReason::None, "1.0.0", 3},
      {0, 32, 0, O::RolledBack, HoldReason::None, "1.0.0", 3},
      {0, 32, 33, O::Torn, HoldReason::None, "", 3},
      {0, 2, 87, O::Torn, HoldReason::None, "", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.appdir_error) + "/" + std::to_string(row.staging_error) + "/" +
                 std::to_string(row.lkg_error));
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "cca");
    for (const auto& [from, error] : {std::pair{L"C:\\Corvella", row.appdir_error},
                                      std::pair{L"C:\\Corvella.staging", row.staging_error},
                                      std::pair{L"C:\\Corvella.lkg", row.lkg_error}}) {
      const bool busy = ClassifyMoveError(error) == MoveResult::Busy;
      if (error != 0) fs.rename_scripts[from] = {busy ? UINT32_MAX : 0, error, busy ? 0 : error};
    }
    const SwapResult result = SwapTransaction(kAppdir, fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
    EXPECT_EQ(result.outcome, row.outcome) << OutcomeName(result.outcome);
    EXPECT_EQ(result.hold, row.hold);
    EXPECT_EQ(result.refusal, Refusal::None);
    EXPECT_EQ(fs.IntactVersion(kAppdir), row.appdir);
    ASSERT_EQ(result.renames.size(), row.renames);
    const WideString expected_from[] = {L"C:\\Corvella", L"C:\\Corvella.staging", L"C:\\Corvella.lkg"};
    const WideString expected_to[] = {L"C:\\Corvella.lkg", L"C:\\Corvella", L"C:\\Corvella"};
    for (size_t i = 0; i < result.renames.size(); ++i) {
      EXPECT_EQ(result.renames[i].from, expected_from[i]);
      EXPECT_EQ(result.renames[i].to, expected_to[i]);
    }
    const AttemptRecord& first = result.renames[0];
    if (row.hold == HoldReason::Rename) {
      EXPECT_EQ(first.attempts, 15u);
      EXPECT_GE(first.elapsed_ms, 10000u);
      EXPECT_EQ(first.last_error, row.appdir_error);
      EXPECT_TRUE(fs.Exists(L"C:\\Corvella.staging\\.complete"));
    }
    EXPECT_EQ(WideToUtf8(fs.active_version), row.outcome == O::Swapped ? "2.0.0" : "");
    EXPECT_EQ(result.active_version_written, row.outcome == O::Swapped);
    EXPECT_FALSE(fs.lock_held);
  }
}

TEST(SwapRenamesTest, AMarkerWithoutAVersionOrAFailedRegistryWrite) {
  {
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, "cca");
    fs.active_version = L"1.0.0";
    fs.tree[L"C:\\Corvella.staging\\.complete"].content = "2.0.0.0.0";
    const SwapResult result = SwapTransaction(kAppdir, fs, [](const WideString&) { return true; }, fs.MakeRemover(), RetryBudgets{});
    EXPECT_EQ(result.outcome, Outcome::Swapped);
    EXPECT_TRUE(result.version.empty());
    EXPECT_FALSE(result.active_version_written);
    EXPECT_EQ(fs.active_version, L"1.0.0");
  }
  ScriptedFileSystem fs;
  fs.AddFamily(kAppdir, "cca");
  fs.active_version_fails = true;
  const SwapResult result = SwapTransaction(kAppdir, fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  EXPECT_EQ(result.outcome, Outcome::Swapped);
  EXPECT_EQ(result.version, L"2.0.0");
  EXPECT_FALSE(result.active_version_written);
  EXPECT_EQ(fs.IntactVersion(kAppdir), "2.0.0");
}

TEST(SwapTransactionTest, PathLockAndTrust) {
  ScriptedFileSystem fs;
  fs.AddFamily(L"C:\\Program Files\\Corvella", "cca");
  fs.system_folders = {L"C:\\Program Files"};
  EXPECT_EQ(SwapTransaction(L"C:\\Program Files", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{}).refusal,
            Refusal::BadAppdirPath);
  EXPECT_EQ(SwapTransaction(L"C:\\", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{}).refusal, Refusal::BadAppdirPath);
  fs.lock_busy_attempts = UINT32_MAX;
  const SwapResult held = SwapTransaction(L"C:\\Program Files\\Corvella", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  EXPECT_EQ(held.outcome, Outcome::Held);
  EXPECT_EQ(held.hold, HoldReason::Lock);
  fs.lock_busy_attempts = 0;
  fs.unsafe_reasons[L"C:\\Program Files"] = "C:\\Program Files: Users may write";
  const SwapResult refused = SwapTransaction(L"C:\\Program Files\\Corvella\\", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  EXPECT_EQ(refused.refusal, Refusal::UnsafeParent);
  EXPECT_EQ(refused.unsafe_parent_reason, "C:\\Program Files: Users may write");
  EXPECT_TRUE(refused.renames.empty());
  EXPECT_EQ(fs.mutations, 0u);
  EXPECT_FALSE(fs.lock_held);
}

}  // namespace
}  // namespace kestrova::appdirswap
