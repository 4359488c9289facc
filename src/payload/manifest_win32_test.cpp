#include <gtest/gtest.h>

#include "core/unique_handle_win32.h"
#include "payload/manifest.h"
#include "payload/test_temp_folder_win32.h"
#include "securefs/paths.h"

namespace kestrova::payload {
namespace {

std::vector<Entry> TwoEntries() {
  Entry first;
  first.path = "bin/app.exe";
  first.size = 42;
  first.sha256.fill(0x5A);
  Entry second;
  second.path = "\xC3\xA9t\xC3\xA9.txt";
  second.size = 0;
  return {first, second};
}

TEST(WriteManifestFileTest, WritesTheFormattedText) {
  test::TempFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.path()), TwoEntries()));
  EXPECT_EQ(test::ReadTestFile(folder.File(L"manifest.json")), FormatManifest(TwoEntries()));
}

TEST(WriteManifestFileTest, EmptyList) {
  test::TempFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.path()), {}));
  EXPECT_EQ(test::ReadTestFile(folder.File(L"manifest.json")), "{\n  \"files\": [\n  ]\n}\n");
}

TEST(WriteManifestFileTest, ReplacesAnExistingLongerFile) {
  test::TempFolder folder;
  ASSERT_TRUE(test::WriteTestFile(folder.File(L"manifest.json"), std::string(5000, 'x')));
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.path()), TwoEntries()));
  EXPECT_EQ(test::ReadTestFile(folder.File(L"manifest.json")), FormatManifest(TwoEntries()));
}

TEST(WriteManifestFileTest, ReadOnlyOldFileIsKeptAndTheWriteFails) {
  // DeleteFileW refuses a read-only file with 5; that is not "file not found", so the write is refused.
  test::TempFolder folder;
  ASSERT_TRUE(test::WriteTestFile(folder.File(L"manifest.json"), "old"));
  ASSERT_TRUE(SetFileAttributesW(folder.File(L"manifest.json").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath(folder.path()), TwoEntries()));
  EXPECT_EQ(test::ReadTestFile(folder.File(L"manifest.json")), "old");
}

TEST(WriteManifestFileTest, FailsWhenTheOldFileIsOpenWithoutDeleteSharing) {
  test::TempFolder folder;
  ASSERT_TRUE(test::WriteTestFile(folder.File(L"manifest.json"), "old"));
  FileHandle holder(CreateFileW(folder.File(L"manifest.json").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath(folder.path()), TwoEntries()));
  holder.reset();
  EXPECT_EQ(test::ReadTestFile(folder.File(L"manifest.json")), "old");
}

TEST(WriteManifestFileTest, FailsForAMissingFolder) {
  test::TempFolder folder;
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath(folder.File(L"missing")), TwoEntries()));
}

TEST(WriteManifestFileTest, WrittenFileParsesBack) {
  test::TempFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.path()), TwoEntries()));
  std::vector<Entry> parsed;
  std::string error;
  ASSERT_TRUE(ParseManifest(test::ReadTestFile(folder.File(L"manifest.json")), &parsed, &error)) << error;
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1].path, TwoEntries()[1].path);
  EXPECT_EQ(parsed[0].sha256, TwoEntries()[0].sha256);
}

}  // namespace
}  // namespace kestrova::payload
