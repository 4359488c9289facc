#include <gtest/gtest.h>

#include "core/unique_handle_win32.h"
#include "payload/manifest.h"
#include "support/scratch_folder_win32.h"
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
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.Path()), TwoEntries()));
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"manifest.json")), FormatManifest(TwoEntries()));
}

TEST(WriteManifestFileTest, EmptyList) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.Path()), {}));
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"manifest.json")), "{\n  \"files\": [\n  ]\n}\n");
}

TEST(WriteManifestFileTest, ReplacesAnExistingLongerFile) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"manifest.json"), std::string(5000, 'x')));
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.Path()), TwoEntries()));
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"manifest.json")), FormatManifest(TwoEntries()));
}

TEST(WriteManifestFileTest, ReadOnlyOldFileIsKeptAndTheWriteFails) {
  // DeleteFileW refuses a read-only file with 5; that is not "file not found", so the write is refused.
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"manifest.json"), "old"));
  ASSERT_TRUE(SetFileAttributesW((folder / L"manifest.json").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath(folder.Path()), TwoEntries()));
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"manifest.json")), "old");
}

TEST(WriteManifestFileTest, FailsWhenTheOldFileIsOpenWithoutDeleteSharing) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"manifest.json"), "old"));
  FileHandle holder(CreateFileW((folder / L"manifest.json").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath(folder.Path()), TwoEntries()));
  holder.reset();
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"manifest.json")), "old");
}

TEST(WriteManifestFileTest, FailsForAMissingFolder) {
  kestrova::test::ScratchFolder folder;
  EXPECT_FALSE(WriteManifestFile(securefs::LongPath((folder / L"missing")), TwoEntries()));
}

TEST(WriteManifestFileTest, WrittenFileParsesBack) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(WriteManifestFile(securefs::LongPath(folder.Path()), TwoEntries()));
  std::vector<Entry> parsed;
  std::string error;
  ASSERT_TRUE(ParseManifest(kestrova::test::ReadBytes((folder / L"manifest.json")), &parsed, &error)) << error;
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[1].path, TwoEntries()[1].path);
  EXPECT_EQ(parsed[0].sha256, TwoEntries()[0].sha256);
}

}  // namespace
}  // namespace kestrova::payload
