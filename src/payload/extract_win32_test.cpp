#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "payload/commands.h"
#include "payload/manifest.h"
#include "payload/memory_streams.h"
#include "securefs/system_folders.h"

namespace kestrova::payload {
namespace {

using test::AsString;
using test::Bytes;
using test::CapturedLog;
using test::Exists;
using test::LogRow;
using test::ReadBytes;
using test::ScratchFolder;
using test::StartsWith;

using test::ToBytes;

int Extract(const Bytes& archive, const WideString& out) {
  MemorySource source(archive);
  return RunExtract(source, out);
}

TEST(ExtractCommandTest, ReplacesWhatTheFolderHeldAndWritesTheManifest) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  test::PutFile(out, "stale/old.dll", "not in the archive");
  test::PutFile(out, "a.txt", "old a");
  const Bytes archive = test::WriteArchive({{"a.txt", ToBytes("new a")}, {"sub/deeper/b.bin", ToBytes("bee")}});
  CapturedLog log;
  ASSERT_EQ(Extract(archive, out), 0);
  EXPECT_FALSE(Exists(out + L"\\stale"));
  EXPECT_EQ(ReadBytes(out + L"\\a.txt"), "new a");
  EXPECT_EQ(ReadBytes(out + L"\\sub\\deeper\\b.bin"), "bee");
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadBytes(out + L"\\manifest.json"), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, "a.txt");
  EXPECT_EQ(entries[0].size, 5u);
  EXPECT_EQ(entries[0].sha256, test::DigestOf(ToBytes("new a")));
  EXPECT_EQ(entries[1].path, "sub/deeper/b.bin");
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "INFO");
  EXPECT_TRUE(StartsWith(rows[0].message, "extracted and verified 2 files, 0.0 MB into " + WideToUtf8(out) + " in "))
      << rows[0].message;
}

TEST(ExtractCommandTest, MissingTargetAndParentsAreCreated) {
  ScratchFolder scratch;
  const WideString out = scratch / L"x\\y\\app";
  CapturedLog log;
  ASSERT_EQ(Extract(test::WriteArchive({{"f", ToBytes("f")}}), out), 0);
  EXPECT_EQ(ReadBytes(out + L"\\f"), "f");
}

TEST(ExtractCommandTest, EmptyArchiveLeavesOnlyAnEmptyManifest) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  test::PutFile(out, "old.txt", "old");
  CapturedLog log;
  ASSERT_EQ(Extract(test::WriteArchive({}), out), 0);
  EXPECT_FALSE(Exists(out + L"\\old.txt"));
  EXPECT_EQ(ReadBytes(out + L"\\manifest.json"), "{\n  \"files\": [\n  ]\n}\n");
  ASSERT_EQ(log.Rows().size(), 1u);
  EXPECT_TRUE(StartsWith(log.Rows()[0].message, "extracted and verified 0 files, 0.0 MB into " + WideToUtf8(out)));
}

TEST(ExtractCommandTest, CorruptThirdEntryKeepsTwoFilesAndAPartialThird) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "one.txt", 3, test::DigestOf(ToBytes("one")));
  test::PutStoredChunk(archive, ToBytes("one"));
  test::PutRecord(archive, "dir/two.txt", 3, test::DigestOf(ToBytes("two")));
  test::PutStoredChunk(archive, ToBytes("two"));
  const Bytes third = test::Incompressible(5000, 3);
  test::PutRecord(archive, "three.bin", third.size(), test::DigestOf(ToBytes("something else")));
  test::PutStoredChunk(archive, Bytes(third.begin(), third.begin() + 4000));
  test::PutStoredChunk(archive, Bytes(third.begin() + 4000, third.end()));
  test::PutEnd(archive, 3);

  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Extract(archive, out), 1);
  EXPECT_EQ(log.Rows(),
            (std::vector<LogRow>{{"ERROR", "extract failed after 2 files: SHA-256 mismatch in 'three.bin'"}}));
  EXPECT_EQ(ReadBytes(out + L"\\one.txt"), "one");
  EXPECT_EQ(ReadBytes(out + L"\\dir\\two.txt"), "two");
  EXPECT_EQ(ReadBytes(out + L"\\three.bin"), AsString(third));
  EXPECT_FALSE(Exists(out + L"\\manifest.json"));
}

TEST(ExtractCommandTest, TrailingBytesFailAfterTheFilesAreWritten) {
  Bytes archive = test::WriteArchive({{"a", ToBytes("a")}});
  archive.push_back(0);
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Extract(archive, out), 1);
  EXPECT_EQ(log.Rows(),
            (std::vector<LogRow>{{"ERROR", "extract failed after 1 files: trailing bytes after the end record"}}));
  EXPECT_FALSE(Exists(out + L"\\manifest.json"));
}

TEST(ExtractCommandTest, ArchiveCutAfterTheLastEntryHasNoEndRecord) {
  Bytes archive = test::WriteArchive({{"a", ToBytes("a")}, {"b", ToBytes("b")}});
  archive.resize(archive.size() - 9);
  ScratchFolder scratch;
  CapturedLog log;
  EXPECT_EQ(Extract(archive, scratch / L"app"), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract failed after 2 files: archive truncated: no end record"}}));
}

TEST(ExtractCommandTest, ArchiveCutInsideStoredDataFailsOnThatEntry) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 1, test::DigestOf(ToBytes("a")));
  test::PutStoredChunk(archive, ToBytes("a"));
  test::PutRecord(archive, "b.txt", 10, test::DigestOf(ToBytes("0123456789")));
  test::PutStoredChunk(archive, ToBytes("0123456789"));
  archive.resize(archive.size() - 4);
  ScratchFolder scratch;
  CapturedLog log;
  EXPECT_EQ(Extract(archive, scratch / L"app"), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract failed after 1 files: corrupt stored chunk in 'b.txt'"}}));
}

TEST(ExtractCommandTest, NotAnArchiveFailsBeforeAnyEntry) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Extract(ToBytes("KVP"), out), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract: not a payload archive"}}));
}

TEST(ExtractCommandTest, EntryNamedManifestIsReplacedByTheGeneratedOne) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  CapturedLog log;
  ASSERT_EQ(Extract(test::WriteArchive({{"manifest.json", ToBytes("from the archive")}}), out), 0);
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadBytes(out + L"\\manifest.json"), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "manifest.json");
}

TEST(ExtractCommandTest, FolderHoldingAFileOpenWithoutSharingCannotBeCleared) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  test::PutFile(out, "busy.dll", "busy");
  FileHandle holder(CreateFileW((out + L"\\busy.dll").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  CapturedLog log;
  EXPECT_EQ(Extract(test::WriteArchive({{"a", ToBytes("a")}}), out), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "ERROR");
  EXPECT_TRUE(StartsWith(rows[0].message, "extract: could not clear " + WideToUtf8(out) + ": could not remove "))
      << rows[0].message;
  holder.reset();
  EXPECT_EQ(ReadBytes(out + L"\\busy.dll"), "busy");
}

TEST(ExtractCommandTest, TargetThatIsAFileIsReplacedByTheFolder) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  ASSERT_TRUE(test::WriteBytes(out, std::string("a file where the folder goes")));
  CapturedLog log;
  ASSERT_EQ(Extract(test::WriteArchive({{"a", ToBytes("a")}}), out), 0);
  EXPECT_EQ(ReadBytes(out + L"\\a"), "a");
}

TEST(ExtractCommandTest, SecondEntryForTheSameFileIsRefused) {
  ScratchFolder scratch;
  const WideString out = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Extract(test::WriteArchive({{"dir/a.txt", ToBytes("first")}, {"DIR/A.TXT", ToBytes("second")}}), out), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract failed after 1 files: duplicate path 'DIR/A.TXT'"}}));
  EXPECT_EQ(ReadBytes(out + L"\\dir\\a.txt"), "first");
  EXPECT_FALSE(Exists(out + L"\\manifest.json"));
}

// Each refusal is asserted first: were it missing, extract would go on to clear the prefix's real folder.
TEST(ExtractCommandTest, RefusesToClearADriveRoot) {
  ASSERT_EQ(securefs::RemovalRefusal(L"C:\\"), "it is a drive root");
  CapturedLog log;
  EXPECT_EQ(Extract(test::WriteArchive({}), L"C:\\"), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract: could not clear C:\\: it is a drive root"}}));
}

TEST(ExtractCommandTest, RefusesToClearASystemFolderOrOneAboveIt) {
  wchar_t windows[MAX_PATH + 1];
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
  ASSERT_GT(length, 0u);
  const WideString folder(windows, length);
  ASSERT_EQ(securefs::RemovalRefusal(folder), "it is a system folder or holds one");
  CapturedLog log;
  EXPECT_EQ(Extract(test::WriteArchive({}), folder), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "extract: could not clear " + WideToUtf8(folder) +
                                                            ": it is a system folder or holds one"}}));
}

}  // namespace
}  // namespace kestrova::payload
