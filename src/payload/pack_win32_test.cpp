#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "payload/commands.h"

namespace kestrova::payload {
namespace {

using test::AsString;
using test::Bytes;
using test::CapturedLog;
using test::Exists;
using test::LogRow;
using test::PutFile;
using test::ReadArchiveFile;
using test::ScratchFolder;
using test::StartsWith;

std::vector<std::string> PathsOf(const test::ReadResult& result) {
  std::vector<std::string> paths;
  for (const test::File& file : result.files) paths.push_back(file.path);
  return paths;
}

TEST(PackCommandTest, EmptySourceGivesSeventeenByteArchive) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  test::MakeFolders(src);
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {}), 0);
  const Bytes archive = ReadArchiveFile(out);
  EXPECT_EQ(archive.size(), 17u);
  const test::ReadResult read = test::ReadArchive(archive);
  EXPECT_EQ(read.error, "");
  EXPECT_TRUE(read.files.empty());
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "INFO");
  EXPECT_TRUE(StartsWith(rows[0].message, "packed 0 files, 0.0 MB into " + WideToUtf8(out) + " (0.0 MB) in "))
      << rows[0].message;
  EXPECT_EQ(rows[0].message.back(), 's');
}

TEST(PackCommandTest, EntriesAreSortedBytewiseWithContentIntact) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "b", "bee");
  PutFile(src, "a/x", "ex");
  PutFile(src, "a.txt", "text");
  PutFile(src, "empty.dat", "");
  PutFile(src, "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ascii");
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {}), 0);
  const test::ReadResult read = test::ReadArchive(ReadArchiveFile(out));
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(PathsOf(read), (std::vector<std::string>{"a.txt", "a/x", "b", "empty.dat",
                                                     "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt"}));
  EXPECT_EQ(AsString(read.files[0].content), "text");
  EXPECT_EQ(AsString(read.files[1].content), "ex");
  EXPECT_EQ(AsString(read.files[2].content), "bee");
  EXPECT_EQ(AsString(read.files[3].content), "");
  EXPECT_EQ(AsString(read.files[4].content), "non-ascii");
  ASSERT_EQ(log.Rows().size(), 1u);
  EXPECT_TRUE(StartsWith(log.Rows()[0].message, "packed 5 files, 0.0 MB into ")) << log.Rows()[0].message;
}

// A build server packs the same tree on every run; the archive must not depend on when, where to, or in which
// order the file system lists the folders, or every build would ship a different installer.
TEST(PackCommandTest, SameFolderGivesByteIdenticalArchives) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  std::string large;
  for (uint32_t i = 0; large.size() < (4u << 20) + 70000; ++i) {
    large += "line " + std::to_string(i % 977) + " of a text that compresses\r\n";
  }
  PutFile(src, "bin/large.dat", large);
  PutFile(src, "bin/z.txt", "zed");
  PutFile(src, "bin/a.txt", std::string(5000, 'a'));
  PutFile(src, "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ascii");
  PutFile(src, "empty.dat", "");
  PutFile(src, "logs/skip.txt", "excluded");
  const WideString first = scratch / L"first.kvp";
  const WideString second = scratch / L"second.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, first, {"logs"}), 0);
  ASSERT_EQ(RunPack(src, second, {"logs"}), 0);
  const Bytes a = ReadArchiveFile(first);
  const Bytes b = ReadArchiveFile(second);
  const test::ReadResult read = test::ReadArchive(a);
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(PathsOf(read), (std::vector<std::string>{"bin/a.txt", "bin/large.dat", "bin/z.txt", "empty.dat",
                                                     "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt"}));
  EXPECT_EQ(read.files[1].content.size(), large.size());
  EXPECT_TRUE(a == b) << "archives of " << a.size() << " and " << b.size() << " bytes differ";
}

TEST(PackCommandTest, FolderExclusionDropsWhatLiesBelowIt) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "logs/a.txt", "1");
  PutFile(src, "logs/sub/b.txt", "2");
  PutFile(src, "logs2/c.txt", "3");
  PutFile(src, "keep.txt", "4");
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {"logs"}), 0);
  const test::ReadResult read = test::ReadArchive(ReadArchiveFile(out));
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(PathsOf(read), (std::vector<std::string>{"keep.txt", "logs2/c.txt"}));
}

TEST(PackCommandTest, ExclusionsThatDoNotMatchExactlyExcludeNothing) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "logs/a.txt", "1");
  PutFile(src, "logs/sub/b.txt", "2");
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {"logs/", "logs\\a.txt", "Logs", "LOGS/a.txt"}), 0);
  const test::ReadResult read = test::ReadArchive(ReadArchiveFile(out));
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(PathsOf(read), (std::vector<std::string>{"logs/a.txt", "logs/sub/b.txt"}));
}

TEST(PackCommandTest, ExactFileExclusion) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "logs/a.txt", "1");
  PutFile(src, "logs/a.txt2", "2");
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {"logs/a.txt"}), 0);
  EXPECT_EQ(PathsOf(test::ReadArchive(ReadArchiveFile(out))), std::vector<std::string>{"logs/a.txt2"});
}

// The walk sees every name as the file system holds it; only the archive's own rule decides what is unsafe, and a
// failure must take the half-written archive with it.
void ExpectUnsafeNameFails(const std::string& relative) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "a.txt", "first, packed before the failure");
  PutFile(src, relative, "x");
  const WideString out = scratch / L"out.kvp";
  ASSERT_TRUE(test::WriteBytes(out, std::string("an old archive")));
  CapturedLog log;
  EXPECT_EQ(RunPack(src, out, {}), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "pack failed: unsafe path '" + relative + "'"}}));
  EXPECT_FALSE(Exists(out));
}

TEST(PackCommandTest, NameEndingInDotFailsWithNothingLeft) { ExpectUnsafeNameFails("dir/name."); }
TEST(PackCommandTest, NameEndingInSpaceFailsWithNothingLeft) { ExpectUnsafeNameFails("name "); }
TEST(PackCommandTest, ReservedDeviceNameFailsWithNothingLeft) { ExpectUnsafeNameFails("sub/nul.txt"); }

TEST(PackCommandTest, RelativePathOver1024BytesFailsWithNothingLeft) {
  const std::string component(210, 'n');
  ExpectUnsafeNameFails(component + "/" + component + "/" + component + "/" + component + "/" + component + "/" +
                        "last.bin");
}

TEST(PackCommandTest, MissingSourceIsNotListedAndCreatesNothing) {
  ScratchFolder scratch;
  const WideString src = scratch / L"missing";
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  EXPECT_EQ(RunPack(src, out, {}), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "ERROR");
  const std::string prefix = "pack: could not list " + WideToUtf8(src) + ": ";
  EXPECT_TRUE(StartsWith(rows[0].message, prefix)) << rows[0].message;
  EXPECT_GT(rows[0].message.size(), prefix.size());
  EXPECT_EQ(rows[0].message.find('\n'), std::string::npos);
  EXPECT_FALSE(Exists(out));
}

TEST(PackCommandTest, SourceThatIsAFileIsNotListed) {
  ScratchFolder scratch;
  const WideString src = scratch / L"file";
  ASSERT_TRUE(test::WriteBytes(src, std::string("x")));
  CapturedLog log;
  EXPECT_EQ(RunPack(src, scratch / L"out.kvp", {}), 1);
  ASSERT_EQ(log.Rows().size(), 1u);
  EXPECT_TRUE(StartsWith(log.Rows()[0].message, "pack: could not list " + WideToUtf8(src) + ": "));
}

TEST(PackCommandTest, ArchiveInMissingFolderCannotBeCreated) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "a.txt", "a");
  const WideString out = scratch / L"no\\such\\out.kvp";
  CapturedLog log;
  EXPECT_EQ(RunPack(src, out, {}), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "pack: could not create " + WideToUtf8(out) + ": 3"}}));
}

TEST(PackCommandTest, FileLockedByAnotherWriterCannotBeReadAndArchiveIsDeleted) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "a.txt", "a");
  PutFile(src, "locked.bin", "locked");
  const WideString locked = src + L"\\locked.bin";
  FileHandle holder(CreateFileW(locked.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  const WideString out = scratch / L"out.kvp";
  CapturedLog log;
  EXPECT_EQ(RunPack(src, out, {}), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "pack failed: could not read " + WideToUtf8(locked)}}));
  EXPECT_FALSE(Exists(out));
}

TEST(PackCommandTest, ExistingArchiveIsReplaced) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  PutFile(src, "a.txt", "a");
  const WideString out = scratch / L"out.kvp";
  ASSERT_TRUE(test::WriteBytes(out, std::string(100000, 'z')));
  CapturedLog log;
  ASSERT_EQ(RunPack(src, out, {}), 0);
  const test::ReadResult read = test::ReadArchive(ReadArchiveFile(out));
  EXPECT_EQ(read.error, "");
  EXPECT_EQ(PathsOf(read), std::vector<std::string>{"a.txt"});
}

}  // namespace
}  // namespace kestrova::payload
