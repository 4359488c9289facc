#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "payload/commands.h"
#include "payload/manifest.h"
#include "payload/memory_streams.h"

namespace kestrova::payload {
namespace {

using test::Bytes;
using test::CapturedLog;
using test::Exists;
using test::LogRow;
using test::ReadBytes;
using test::ScratchFolder;
using test::StartsWith;

using test::ToBytes;

const std::vector<test::File>& Files() {
  static const std::vector<test::File> files = {
      {"a.dll", ToBytes("library a")}, {"bin/b.exe", ToBytes("program b")}, {"c.txt", ToBytes("")}};
  return files;
}

// A folder holding exactly the files of Files(), as extract leaves it (the manifest left out).
void Install(const WideString& dir) {
  for (const test::File& file : Files()) test::PutFile(dir, file.path, test::AsString(file.content));
}

int Verify(const WideString& dir, bool repair) {
  const Bytes archive = test::WriteArchive(Files());
  MemorySource source(archive);
  return RunVerify(source, dir, repair);
}

std::string Summary(const std::vector<LogRow>& rows) { return rows.empty() ? "" : rows.back().message; }

TEST(VerifyCommandTest, MatchingFolderReportsNothingDamaged) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  CapturedLog log;
  EXPECT_EQ(Verify(dir, false), 0);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "INFO");
  EXPECT_TRUE(StartsWith(rows[0].message, "verified 3 files in " + WideToUtf8(dir) + " in ")) << rows[0].message;
  EXPECT_NE(rows[0].message.find("s: 0 damaged, 0 repaired"), std::string::npos) << rows[0].message;
  EXPECT_FALSE(Exists(dir + L"\\manifest.json"));
}

TEST(VerifyCommandTest, MatchingFolderWithRepairStillRewritesTheManifest) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  test::PutFile(dir, "manifest.json", "stale");
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 0);
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadBytes(dir + L"\\manifest.json"), &entries, &error)) << error;
  EXPECT_EQ(entries.size(), 3u);
  EXPECT_EQ(log.Rows().size(), 1u);
}

TEST(VerifyCommandTest, ChangedAndDeletedFilesWithoutRepairAreReportedAndLeftAlone) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  test::PutFile(dir, "a.dll", "library A");
  ASSERT_TRUE(DeleteFileW(test::Long(dir + L"\\bin\\b.exe").c_str()));
  CapturedLog log;
  EXPECT_EQ(Verify(dir, false), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (LogRow{"WARN", "verify: " + WideToUtf8(dir) + "\\a.dll is missing or damaged"}));
  EXPECT_EQ(rows[1], (LogRow{"WARN", "verify: " + WideToUtf8(dir) + "\\bin\\b.exe is missing or damaged"}));
  EXPECT_NE(Summary(rows).find("s: 2 damaged, 0 repaired"), std::string::npos) << Summary(rows);
  EXPECT_EQ(ReadBytes(dir + L"\\a.dll"), "library A");
  EXPECT_FALSE(Exists(dir + L"\\bin\\b.exe"));
}

TEST(VerifyCommandTest, RepairRestoresChangedAndDeletedFilesAndWritesAFreshManifest) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  test::PutFile(dir, "a.dll", "library A");
  ASSERT_TRUE(DeleteFileW(test::Long(dir + L"\\bin\\b.exe").c_str()));
  test::PutFile(dir, "extra.txt", "not in the archive");
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 0);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], (LogRow{"INFO", "verify: repaired " + WideToUtf8(dir) + "\\a.dll"}));
  EXPECT_EQ(rows[1], (LogRow{"INFO", "verify: repaired " + WideToUtf8(dir) + "\\bin\\b.exe"}));
  EXPECT_NE(Summary(rows).find("s: 2 damaged, 2 repaired"), std::string::npos) << Summary(rows);
  EXPECT_EQ(ReadBytes(dir + L"\\a.dll"), "library a");
  EXPECT_EQ(ReadBytes(dir + L"\\bin\\b.exe"), "program b");
  EXPECT_EQ(ReadBytes(dir + L"\\extra.txt"), "not in the archive");
  EXPECT_FALSE(Exists(dir + L"\\a.dll.kvtmp"));
  EXPECT_FALSE(Exists(dir + L"\\bin\\b.exe.kvtmp"));
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadBytes(dir + L"\\manifest.json"), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].path, "a.dll");
  EXPECT_EQ(entries[1].path, "bin/b.exe");
  EXPECT_EQ(entries[2].path, "c.txt");
  EXPECT_EQ(Verify(dir, false), 0);
}

TEST(VerifyCommandTest, RepairOverwritesALeftoverRepairFile) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  test::PutFile(dir, "a.dll", "damaged");
  test::PutFile(dir, "a.dll.kvtmp", "left over from an interrupted run, and longer than the real content");
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 0);
  EXPECT_EQ(ReadBytes(dir + L"\\a.dll"), "library a");
  EXPECT_FALSE(Exists(dir + L"\\a.dll.kvtmp"));
}

TEST(VerifyCommandTest, RepairOfAMissingFolderCreatesItAndRestoresEverything) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 0);
  for (const test::File& file : Files()) {
    WideString path = dir + L"\\" + Utf8ToWide(file.path);
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    EXPECT_EQ(ReadBytes(path), test::AsString(file.content)) << file.path;
  }
  EXPECT_NE(Summary(log.Rows()).find("s: 3 damaged, 3 repaired"), std::string::npos) << Summary(log.Rows());
}

TEST(VerifyCommandTest, MissingFolderWithoutRepairIsNotADirectory) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  CapturedLog log;
  EXPECT_EQ(Verify(dir, false), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "verify: " + WideToUtf8(dir) + " is not a directory"}}));
  EXPECT_FALSE(Exists(dir));
}

TEST(VerifyCommandTest, FileInPlaceOfTheFolderCannotBeCreatedWithRepair) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  ASSERT_TRUE(test::WriteBytes(dir, std::string("a file")));
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 1);
  ASSERT_FALSE(log.Rows().empty());
  EXPECT_EQ(log.Rows().back(), (LogRow{"ERROR", "verify: could not create " + WideToUtf8(dir)}));
}

TEST(VerifyCommandTest, FolderStandingWhereAFileBelongsIsDamagedAndCannotBeRepaired) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  ASSERT_TRUE(DeleteFileW(test::Long(dir + L"\\a.dll").c_str()));
  test::PutFile(dir, "a.dll/inner.txt", "a folder now");
  {
    CapturedLog log;
    EXPECT_EQ(Verify(dir, false), 1);
    ASSERT_FALSE(log.Rows().empty());
    EXPECT_EQ(log.Rows()[0], (LogRow{"WARN", "verify: " + WideToUtf8(dir) + "\\a.dll is missing or damaged"}));
  }
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].level, "ERROR");
  const std::string prefix = "verify: could not repair " + WideToUtf8(dir) + "\\a.dll:  (";
  EXPECT_TRUE(StartsWith(rows[0].message, prefix)) << rows[0].message;
  EXPECT_NE(rows[0].message, prefix + "0)");
  EXPECT_EQ(rows[0].message.back(), ')');
  EXPECT_FALSE(Exists(dir + L"\\a.dll.kvtmp"));
  EXPECT_EQ(ReadBytes(dir + L"\\a.dll\\inner.txt"), "a folder now");
}

TEST(VerifyCommandTest, RepairFileThatCannotBeCreatedNamesWriteEntrysError) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  test::PutFile(dir, "a.dll", "damaged");
  // A folder under the repair file's name makes its creation fail.
  test::MakeFolders(dir + L"\\a.dll.kvtmp");
  CapturedLog log;
  EXPECT_EQ(Verify(dir, true), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 1u);
  const std::string t = WideToUtf8(dir) + "\\a.dll";
  EXPECT_TRUE(StartsWith(rows[0].message, "verify: could not repair " + t + ": could not create " + t + ".kvtmp: "))
      << rows[0].message;
  EXPECT_EQ(ReadBytes(dir + L"\\a.dll"), "damaged");
}

TEST(VerifyCommandTest, IntactFileWithCorruptArchiveDataFails) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  test::PutFile(dir, "a.txt", "right");
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a.txt", 5, test::DigestOf(ToBytes("right")));
  test::PutStoredChunk(archive, ToBytes("wrong"));
  test::PutEnd(archive, 1);
  MemorySource source(archive);
  CapturedLog log;
  EXPECT_EQ(RunVerify(source, dir, false), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "verify: SHA-256 mismatch in 'a.txt'"}}));
}

TEST(VerifyCommandTest, TruncatedAndTrailingArchivesFail) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  Bytes cut = test::WriteArchive(Files());
  cut.resize(cut.size() - 9);
  Bytes trailing = test::WriteArchive(Files());
  trailing.push_back(7);
  {
    MemorySource source(cut);
    CapturedLog log;
    EXPECT_EQ(RunVerify(source, dir, true), 1);
    EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "verify: archive truncated: no end record"}}));
  }
  MemorySource source(trailing);
  CapturedLog log;
  EXPECT_EQ(RunVerify(source, dir, false), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "verify: trailing bytes after the end record"}}));
}

TEST(VerifyCommandTest, SecondEntryForTheSameFileIsRefused) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  test::PutFile(dir, "a.txt", "x");
  const Bytes archive = test::WriteArchive({{"a.txt", ToBytes("first")}, {"A.txt", ToBytes("second")}});
  MemorySource source(archive);
  CapturedLog log;
  EXPECT_EQ(RunVerify(source, dir, true), 1);
  const std::vector<LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (LogRow{"INFO", "verify: repaired " + WideToUtf8(dir) + "\\a.txt"}));
  EXPECT_EQ(rows[1], (LogRow{"ERROR", "verify: duplicate path 'A.txt'"}));
  EXPECT_EQ(ReadBytes(dir + L"\\a.txt"), "first");
}

TEST(VerifyCommandTest, ADeltaUpdateIsRefusedForWantOfItsBase) {
  ScratchFolder scratch;
  const WideString dir = scratch / L"app";
  Install(dir);
  Bytes archive;
  test::PutHeader(archive, 2);
  MemorySource source(archive);
  CapturedLog log;
  EXPECT_EQ(RunVerify(source, dir, false), 1);
  EXPECT_EQ(log.Rows(), (std::vector<LogRow>{{"ERROR", "verify: a delta update, which needs the installed version it "
                                                       "was made from: stage applies it"}}));
}

}  // namespace
}  // namespace kestrova::payload
