#include "appdirswap/cleanup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appdirswap/scripted_file_system.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;
using Events = std::vector<std::string>;

std::string Removed(const char* sibling, const char* reason) {
  return std::string("remove C:\\Corvella") + sibling + " (" + reason + ")";
}

Events RemovalsOf(const ScriptedFileSystem& fs) {
  Events removals;
  for (const std::string& event : fs.events) {
    if (event.rfind("remove ", 0) == 0) removals.push_back(event);
  }
  return removals;
}

// The swap's clean-up pass, one row per rule, on a family under a drive root.
TEST(CleanLeftoversTest, EveryRuleOfTheSwapPolicy) {
  struct Row {
    const char* name;
    void (*setup)(ScriptedFileSystem&);
    Events removals;
    bool failed_verification;
    bool staged_tree_deleted;
  };
  const Row rows[] = {
      {"healthy family, nothing to do", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella", "1.0.0"); }, {},
       false, false},
      {"APPDIR missing: nothing, not even a partial", [](ScriptedFileSystem& fs) {
         fs.tree.erase(L"C:\\Corvella");
         fs.AddFolder(L"C:\\Corvella.staging.partial");
         fs.AddFolder(L"C:\\Corvella.staging");
         fs.AddLink(L"C:\\Corvella.lkg");
       }, {}, false, false},
      {"APPDIR a junction: nothing", [](ScriptedFileSystem& fs) {
         fs.AddLink(L"C:\\Corvella");
         fs.AddFolder(L"C:\\Corvella.staging.partial");
         fs.AddFolder(L"C:\\Corvella.lkg");
       }, {}, false, false},
      {"APPDIR a file: nothing", [](ScriptedFileSystem& fs) {
         fs.AddFile(L"C:\\Corvella");
         fs.AddFolder(L"C:\\Corvella.staging.partial");
       }, {}, false, false},
      {"lkg superseded by a verifying staging", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
       }, {Removed(".lkg", "superseded_by_pending_staging")}, false, false},
      {"lkg stays for a staging that fails verification", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
         fs.tree[L"C:\\Corvella.staging\\corvella.exe"].content = "damaged";
       }, {Removed(".staging", "staging_failed_verification")}, true, true},
      {"usable lkg and no staging: lkg stays", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
       }, {}, false, false},
      {"usable lkg and a foreign staging", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0", false);
       }, {Removed(".staging", "staging_not_admin_owned")}, false, false},
      {"lkg without marker", [](ScriptedFileSystem& fs) { fs.AddFolder(L"C:\\Corvella.lkg", {{"a", "b"}}); },
       {Removed(".lkg", "lkg_without_marker")}, false, false},
      {"lkg not admin-owned", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0", false); },
       {Removed(".lkg", "lkg_not_admin_owned")}, false, false},
      {"links and files where folders belong", [](ScriptedFileSystem& fs) {
         fs.AddLink(L"C:\\Corvella.lkg");
         fs.AddLink(L"C:\\Corvella.rejected");
         fs.AddFile(L"C:\\Corvella.staging.partial");
         fs.AddFile(L"C:\\Corvella.staging");
       }, {Removed(".lkg", "not_a_real_dir"), Removed(".rejected", "not_a_real_dir"),
           Removed(".staging.partial", "stale_partial"), Removed(".staging", "not_a_real_dir")}, false, false},
      {"real rejected stays; partial link goes", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.rejected", "1.5.0");
         fs.AddLink(L"C:\\Corvella.staging.partial");
       }, {Removed(".staging.partial", "stale_partial")}, false, false},
      {"complete partial goes", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella.staging.partial", "3.0.0"); },
       {Removed(".staging.partial", "stale_partial")}, false, false},
      {"unreadable partial stays", [](ScriptedFileSystem& fs) {
         fs.AddFolder(L"C:\\Corvella.staging.partial");
         fs.tree[L"C:\\Corvella.staging.partial"].unreadable = true;
       }, {}, false, false},
      {"staging without marker", [](ScriptedFileSystem& fs) {
         fs.AddFolder(L"C:\\Corvella.staging", ScriptedFileSystem::VersionFiles("2.0.0"));
       }, {Removed(".staging", "staging_without_marker")}, false, false},
      {"usable staging alone stays", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella.staging", "2.0.0"); },
       {}, false, false},
      {"everything at once, in order", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
         fs.AddLink(L"C:\\Corvella.rejected");
         fs.AddFolder(L"C:\\Corvella.staging.partial", {{"half", "written"}});
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
       }, {Removed(".lkg", "superseded_by_pending_staging"), Removed(".rejected", "not_a_real_dir"),
           Removed(".staging.partial", "stale_partial")}, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedFileSystem fs;
    fs.AddFolder(L"C:\\");
    fs.AddVersion(L"C:\\Corvella", "1.0.0");
    fs.AddFolder(L"C:\\elsewhere", {{"target", "of every link"}});
    row.setup(fs);
    const std::string appdir_before = fs.IntactVersion(L"C:\\Corvella");
    GcPassResult pass;
    ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
    EXPECT_EQ(RemovalsOf(fs), row.removals);
    EXPECT_EQ(pass.staging_failed_verification, row.failed_verification);
    EXPECT_EQ(pass.staged_tree_deleted, row.staged_tree_deleted);
    for (const std::string& removal : row.removals) {
      const std::string path = removal.substr(7, removal.find(" (") - 7);
      EXPECT_FALSE(fs.Exists(Utf8ToWide(path))) << path;
    }
    EXPECT_EQ(fs.IntactVersion(L"C:\\Corvella"), appdir_before);
    EXPECT_TRUE(fs.Exists(L"C:\\elsewhere\\target"));
    EXPECT_FALSE(fs.lock_held);
    EXPECT_EQ(fs.unlocked_mutations, 0u);
  }
}

TEST(CollectGcItemsTest, ThePolicyFlags) {
  LayoutSnapshot snapshot;
  snapshot.valid = true;
  ParseAppdir(L"C:\\Corvella", snapshot.paths);
  snapshot.parent_kind = PathKind::Directory;
  snapshot.appdir_state = FolderState::Incomplete;
  snapshot.lkg_state = FolderState::Complete;
  snapshot.lkg_admin_owned = true;
  snapshot.rejected_state = FolderState::Incomplete;
  snapshot.partial_state = FolderState::Incomplete;
  snapshot.staging_state = FolderState::Complete;
  snapshot.staging_admin_owned = true;

  struct Row {
    GcPolicy policy;
    std::vector<std::string> reasons;
  };
  const Row rows[] = {
      {kSwapGcPolicy, {"superseded_by_pending_staging", "stale_partial"}},
      {{true, false, true, false}, {"appdir_confirmed_healthy", "stale_partial"}},
      {{false, true, true, false}, {"superseded_by_pending_staging", "revert_reported", "stale_partial"}},
      {{false, false, false, false}, {"stale_partial", "staging_not_wanted"}},
      {{false, false, true, true}, {"superseded_by_pending_staging"}},
      {{true, true, false, true}, {"appdir_confirmed_healthy", "revert_reported"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> reasons;
    for (const GcItem& item : CollectGcItems(snapshot, row.policy)) {
      reasons.push_back(item.reason);
      EXPECT_FALSE(item.entry_only);
    }
    EXPECT_EQ(reasons, row.reasons);
  }
  snapshot.parent_is_reparse_point = true;
  EXPECT_TRUE(CollectGcItems(snapshot, kSwapGcPolicy).empty());
  snapshot.parent_is_reparse_point = false;
  snapshot.parent_kind = PathKind::Error;
  EXPECT_TRUE(CollectGcItems(snapshot, kSwapGcPolicy).empty());
}

TEST(CleanLeftoversTest, AFailedRemovalIsReportedAndThePassGoesOn) {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\");
  fs.AddVersion(L"C:\\Corvella", "1.0.0");
  fs.AddFolder(L"C:\\Corvella.lkg", {{"held", "open"}});
  fs.AddFolder(L"C:\\Corvella.staging.partial", {{"a", "b"}});
  fs.removal_errors[L"C:\\Corvella.lkg\\held"] = 32;
  std::vector<bool> results;
  const Remover remover = [&](const GcItem& item) {
    results.push_back(fs.Remove(item));
    return results.back();
  };
  GcPassResult pass;
  ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), remover, pass));
  EXPECT_EQ(results, (std::vector<bool>{false, true}));
  EXPECT_TRUE(fs.Exists(L"C:\\Corvella.lkg\\held"));
  EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging.partial"));
}

TEST(CleanLeftoversTest, ARemovalCutShortIsFinishedByTheNextPass) {
  struct Row {
    const wchar_t* sibling;
    const char* second_reason;
  };
  const Row rows[] = {{L"C:\\Corvella.lkg", "lkg_without_marker"},
                      {L"C:\\Corvella.staging", "staging_without_marker"},
                      {L"C:\\Corvella.staging.partial", "stale_partial"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.second_reason);
    ScriptedFileSystem fs;
    fs.AddFolder(L"C:\\");
    fs.AddVersion(L"C:\\Corvella", "1.0.0");
    fs.AddVersion(row.sibling, "0.9.0", /*admin_owned=*/false);
    fs.removal_errors[WideString(row.sibling) + L"\\core.dll"] = 5;
    GcPassResult pass;
    ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
    EXPECT_TRUE(fs.Exists(row.sibling));
    EXPECT_FALSE(fs.Exists(WideString(row.sibling) + L"\\.complete"));
    fs.removal_errors.clear();
    fs.events.clear();
    ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
    ASSERT_EQ(RemovalsOf(fs).size(), 1u);
    EXPECT_NE(RemovalsOf(fs)[0].find(row.second_reason), std::string::npos);
    EXPECT_FALSE(fs.Exists(row.sibling));
  }
}

TEST(CleanLeftoversTest, NoLockOrNoVerifier) {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\");
  fs.AddVersion(L"C:\\Corvella", "1.0.0");
  fs.AddVersion(L"C:\\Corvella.lkg", "0.9.0");
  fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
  fs.AddFolder(L"C:\\Corvella.staging.partial");
  fs.lock_busy_attempts = UINT32_MAX;
  GcPassResult pass;
  EXPECT_FALSE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
  EXPECT_FALSE(CleanLeftovers(L"C:\\", fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
  EXPECT_TRUE(RemovalsOf(fs).empty());
  EXPECT_TRUE(fs.verified.empty());

  // Without a verifier the last-known-good copy is never given up.
  fs.lock_busy_attempts = 0;
  ASSERT_TRUE(CleanLeftovers(L"C:\\Corvella", fs, RetryBudgets{}, Verifier(), fs.MakeRemover(), pass));
  EXPECT_TRUE(pass.staging_failed_verification);
  EXPECT_TRUE(pass.staged_tree_deleted);
  EXPECT_TRUE(fs.Exists(L"C:\\Corvella.lkg\\.complete"));
  EXPECT_EQ(RemovalsOf(fs), (Events{Removed(".staging.partial", "stale_partial"),
                                    Removed(".staging", "staging_failed_verification")}));
}

TEST(DeleteRejectedStagingTest, RemovesTheStagingUnderTheLock) {
  struct Row {
    const char* name;
    void (*setup)(ScriptedFileSystem&);
    bool locked;
    bool deleted;
    Events removals;
  };
  const Row rows[] = {
      {"complete staging", [](ScriptedFileSystem& fs) { fs.AddVersion(L"C:\\Corvella.staging", "2.0.0"); }, true, true,
       {Removed(".staging", "staging_failed_verification")}},
      {"staging link, removed as itself", [](ScriptedFileSystem& fs) {
         fs.AddLink(L"C:\\Corvella.staging");
       }, true, true, {Removed(".staging", "staging_failed_verification")}},
      {"no staging", [](ScriptedFileSystem&) {}, true, false, {}},
      {"unreadable staging", [](ScriptedFileSystem& fs) {
         fs.AddFolder(L"C:\\Corvella.staging");
         fs.tree[L"C:\\Corvella.staging"].unreadable = true;
       }, true, false, {}},
      {"lock held elsewhere", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
         fs.lock_busy_attempts = UINT32_MAX;
       }, false, false, {}},
      {"removal fails", [](ScriptedFileSystem& fs) {
         fs.AddVersion(L"C:\\Corvella.staging", "2.0.0");
         fs.removal_errors[L"C:\\Corvella.staging\\.complete"] = 32;
       }, true, false, {Removed(".staging", "staging_failed_verification")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedFileSystem fs;
    fs.AddFolder(L"C:\\");
    fs.AddVersion(L"C:\\Corvella", "1.0.0");
    row.setup(fs);
    bool deleted = true;
    EXPECT_EQ(DeleteRejectedStaging(L"C:\\Corvella", fs, RetryBudgets{}, fs.MakeRemover(), deleted), row.locked);
    EXPECT_EQ(deleted, row.deleted);
    EXPECT_EQ(RemovalsOf(fs), row.removals);
    EXPECT_FALSE(fs.lock_held);
    EXPECT_EQ(fs.unlocked_mutations, 0u);
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
