#include "appdirswap/staging_moves.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

constexpr wchar_t kAppdir[] = L"C:\\Corvella";

// Families as ScriptedFileSystem::AddFamily spells them: APPDIR 1.0.0, .staging 2.0.0, .lkg, .rejected, and
// .staging.partial 3.0.0 (marked, as commit finds it after writing the marker).
TEST(StagingMovesTest, CommitReplacesTheOldStagingOnlyWhenThePartialFolderCanMove) {
  struct Row {
    const char* label;
    const char* family;
    std::function<void(ScriptedFileSystem&)> setup;
    StagingStep step;
    uint32_t error;
    const char* staging;  // the version .staging holds intact afterwards
    const char* partial;  // the same for .staging.partial
    const char* removed;
  };
  const Row rows[] = {
      {"old staging replaced", "ccaac", {}, StagingStep::Done, 0, "3.0.0", "", ".staging (replaced_by_commit)"},
      {"first commit", "caaac", {}, StagingStep::Done, 0, "3.0.0", "", ""},
      {"old staging a link", "craac", {}, StagingStep::Done, 0, "3.0.0", "", ".staging (replaced_by_commit)"},
      {"lock held elsewhere", "ccaac", [](ScriptedFileSystem& fs) { fs.lock_busy_attempts = UINT32_MAX; },
       StagingStep::LockNotTaken, 32, "2.0.0", "3.0.0", ""},
      {"partial held elsewhere", "ccaac",
       [](ScriptedFileSystem& fs) { fs.held_elsewhere.insert(L"C:\\Corvella.staging.partial"); }, StagingStep::Held,
       32, "2.0.0", "3.0.0", ""},
      {"old staging in use", "ccaac",
       [](ScriptedFileSystem& fs) { fs.removal_errors[L"C:\\Corvella.staging\\.complete"] = 32; },
       StagingStep::OldStagingKept, 0, "2.0.0", "3.0.0", ".staging (replaced_by_commit)"},
      {"rename fails", "caaac",
       [](ScriptedFileSystem& fs) { fs.rename_scripts[L"C:\\Corvella.staging.partial"] = {0, 0, 87}; },
       StagingStep::RenameFailed, 87, "", "3.0.0", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ScriptedFileSystem fs;
    fs.AddFamily(kAppdir, row.family);
    if (row.setup) row.setup(fs);
    const StagingMoveResult result = CommitUnderLock(kAppdir, fs, RetryBudgets{}, fs.MakeRemover());
    EXPECT_EQ(result.step, row.step);
    EXPECT_EQ(result.error, row.error);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella.staging"), row.staging);
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella.staging.partial"), row.partial);
    EXPECT_EQ(fs.Removals(kAppdir), row.removed);
    EXPECT_EQ(fs.IntactVersion(kAppdir), "1.0.0");
    EXPECT_EQ(fs.unlocked_mutations, 0u);
    EXPECT_FALSE(fs.lock_held);
    EXPECT_TRUE(fs.holds.empty());
  }
  ScriptedFileSystem fs;
  EXPECT_EQ(CommitUnderLock(L"C:\\", fs, RetryBudgets{}, fs.MakeRemover()).step, StagingStep::BadPath);
}

}  // namespace
}  // namespace kestrova::appdirswap
