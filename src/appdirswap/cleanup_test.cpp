#include "appdirswap/cleanup.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;
using Events = std::vector<std::string>;

// "<sibling suffix> <reason>" pairs, space-separated, as the remover records them.
Events Removals(const std::string& pairs) {
  Events removals;
  std::istringstream words(pairs);
  std::string sibling, reason;
  while (words >> sibling >> reason) removals.push_back("remove C:\\Corvella" + sibling + " (" + reason + ")");
  return removals;
}

Events RemovalsOf(const ScriptedFileSystem& fs) {
  Events removals;
  for (const std::string& event : fs.events) {
    if (event.rfind("remove ", 0) == 0) removals.push_back(event);
  }
  return removals;
}

// The swap's clean-up pass, one row per rule. Families as ScriptedFileSystem::AddFamily spells them: APPDIR,
// .staging, .lkg, .rejected, .staging.partial.
// Below a parent that cannot be read, or that is a link, nothing is known about the family: nothing goes.
TEST(CleanLeftoversTest, NothingGoesBelowAParentThatIsNotAPlainFolder) {
  for (const bool link : {false, true}) {
    ScriptedFileSystem fs;
    fs.AddFamily(L"C:\\Corvella", "cicri");
    fs.tree[L"C:\\"].unreadable = !link;
    fs.tree[L"C:\\"].reparse_point = link;
    GcPassResult pass;
    ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
    EXPECT_TRUE(RemovalsOf(fs).empty()) << link;
    EXPECT_TRUE(fs.Exists(L"C:\\Corvella.lkg\\.complete"));
  }
}

TEST(CleanLeftoversTest, EveryRuleOfTheSwapPolicy) {
  struct Row {
    const char* family;
    const char* removals;
    bool failed_verification;  // and so the staged tree was deleted
  };
  const Row rows[] = {
      {"caaaa", "", false},
      // While APPDIR is missing, a link or a file, nothing goes.
      {"airai", "", false},
      {"raiai", "", false},
      {"faaac", "", false},
      {"cccaa", ".lkg superseded_by_pending_staging", false},
      {"cdcaa", ".staging staging_failed_verification", true},
      {"cacaa", "", false},
      {"cocaa", ".staging staging_not_admin_owned", false},
      {"caiaa", ".lkg lkg_without_marker", false},
      {"caoaa", ".lkg lkg_not_admin_owned", false},
      {"cfrrf", ".lkg not_a_real_dir .rejected not_a_real_dir .staging.partial stale_partial .staging not_a_real_dir",
       false},
      {"caacr", ".staging.partial stale_partial", false},
      {"caaic", ".staging.partial stale_partial", false},
      {"caaau", "", false},
      {"ciaaa", ".staging staging_without_marker", false},
      {"ccaaa", "", false},
      {"cccri", ".lkg superseded_by_pending_staging .rejected not_a_real_dir .staging.partial stale_partial", false},
      // A stranger's APPDIR is as good as none; a stranger's .rejected goes whatever the policy.
      {"oicri", "", false},
      {"caaoa", ".rejected not_admin_only", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.family);
    ScriptedFileSystem fs;
    fs.AddFamily(L"C:\\Corvella", row.family);
    const std::string appdir_before = fs.IntactVersion(L"C:\\Corvella");
    GcPassResult pass;
    ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
    EXPECT_EQ(RemovalsOf(fs), Removals(row.removals));
    EXPECT_EQ(pass.staging_failed_verification, row.failed_verification);
    EXPECT_EQ(pass.staged_tree_deleted, row.failed_verification);
    for (const std::string& removal : RemovalsOf(fs)) {
      const std::string path = removal.substr(7, removal.find(" (") - 7);
      EXPECT_FALSE(fs.Exists(Utf8ToWide(path))) << path;
    }
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella"), appdir_before);
    EXPECT_EQ(fs.links_descended, 0u);
    EXPECT_EQ(fs.unlocked_mutations, 0u);
    EXPECT_FALSE(fs.lock_held);
  }
}

TEST(CollectGcItemsTest, ThePolicyFlags) {
  ScriptedFileSystem fs;
  fs.AddFamily(L"C:\\Corvella", "iccii");
  const LayoutSnapshot snapshot = TakeSnapshot(L"C:\\Corvella", fs);
  struct Row {
    GcPolicy policy;
    std::vector<std::string> reasons;
  };
  const Row rows[] = {
      {kSwapGcPolicy, {"superseded_by_pending_staging", "stale_partial"}},
      {{true, false, true, false}, {"appdir_confirmed_healthy", "stale_partial"}},
      {{false, true, true, false}, {"superseded_by_pending_staging", "revert_reported", "stale_partial"}},
      {{false, false, false, false}, {"stale_partial", "staging_not_wanted"}},
      {{true, true, false, true}, {"appdir_confirmed_healthy", "revert_reported"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> reasons;
    for (const GcItem& item : CollectGcItems(snapshot, row.policy)) reasons.push_back(item.reason);
    EXPECT_EQ(reasons, row.reasons);
  }
  LayoutSnapshot linked_parent = snapshot;
  linked_parent.parent_is_reparse_point = true;
  EXPECT_TRUE(CollectGcItems(linked_parent, kSwapGcPolicy).empty());
}

TEST(CleanLeftoversTest, FailuresLockAndVerifier) {
  // A removal that fails is reported and the pass goes on; cut short after the marker, the next pass finds the
  // folder incomplete and finishes it.
  ScriptedFileSystem fs;
  fs.AddFamily(L"C:\\Corvella", "cooai");
  fs.removal_errors[L"C:\\Corvella.lkg\\core.dll"] = 32;
  fs.removal_errors[L"C:\\Corvella.staging\\core.dll"] = 5;
  GcPassResult pass;
  ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging.partial"));
  EXPECT_TRUE(fs.Exists(L"C:\\Corvella.lkg\\core.dll"));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.lkg\\.complete"));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging\\.complete"));
  fs.removal_errors.clear();
  fs.events.clear();
  ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
  EXPECT_EQ(RemovalsOf(fs), Removals(".lkg lkg_without_marker .staging staging_without_marker"));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.lkg"));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging"));

  // No lock, or a rejected path: nothing is looked at.
  ScriptedFileSystem busy;
  busy.AddFamily(L"C:\\Corvella", "cccai");
  busy.lock_busy_attempts = UINT32_MAX;
  EXPECT_FALSE(CleanLeftovers(L"C:\\Corvella", busy, RetryBudgets{}, busy.MakeVerifier(), busy.MakeRemover(), pass));
  EXPECT_FALSE(CleanLeftovers(L"C:\\", busy, RetryBudgets{}, busy.MakeVerifier(), busy.MakeRemover(), pass));
  EXPECT_TRUE(RemovalsOf(busy).empty());
  EXPECT_TRUE(busy.verified.empty());

  // Without a verifier the last-known-good copy is never given up.
  busy.lock_busy_attempts = 0;
  ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", busy, RetryBudgets{}, Verifier(), busy.MakeRemover(), pass));
  EXPECT_TRUE(pass.staged_tree_deleted);
  EXPECT_TRUE(busy.Exists(L"C:\\Corvella.lkg\\.complete"));
  EXPECT_EQ(RemovalsOf(busy), Removals(".staging.partial stale_partial .staging staging_failed_verification"));
}

TEST(DeleteRejectedStagingTest, RemovesTheStagingUnderTheLock) {
  struct Row {
    const char* family;
    bool lock_busy;
    bool removal_fails;
    bool locked, deleted;
    bool removed;  // handed to the remover
  };
  const Row rows[] = {
      {"cc", false, false, true, true, true},   {"cr", false, false, true, true, true},
      {"ca", false, false, true, false, false}, {"cu", false, false, true, false, false},
      {"cc", true, false, false, false, false}, {"cc", false, true, true, false, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.family);
    ScriptedFileSystem fs;
    fs.AddFamily(L"C:\\Corvella", row.family);
    if (row.lock_busy) fs.lock_busy_attempts = UINT32_MAX;
    if (row.removal_fails) fs.removal_errors[L"C:\\Corvella.staging\\.complete"] = 32;
    bool deleted = !row.deleted;
    EXPECT_EQ(DeleteRejectedStaging(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeRemover(), deleted), row.locked);
    EXPECT_EQ(deleted, row.deleted);
    EXPECT_EQ(RemovalsOf(fs), Removals(row.removed ? ".staging staging_failed_verification" : ""));
    EXPECT_EQ(fs.links_descended, 0u);
    EXPECT_FALSE(fs.lock_held);
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
