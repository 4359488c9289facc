#include "payload/pack_walk.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace kestrova::payload {
namespace {

// A tree held in memory: folder path -> its items; a folder mapped to an error code fails to list.
class FakeLister final : public FolderLister {
 public:
  std::map<WideString, std::vector<ListedItem>> folders;
  std::map<WideString, uint32_t> failures;
  std::vector<WideString> listed;

  bool List(const WideString& folder, std::vector<ListedItem>* items, uint32_t* error) override {
    listed.push_back(folder);
    items->clear();
    if (const auto failure = failures.find(folder); failure != failures.end()) {
      *error = failure->second;
      return false;
    }
    const auto found = folders.find(folder);
    if (found == folders.end()) {
      *error = 3;
      return false;
    }
    *items = found->second;
    return true;
  }
};

ListedItem File(const wchar_t* name) { return {name, false, false}; }
ListedItem Folder(const wchar_t* name) { return {name, true, false}; }
ListedItem FolderLink(const wchar_t* name) { return {name, true, true}; }
ListedItem FileLink(const wchar_t* name) { return {name, false, true}; }

std::vector<std::string> RelativePaths(const std::vector<PackItem>& items) {
  std::vector<std::string> paths;
  for (const PackItem& item : items) paths.push_back(item.relativePath);
  return paths;
}

std::vector<PackItem> Items(std::initializer_list<const char*> paths) {
  std::vector<PackItem> items;
  for (const char* path : paths) items.push_back({path, Utf8ToWide(path)});
  return items;
}

TEST(PackWalkTest, CollectsNestedFilesWithFullAndRelativePaths) {
  FakeLister lister;
  lister.folders[L"R"] = {File(L"top.txt"), Folder(L"a")};
  lister.folders[L"R\\a"] = {Folder(L"b"), File(L"x")};
  lister.folders[L"R\\a\\b"] = {File(L"deep.bin")};
  std::vector<PackItem> files;
  uint32_t error = 0;
  ASSERT_TRUE(WalkTree(lister, L"R", &files, &error));
  SortForArchive(&files);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].relativePath, "a/b/deep.bin");
  EXPECT_EQ(files[0].fullPath, L"R\\a\\b\\deep.bin");
  EXPECT_EQ(files[1].relativePath, "a/x");
  EXPECT_EQ(files[1].fullPath, L"R\\a\\x");
  EXPECT_EQ(files[2].relativePath, "top.txt");
  EXPECT_EQ(files[2].fullPath, L"R\\top.txt");
}

TEST(PackWalkTest, RootEndingInSeparatorGetsNoDoubledSeparator) {
  FakeLister lister;
  lister.folders[L"C:\\"] = {Folder(L"d")};
  lister.folders[L"C:\\d"] = {File(L"f")};
  std::vector<PackItem> files;
  uint32_t error = 0;
  ASSERT_TRUE(WalkTree(lister, L"C:\\", &files, &error));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].fullPath, L"C:\\d\\f");
  EXPECT_EQ(files[0].relativePath, "d/f");
}

TEST(PackWalkTest, LinksAreNeitherEnteredNorTaken) {
  FakeLister lister;
  lister.folders[L"R"] = {FolderLink(L"junction"), FileLink(L"symlink.txt"), File(L"real.txt")};
  // Listing the link's target would fail the walk: proof that it is never entered.
  lister.failures[L"R\\junction"] = 5;
  std::vector<PackItem> files;
  uint32_t error = 0;
  ASSERT_TRUE(WalkTree(lister, L"R", &files, &error));
  EXPECT_EQ(RelativePaths(files), std::vector<std::string>{"real.txt"});
  EXPECT_EQ(lister.listed, std::vector<WideString>{L"R"});
}

TEST(PackWalkTest, EmptyFoldersContributeNothing) {
  FakeLister lister;
  lister.folders[L"R"] = {Folder(L"empty")};
  lister.folders[L"R\\empty"] = {};
  std::vector<PackItem> files;
  uint32_t error = 0;
  ASSERT_TRUE(WalkTree(lister, L"R", &files, &error));
  EXPECT_TRUE(files.empty());
}

TEST(PackWalkTest, MissingRootFailsWithItsCode) {
  FakeLister lister;
  std::vector<PackItem> files;
  uint32_t error = 0;
  EXPECT_FALSE(WalkTree(lister, L"R", &files, &error));
  EXPECT_EQ(error, 3u);
}

TEST(PackWalkTest, UnlistableFolderStopsTheWalkEvenWhenExcludedLater) {
  FakeLister lister;
  lister.folders[L"R"] = {Folder(L"logs"), File(L"a.txt")};
  lister.failures[L"R\\logs"] = 5;
  std::vector<PackItem> files;
  uint32_t error = 0;
  EXPECT_FALSE(WalkTree(lister, L"R", &files, &error));
  EXPECT_EQ(error, 5u);
}

TEST(PackWalkTest, NonAsciiNamesBecomeUtf8) {
  FakeLister lister;
  lister.folders[L"R"] = {Folder(L"\u00e9t\u00e9")};
  lister.folders[L"R\\\u00e9t\u00e9"] = {File(L"\u65e5\u672c.txt")};
  std::vector<PackItem> files;
  uint32_t error = 0;
  ASSERT_TRUE(WalkTree(lister, L"R", &files, &error));
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].relativePath, "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt");
}

TEST(PackExclusionTest, FolderExclusionCoversWhatLiesBelowOnly) {
  const std::vector<std::string> excludes = {"logs"};
  EXPECT_TRUE(IsExcluded("logs", excludes));
  EXPECT_TRUE(IsExcluded("logs/a.txt", excludes));
  EXPECT_TRUE(IsExcluded("logs/sub/b.txt", excludes));
  EXPECT_FALSE(IsExcluded("logs2/c.txt", excludes));
  EXPECT_FALSE(IsExcluded("Logs/d.txt", excludes));
  EXPECT_FALSE(IsExcluded("log", excludes));
  EXPECT_FALSE(IsExcluded("a/logs/x", excludes));
}

TEST(PackExclusionTest, TrailingSlashOrBackslashExcludesNothing) {
  EXPECT_FALSE(IsExcluded("logs/a.txt", {"logs/"}));
  EXPECT_FALSE(IsExcluded("logs/a.txt", {"logs\\a.txt"}));
  EXPECT_FALSE(IsExcluded("logs/a.txt", {""}));
}

TEST(PackExclusionTest, ExactFileAndDuplicates) {
  const std::vector<std::string> excludes = {"a/b.txt", "a/b.txt", "zzz"};
  EXPECT_TRUE(IsExcluded("a/b.txt", excludes));
  EXPECT_FALSE(IsExcluded("a/b.txt2", excludes));
  EXPECT_FALSE(IsExcluded("a/b", excludes));
}

TEST(PackExclusionTest, ApplyKeepsOrderOfTheRest) {
  std::vector<PackItem> files = Items({"b", "logs/a.txt", "a.txt", "logs2/c.txt", "logs/sub/b.txt", "Logs/d.txt"});
  ApplyExclusions(&files, {"logs"});
  EXPECT_EQ(RelativePaths(files), (std::vector<std::string>{"b", "a.txt", "logs2/c.txt", "Logs/d.txt"}));
}

TEST(PackOrderTest, DotSortsBeforeSlashAndPrefixFirst) {
  std::vector<PackItem> files = Items({"b", "a/x", "a.txt", "a", "B"});
  SortForArchive(&files);
  EXPECT_EQ(RelativePaths(files), (std::vector<std::string>{"B", "a", "a.txt", "a/x", "b"}));
}

TEST(PackOrderTest, BytesCompareUnsigned) {
  std::vector<PackItem> files = Items({"\xC3\xA9", "z", "\x7E"});
  SortForArchive(&files);
  EXPECT_EQ(RelativePaths(files), (std::vector<std::string>{"z", "\x7E", "\xC3\xA9"}));
}

// What NTFS would hold as one name: checked over whole paths and every folder above them, after exclusions.
TEST(PackCaseClashTest, NamesDifferingOnlyInCaseAreFound) {
  const struct {
    std::vector<const char*> paths;
    const char* first;
    const char* second;
  } cases[] = {
      {{"a.txt", "A.txt"}, "a.txt", "A.txt"},
      {{"Dir/x", "dir/y"}, "Dir", "dir"},
      {{"bin/Core.DLL", "bin/core.dll"}, "bin/Core.DLL", "bin/core.dll"},
      {{"a/b/c", "a/B/d", "z"}, "a/b", "a/B"},
      {{"README", "readme/x"}, "README", "readme"},
  };
  for (const auto& c : cases) {
    std::vector<PackItem> files;
    for (const char* path : c.paths) files.push_back({path, {}});
    std::string first;
    std::string second;
    ASSERT_TRUE(FindCaseClash(files, &first, &second)) << c.first;
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(second, c.second);
  }
}

TEST(PackCaseClashTest, DistinctNamesAndRepeatedFoldersAreNoClash) {
  const std::vector<PackItem> files = Items({"a/x", "a/y", "a.txt", "ab", "b/a", "B1", "a/x2", "logs2/c.txt"});
  std::string first;
  std::string second;
  EXPECT_FALSE(FindCaseClash(files, &first, &second)) << first << " " << second;
  EXPECT_FALSE(FindCaseClash({}, &first, &second));
}

}  // namespace
}  // namespace kestrova::payload
