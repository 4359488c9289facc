#include "appdirswap/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

// Families as ScriptedFileSystem::AddFamily spells them: APPDIR, .staging, .lkg, .rejected. In the versions APPDIR
// holds afterwards, 2.0.0 is the staged copy and 0.9.0 the last-known-good one.
TEST(RepairTransactionTest, EveryRowOfTheRepairTable) {
  using O = Outcome;
  using R = Refusal;
  using H = HoldReason;
  struct Row {
    const char* family;
    bool verifier;
    uint32_t staging_error;  // the forward rename fails with this (a busy error stays busy for the whole budget)
    uint32_t lkg_error;      // the backward rename likewise
    bool installing;
    Outcome outcome;
    Refusal refusal;
    HoldReason hold;
    const char* appdir;  // the version APPDIR holds afterwards
    size_t renames;
    const char* removed = "";  // the foreign entries removed, as the suffixes the double's events name
  };
  const Row rows[] = {
      // .rejected present and .lkg usable: .lkg back, whatever waits in .staging.
      {"acci", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"aacc", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"acci", true, 0, 87, false, O::Torn, R::None, H::None, "", 1},
      // .staging usable and verifying: forward; a failed rename falls back to a usable .lkg.
      {"acca", true, 0, 0, false, O::RepairedForward, R::None, H::None, "2.0.0", 1},
      {"acia", true, 0, 0, false, O::RepairedForward, R::None, H::None, "2.0.0", 1},
      {"acoi", true, 0, 0, false, O::RepairedForward, R::None, H::None, "2.0.0", 1},
      {"acfa", true, 0, 0, false, O::Swapped, R::None, H::None, "2.0.0", 1, ".lkg (not_admin_only)"},
      {"acaa", true, 0, 0, false, O::Swapped, R::None, H::None, "2.0.0", 1},
      {"acac", true, 0, 0, false, O::RepairedForward, R::None, H::None, "2.0.0", 1},
      {"acca", true, 32, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 2},
      {"acca", true, 2, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 2},
      {"acca", true, 2, 5, false, O::Torn, R::None, H::None, "", 2},
      {"acaa", true, 33, 0, false, O::Torn, R::None, H::None, "", 1},
      // .staging usable but not verified (refused, or no verifier).
      {"adca", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"acca", false, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"adoa", true, 0, 0, false, O::Unrecoverable, R::StagingNotVerified, H::None, "", 0},
      {"acaa", false, 0, 0, true, O::Unrecoverable, R::StagingNotVerified, H::None, "", 0},
      // .staging not usable, .lkg usable.
      {"aica", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"aoca", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1, ".staging (not_admin_only)"},
      {"aaca", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1},
      {"aaca", true, 0, 32, false, O::Torn, R::None, H::None, "", 1},
      // Nothing usable.
      {"aoaa", true, 0, 0, false, O::Unrecoverable, R::NotAdminOwned, H::None, "", 0, ".staging (not_admin_only)"},
      {"aaoa", true, 0, 0, false, O::Unrecoverable, R::NotAdminOwned, H::None, "", 0},
      {"aaoc", true, 0, 0, false, O::Unrecoverable, R::NotAdminOwned, H::None, "", 0},
      {"aoaa", true, 0, 0, true, O::Held, R::None, H::InstallRunning, "", 0, ".staging (not_admin_only)"},
      {"aaaa", true, 0, 0, false, O::Unrecoverable, R::None, H::None, "", 0},
      {"aiic", true, 0, 0, false, O::Unrecoverable, R::None, H::None, "", 0},
      // An admin-only APPDIR in any state is never replaced. A foreign one (a link, a file, a stranger's folder) goes
      // only when a usable copy takes its place; a foreign sibling goes and the recovery goes on.
      {"ccca", true, 0, 0, false, O::Nothing, R::None, H::None, "1.0.0", 0},
      {"iaca", true, 0, 0, false, O::Nothing, R::None, H::None, "", 0},
      {"raca", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1, " (not_admin_only)"},
      {"oaca", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1, " (not_admin_only)"},
      {"fcaa", true, 0, 0, false, O::Swapped, R::None, H::None, "2.0.0", 1, " (not_admin_only)"},
      {"oaoa", true, 0, 0, false, O::Unrecoverable, R::NotAdminOwned, H::None, "1.0.0", 0},
      {"raaa", true, 0, 0, false, O::Refused, R::ReparsePoint, H::None, "", 0},
      {"aafa", true, 0, 0, false, O::Unrecoverable, R::None, H::None, "", 0, ".lkg (not_admin_only)"},
      {"acar", true, 0, 0, false, O::Swapped, R::None, H::None, "2.0.0", 1, ".rejected (not_admin_only)"},
      {"aaco", true, 0, 0, false, O::RepairedBack, R::None, H::None, "0.9.0", 1, ".rejected (not_admin_only)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.family) + (row.verifier ? "" : " without verifier") +
                 " forward error " + std::to_string(row.staging_error) + " back error " + std::to_string(row.lkg_error));
    ScriptedFileSystem fs;
    fs.AddFamily(L"C:\\Corvella", row.family);
    for (const auto& [from, error] : {std::pair{L"C:\\Corvella.staging", row.staging_error},
                                      std::pair{L"C:\\Corvella.lkg", row.lkg_error}}) {
      const bool busy = ClassifyMoveError(error) == MoveResult::Busy;
      if (error != 0) fs.rename_scripts[from] = {busy ? UINT32_MAX : 0, error, busy ? 0 : error};
    }
    fs.installer_running = row.installing;
    const size_t entries = fs.tree.size();

    const SwapResult result =
        RepairTransaction(L"C:\\Corvella", fs, row.verifier ? fs.MakeVerifier() : Verifier(), fs.MakeRemover(), RetryBudgets{});
    EXPECT_EQ(result.outcome, row.outcome) << OutcomeName(result.outcome);
    EXPECT_EQ(result.refusal, row.refusal) << RefusalName(result.refusal);
    EXPECT_EQ(result.hold, row.hold);
    EXPECT_EQ(result.renames.size(), row.renames);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella"), row.appdir);
    const bool moved = row.outcome == O::Swapped || row.outcome == O::RepairedForward || row.outcome == O::RepairedBack;
    EXPECT_EQ(WideToUtf8(result.version), moved ? row.appdir : "");
    EXPECT_EQ(result.active_version_written, moved);
    EXPECT_EQ(WideToUtf8(fs.active_version), moved ? row.appdir : "");
    EXPECT_EQ(RepairExitCode(result.outcome), moved || row.outcome == O::Nothing ? 0
                                              : row.outcome == O::Unrecoverable ? 3
                                                                                : 1);
    // Repair removes foreign entries only, takes the lock for every change and lets it go; the parent's trust is
    // asked only when a missing APPDIR is recovered.
    EXPECT_EQ(fs.Removals(L"C:\\Corvella"), row.removed);
    if (*row.removed == '\0') {
      EXPECT_EQ(fs.tree.size(), entries);
    }
    EXPECT_EQ(fs.unlocked_mutations, 0u);
    EXPECT_FALSE(fs.lock_held);
    const bool trust_asked = std::find(fs.events.begin(), fs.events.end(), "trust C:\\") != fs.events.end();
    EXPECT_EQ(trust_asked, row.family[0] != 'c' && row.family[0] != 'i' && row.outcome != O::Refused);
  }
}

TEST(RepairTransactionTest, PathLockTrustAndRecordsBeforeAndAroundTheRules) {
  {
    ScriptedFileSystem fs;
    fs.AddFamily(L"C:\\Windows", "aaca");
    fs.system_folders = {L"C:\\Windows"};
    for (const wchar_t* appdir : {L"C:\\", L"\\\\srv\\share\\Corvella", L"Corvella", L"C:\\windows\\"}) {
      const SwapResult result = RepairTransaction(appdir, fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
      EXPECT_EQ(result.refusal, Refusal::BadAppdirPath) << WideToUtf8(appdir);
    }
    fs.lock_busy_attempts = UINT32_MAX;
    EXPECT_EQ(RepairTransaction(L"C:\\Corvella", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{}).hold, HoldReason::Lock);
    EXPECT_TRUE(fs.Exists(L"C:\\Windows.lkg"));
  }
  ScriptedFileSystem fs;
  fs.AddFamily(L"C:\\Corvella", "acca");
  fs.unsafe_reasons[L"C:\\"] = "C:\\ can be changed by Users";
  fs.rename_scripts[L"C:\\Corvella.staging"] = {UINT32_MAX, 32, 0};
  fs.active_version_fails = true;
  const SwapResult result = RepairTransaction(L"C:\\Corvella", fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  EXPECT_EQ(result.unsafe_parent_reason, "C:\\ can be changed by Users");
  ASSERT_EQ(result.renames.size(), 2u);
  EXPECT_EQ(result.renames[0].from, L"C:\\Corvella.staging");
  EXPECT_EQ(result.renames[0].result, MoveResult::Busy);
  EXPECT_EQ(result.renames[0].attempts, 15u);
  EXPECT_GE(result.renames[0].elapsed_ms, 10000u);
  EXPECT_EQ(result.renames[0].last_error, 32u);
  EXPECT_EQ(result.renames[1].from, L"C:\\Corvella.lkg");
  EXPECT_EQ(result.renames[1].to, L"C:\\Corvella");
  EXPECT_EQ(result.outcome, Outcome::RepairedBack);
  EXPECT_EQ(result.version, L"0.9.0");
  EXPECT_FALSE(result.active_version_written);
  EXPECT_EQ(RepairExitCode(static_cast<Outcome>(99)), 1);
}

}  // namespace
}  // namespace kestrova::appdirswap
