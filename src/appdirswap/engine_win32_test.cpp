// The engine's repair and clean-up on real folders directly under the drive root, with Win32FileSystem doing the
// renames, the lock, the registry write and the removals; only ownership and trust are answered by the test, since
// under Wine no entry is ever owned by an administrator.
#include <gtest/gtest.h>

#include <string>

#include "appdirswap/cleanup.h"
#include "appdirswap/engine_test_support_win32.h"
#include "appdirswap/repair.h"
#include "appdirswap/staged_tree_verify.h"
#include "appdirswap/win32_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::DriveRootFamily;

bool Verify(const WideString& folder) { return VerifyAndLog(folder); }

TEST(EngineOnRealFoldersTest, RepairPutsTheStagedTreeForwardUnderADriveRoot) {
  DriveRootFamily family;
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  test::WriteVersionTree(family + L".lkg", test::VersionFiles("1.0.0"), "1.0.0");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);

  const SwapResult result = RepairTransaction(family.appdir() + L"\\", fs, Verify, Remover(), RetryBudgets{});
  EXPECT_EQ(result.outcome, Outcome::RepairedForward);
  EXPECT_EQ(result.snapshot.paths.parent, L"C:\\");
  ASSERT_EQ(result.renames.size(), 1u);
  EXPECT_EQ(result.renames[0].result, MoveResult::Ok);
  EXPECT_EQ(result.version, L"2.0.0");
  EXPECT_TRUE(result.active_version_written);
  EXPECT_EQ(test::ReadActiveVersion(), L"2.0.0");
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "2.0.0");
  EXPECT_TRUE(VerifyStagedTree(family.appdir()).parsed);
  EXPECT_FALSE(test::Exists(family + L".staging"));
  EXPECT_TRUE(test::Exists(family + L".lkg\\.complete"));
  EXPECT_FALSE(test::Exists(family + L".swap.lock"));

  // A second repair finds APPDIR and changes nothing.
  const SwapResult again = RepairTransaction(family.appdir(), fs, Verify, Remover(), RetryBudgets{});
  EXPECT_EQ(again.outcome, Outcome::Nothing);
  EXPECT_TRUE(again.renames.empty());
}

TEST(EngineOnRealFoldersTest, CleanUpRemovesLeftoversAndKeepsTheUsableLkg) {
  DriveRootFamily family;
  test::WriteVersionTree(family.appdir(), test::VersionFiles("2.0.0"), "2.0.0");
  test::WriteVersionTree(family + L".lkg", test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging.partial", test::VersionFiles("3.0.0"), "");
  test::WriteVersionTree(family + L".staging", test::VersionFiles("3.0.0"), "3.0.0");
  test::WriteTextFile(family + L".rejected", "a file where a folder belongs");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  fs.foreign.push_back(family + L".staging");

  GcPassResult pass;
  ASSERT_TRUE(CleanLeftovers(family.appdir(), fs, RetryBudgets{}, Verify, RemoveAndLog, pass));
  EXPECT_FALSE(pass.staging_failed_verification);
  EXPECT_FALSE(test::Exists(family + L".staging.partial"));
  EXPECT_FALSE(test::Exists(family + L".staging"));
  EXPECT_FALSE(test::Exists(family + L".rejected"));
  EXPECT_TRUE(test::Exists(family + L".lkg\\.complete"));
  EXPECT_TRUE(VerifyStagedTree(family.appdir()).parsed);

  // A usable, verifying staged tree now supersedes the lkg.
  test::WriteVersionTree(family + L".staging", test::VersionFiles("3.0.0"), "3.0.0");
  fs.foreign.clear();
  ASSERT_TRUE(CleanLeftovers(family.appdir(), fs, RetryBudgets{}, Verify, RemoveAndLog, pass));
  EXPECT_FALSE(test::Exists(family + L".lkg"));
  EXPECT_TRUE(test::Exists(family + L".staging\\.complete"));

  bool deleted = false;
  ASSERT_TRUE(DeleteRejectedStaging(family.appdir(), fs, RetryBudgets{}, RemoveAndLog, deleted));
  EXPECT_TRUE(deleted);
  EXPECT_FALSE(test::Exists(family + L".staging"));
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "2.0.0");
}

TEST(EngineOnRealFoldersTest, RemoveGcItemTakesTheMarkerFirst) {
  DriveRootFamily family;
  test::WriteVersionTree(family + L".lkg", test::VersionFiles("1.0.0"), "1.0.0");
  // A file held open without delete sharing stops the removal part way.
  FileHandle held(CreateFileW(ToLongPathForm(family + L".lkg\\corvella.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  uint32_t error = 0;
  EXPECT_FALSE(RemoveGcItem(GcItem{family + L".lkg", false, "lkg_without_marker", {}}, error));
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(test::Exists(family + L".lkg\\.complete"));
  held.reset();
  EXPECT_TRUE(RemoveGcItem(GcItem{family + L".lkg", false, "lkg_without_marker", {}}, error));
  EXPECT_EQ(error, 0u);
  EXPECT_FALSE(test::Exists(family + L".lkg"));
  EXPECT_TRUE(RemoveGcItem(GcItem{family + L".lkg", false, "lkg_without_marker", {}}, error));
}

// Names a standard user can take beside APPDIR never deny the engine: a file at .rejected while APPDIR is missing
// is removed and the repair goes on; a folder squatting the lock's name is removed and the lock taken.
TEST(EngineOnRealFoldersTest, StrangersEntriesAtFamilyNamesAreRemovedNotObeyed) {
  DriveRootFamily family;
  test::WriteVersionTree(family + L".staging", test::VersionFiles("2.0.0"), "2.0.0");
  test::WriteTextFile(family + L".rejected", "planted");
  test::MakeFolder(family + L".swap.lock");
  test::WriteTextFile(family + L".swap.lock\\inside", "planted");
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  fs.foreign.push_back(family + L".swap.lock");

  const SwapResult result = RepairTransaction(family.appdir(), fs, Verify, LoggingRemover("repair"), RetryBudgets{});
  EXPECT_EQ(result.outcome, Outcome::Swapped) << OutcomeName(result.outcome);
  EXPECT_TRUE(result.foreign_left.empty());
  EXPECT_EQ(test::ReadText(family + L"\\.complete"), "2.0.0");
  EXPECT_FALSE(test::Exists(family + L".rejected"));
  EXPECT_FALSE(test::Exists(family + L".swap.lock"));
}

}  // namespace
}  // namespace kestrova::appdirswap
