#include "appdirswap/repair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

// How one sibling of a missing APPDIR is set up for a row.
enum class Copy { None, Usable, Foreign, Incomplete, Damaged };

void Place(ScriptedFileSystem& fs, const WideString& path, Copy copy, const std::string& version) {
  switch (copy) {
    case Copy::None: break;
    case Copy::Usable: fs.AddVersion(path, version); break;
    case Copy::Foreign: fs.AddVersion(path, version, /*admin_owned=*/false); break;
    case Copy::Incomplete: fs.AddFolder(path, ScriptedFileSystem::VersionFiles(version)); break;
    case Copy::Damaged:
      fs.AddVersion(path, version);
      fs.tree[path + L"\\core.dll"].content = "flipped";
      break;
  }
}

// APPDIR missing in every row; "new" is staged, "old" is the last-known-good copy, "bad" the rejected one.
TEST(RecoverMissingAppdirTest, EveryRowOfTheRepairTable) {
  struct Row {
    const char* name;
    Copy rejected, staging, lkg;
    bool with_verifier;
    uint32_t staging_rename_error;  // the forward rename fails with this (busy errors stay busy for ever)
    uint32_t lkg_rename_error;
    bool installer_running;
    Outcome outcome;
    Refusal refusal;
    HoldReason hold;
    const char* appdir;  // the version APPDIR holds afterwards, "" for none
    size_t renames;
  };
  const Row rows[] = {
      // .rejected present and .lkg usable: .lkg back, the staged version is not used.
      {"rejected, lkg usable, staging usable", Copy::Incomplete, Copy::Usable, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 1},
      {"rejected a real copy, lkg usable", Copy::Usable, Copy::None, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 1},
      {"rejected, lkg rename fails", Copy::Incomplete, Copy::Usable, Copy::Usable, true, 0, 87, false, Outcome::Torn,
       Refusal::None, HoldReason::None, "", 1},
      // .staging usable and verifying: forward.
      {"staging verifies, lkg usable", Copy::None, Copy::Usable, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedForward, Refusal::None, HoldReason::None, "new", 1},
      {"staging verifies, lkg incomplete", Copy::None, Copy::Usable, Copy::Incomplete, true, 0, 0, false,
       Outcome::RepairedForward, Refusal::None, HoldReason::None, "new", 1},
      {"staging verifies, rejected without usable lkg", Copy::Incomplete, Copy::Usable, Copy::Foreign, true, 0, 0,
       false, Outcome::RepairedForward, Refusal::None, HoldReason::None, "new", 1},
      {"staging verifies, nothing else", Copy::None, Copy::Usable, Copy::None, true, 0, 0, false, Outcome::Swapped,
       Refusal::None, HoldReason::None, "new", 1},
      {"forward rename busy, lkg usable", Copy::None, Copy::Usable, Copy::Usable, true, 32, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 2},
      {"forward rename fails, lkg usable", Copy::None, Copy::Usable, Copy::Usable, true, 2, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 2},
      {"forward rename fails, lkg rename fails", Copy::None, Copy::Usable, Copy::Usable, true, 2, 5, false,
       Outcome::Torn, Refusal::None, HoldReason::None, "", 2},
      {"forward rename fails, no lkg", Copy::None, Copy::Usable, Copy::None, true, 33, 0, false, Outcome::Torn,
       Refusal::None, HoldReason::None, "", 1},
      // .staging usable but not verified.
      {"staging damaged, lkg usable", Copy::None, Copy::Damaged, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 1},
      {"no verifier, lkg usable", Copy::None, Copy::Usable, Copy::Usable, false, 0, 0, false, Outcome::RepairedBack,
       Refusal::None, HoldReason::None, "old", 1},
      {"staging damaged, lkg foreign", Copy::None, Copy::Damaged, Copy::Foreign, true, 0, 0, false,
       Outcome::Unrecoverable, Refusal::StagingNotVerified, HoldReason::None, "", 0},
      {"no verifier, no lkg, installer running", Copy::None, Copy::Usable, Copy::None, false, 0, 0, true,
       Outcome::Unrecoverable, Refusal::StagingNotVerified, HoldReason::None, "", 0},
      // .staging not usable, .lkg usable.
      {"staging incomplete, lkg usable", Copy::None, Copy::Incomplete, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 1},
      {"staging foreign, lkg usable", Copy::None, Copy::Foreign, Copy::Usable, true, 0, 0, false,
       Outcome::RepairedBack, Refusal::None, HoldReason::None, "old", 1},
      {"only lkg", Copy::None, Copy::None, Copy::Usable, true, 0, 0, false, Outcome::RepairedBack, Refusal::None,
       HoldReason::None, "old", 1},
      {"only lkg, rename busy", Copy::None, Copy::None, Copy::Usable, true, 0, 32, false, Outcome::Torn,
       Refusal::None, HoldReason::None, "", 1},
      // Nothing usable.
      {"only a foreign staging", Copy::None, Copy::Foreign, Copy::None, true, 0, 0, false, Outcome::Unrecoverable,
       Refusal::NotAdminOwned, HoldReason::None, "", 0},
      {"only a foreign lkg", Copy::None, Copy::None, Copy::Foreign, true, 0, 0, false, Outcome::Unrecoverable,
       Refusal::NotAdminOwned, HoldReason::None, "", 0},
      {"foreign copy while installing", Copy::None, Copy::Foreign, Copy::None, true, 0, 0, true, Outcome::Held,
       Refusal::None, HoldReason::InstallRunning, "", 0},
      {"no copy at all", Copy::None, Copy::None, Copy::None, true, 0, 0, false, Outcome::Unrecoverable,
       Refusal::None, HoldReason::None, "", 0},
      {"only incomplete copies", Copy::Usable, Copy::Incomplete, Copy::Incomplete, true, 0, 0, false,
       Outcome::Unrecoverable, Refusal::None, HoldReason::None, "", 0},
      {"rejected but foreign lkg", Copy::Usable, Copy::None, Copy::Foreign, true, 0, 0, false,
       Outcome::Unrecoverable, Refusal::NotAdminOwned, HoldReason::None, "", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedFileSystem fs;
    fs.AddFolder(L"C:\\");
    Place(fs, L"C:\\Corvella.rejected", row.rejected, "bad");
    Place(fs, L"C:\\Corvella.staging", row.staging, "2.0.0");
    Place(fs, L"C:\\Corvella.lkg", row.lkg, "1.0.0");
    if (row.staging_rename_error != 0) {
      const bool busy = ClassifyMoveError(row.staging_rename_error) == MoveResult::Busy;
      fs.rename_scripts[L"C:\\Corvella.staging"] = {busy ? UINT32_MAX : 0, row.staging_rename_error,
                                                     busy ? 0 : row.staging_rename_error};
    }
    if (row.lkg_rename_error != 0) fs.rename_scripts[L"C:\\Corvella.lkg"] = {0, 32, row.lkg_rename_error};
    fs.installer_running = row.installer_running;

    const SwapResult result =
        RepairTransaction(L"C:\\Corvella", fs, row.with_verifier ? fs.MakeVerifier() : Verifier(), RetryBudgets{});
    EXPECT_EQ(result.outcome, row.outcome) << OutcomeName(result.outcome);
    EXPECT_EQ(result.refusal, row.refusal) << RefusalName(result.refusal);
    EXPECT_EQ(result.hold, row.hold);
    EXPECT_EQ(result.renames.size(), row.renames);
    const std::string expected = std::string(row.appdir) == "new" ? "2.0.0"
                                 : std::string(row.appdir) == "old" ? "1.0.0"
                                                                    : "";
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella"), expected);
    EXPECT_EQ(fs.Exists(L"C:\\Corvella"), !expected.empty());
    EXPECT_EQ(WideToUtf8(result.version), expected);
    EXPECT_EQ(result.active_version_written, !expected.empty());
    EXPECT_EQ(WideToUtf8(fs.active_version), expected);
    EXPECT_FALSE(fs.lock_held);
    EXPECT_EQ(fs.unlocked_mutations, 0u);
    // Repair deletes nothing: every copy it did not move is still where it was.
    if (row.rejected != Copy::None) {
      EXPECT_TRUE(fs.Exists(L"C:\\Corvella.rejected"));
    }
    if (row.lkg != Copy::None && expected != "1.0.0") {
      EXPECT_TRUE(fs.Exists(L"C:\\Corvella.lkg"));
    }
    if (row.staging != Copy::None && expected != "2.0.0") {
      EXPECT_TRUE(fs.Exists(L"C:\\Corvella.staging"));
    }
  }
}

TEST(RepairTransactionTest, BusyForwardRenameIsRecordedBeforeTheLkgComesBack) {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\");
  fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
  fs.AddVersion(L"C:\\Corvella.lkg", "1.0.0");
  fs.rename_scripts[L"C:\\Corvella.staging"] = {UINT32_MAX, 32, 0};
  const SwapResult result = RepairTransaction(L"C:\\Corvella", fs, fs.MakeVerifier(), RetryBudgets{});
  ASSERT_EQ(result.renames.size(), 2u);
  EXPECT_EQ(result.renames[0].from, L"C:\\Corvella.staging");
  EXPECT_EQ(result.renames[0].result, MoveResult::Busy);
  EXPECT_EQ(result.renames[0].attempts, 15u);
  EXPECT_GE(result.renames[0].elapsed_ms, 10000u);
  EXPECT_EQ(result.renames[0].last_error, 32u);
  EXPECT_EQ(result.renames[1].from, L"C:\\Corvella.lkg");
  EXPECT_EQ(result.renames[1].result, MoveResult::Ok);
  EXPECT_EQ(result.outcome, Outcome::RepairedBack);
  EXPECT_EQ(RepairExitCode(result.outcome), 0);
}

TEST(RepairTransactionTest, WhatHappensBeforeTheRecovery) {
  struct Row {
    const char* name;
    const wchar_t* appdir_arg;
    void (*setup)(ScriptedFileSystem&);
    Outcome outcome;
    Refusal refusal;
    HoldReason hold;
    bool trust_asked;
    int exit_code;
  };
  const Row rows[] = {
      {"complete APPDIR", L"C:\\Corvella", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella", "1.0.0"); },
       Outcome::Nothing, Refusal::None, HoldReason::None, false, 0},
      {"incomplete APPDIR is never replaced", L"C:\\Corvella\\", [](ScriptedFileSystem& fs) {
         fs.AddFolder(L"C:\\Corvella");
         fs.AddVersion(L"C:\\Corvella.lkg", "1.0.0");
       }, Outcome::Nothing, Refusal::None, HoldReason::None, false, 0},
      {"drive root", L"C:\\", [](ScriptedFileSystem&) {}, Outcome::Refused, Refusal::BadAppdirPath, HoldReason::None,
       false, 1},
      {"system folder", L"C:\\Windows", [](ScriptedFileSystem& fs) { fs.system_folders = {L"C:\\Windows"}; },
       Outcome::Refused, Refusal::BadAppdirPath, HoldReason::None, false, 1},
      {"lock held elsewhere", L"C:\\Corvella", [](ScriptedFileSystem& fs) { fs.lock_busy_attempts = UINT32_MAX; },
       Outcome::Held, Refusal::None, HoldReason::Lock, false, 1},
      {"APPDIR a junction", L"C:\\Corvella", [](ScriptedFileSystem& fs) {
         fs.AddLink(L"C:\\Corvella");
         fs.AddVersion(L"C:\\Corvella.lkg", "1.0.0");
       }, Outcome::Refused, Refusal::ReparsePoint, HoldReason::None, false, 1},
      {"lkg a file", L"C:\\Corvella", [](ScriptedFileSystem& fs) { fs.AddFile(L"C:\\Corvella.lkg"); },
       Outcome::Refused, Refusal::UnexpectedEntry, HoldReason::None, false, 1},
      {"unsafe parent does not stop a repair", L"C:\\Corvella", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "1.0.0");
         fs.unsafe_reasons[L"C:\\"] = "C:\\ can be changed by Users";
       }, Outcome::RepairedBack, Refusal::None, HoldReason::None, true, 0},
      {"no copy", L"C:\\Corvella", [](ScriptedFileSystem&) {}, Outcome::Unrecoverable, Refusal::None,
       HoldReason::None, true, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedFileSystem fs;
    fs.AddFolder(L"C:\\");
    row.setup(fs);
    const auto before = fs.tree.size();
    const SwapResult result = RepairTransaction(row.appdir_arg, fs, fs.MakeVerifier(), RetryBudgets{});
    EXPECT_EQ(result.outcome, row.outcome);
    EXPECT_EQ(result.refusal, row.refusal);
    EXPECT_EQ(result.hold, row.hold);
    EXPECT_EQ(RepairExitCode(result.outcome), row.exit_code);
    const bool trust_asked = std::find(fs.events.begin(), fs.events.end(), "trust C:\\") != fs.events.end();
    EXPECT_EQ(trust_asked, row.trust_asked);
    EXPECT_EQ(result.unsafe_parent_reason, fs.unsafe_reasons.count(L"C:\\") ? "C:\\ can be changed by Users" : "");
    EXPECT_EQ(fs.tree.size(), before);
    EXPECT_FALSE(fs.lock_held);
  }
}

TEST(RepairTransactionTest, ExitCodes) {
  const int expected[] = {0, 1, 1, 0, 0, 0, 1, 1, 1, 1, 3};
  for (uint32_t i = 0; i < 11; ++i) EXPECT_EQ(RepairExitCode(static_cast<Outcome>(i)), expected[i]) << i;
  EXPECT_EQ(RepairExitCode(static_cast<Outcome>(99)), 1);
}

TEST(RepairTransactionTest, FailedActiveVersionWriteKeepsTheOutcome) {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\");
  fs.AddVersion(L"C:\\Corvella.lkg", "1.0.0");
  fs.active_version_fails = true;
  const SwapResult result = RepairTransaction(L"C:\\Corvella", fs, fs.MakeVerifier(), RetryBudgets{});
  EXPECT_EQ(result.outcome, Outcome::RepairedBack);
  EXPECT_EQ(result.version, L"1.0.0");
  EXPECT_FALSE(result.active_version_written);
}

}  // namespace
}  // namespace kestrova::appdirswap
