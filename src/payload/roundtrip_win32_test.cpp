#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "payload/commands.h"
#include "payload/file_streams.h"
#include "payload/manifest.h"

namespace kestrova::payload {
namespace {

using test::AsString;
using test::CapturedLog;
using test::ReadBytes;
using test::ScratchFolder;
using test::StartsWith;

struct TreeFile {
  std::string path;
  std::string content;
};

TEST(PackExtractVerifyTest, TreeRoundTripsThroughAnArchiveFile) {
  const std::vector<TreeFile> tree = {
      {"readme.txt", "hello"},
      {"empty.dat", ""},
      {"big/exact.bin", AsString(test::Incompressible(4194304, 1))},
      {"big/over.bin", AsString(test::Compressible(4194305))},
      {"deep/er/still/deeper/leaf.cfg", "leaf"},
      {"\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC \xD0\xB6.txt", "non-ascii"},
  };
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  for (const TreeFile& file : tree) test::PutFile(src, file.path, file.content);
  test::MakeFolders(src + L"\\empty-folder");
  const WideString archive = scratch / L"payload.kvp";
  const WideString out = scratch / L"out";

  CapturedLog log;
  ASSERT_EQ(RunPack(src, archive, {}), 0);
  {
    std::string error;
    const std::unique_ptr<ByteSource> source = OpenFileSource(archive, &error);
    ASSERT_TRUE(source) << error;
    ASSERT_EQ(RunExtract(*source, out), 0);
  }
  for (const TreeFile& file : tree) {
    WideString path = out + L"\\" + Utf8ToWide(file.path);
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    EXPECT_TRUE(ReadBytes(path) == file.content) << file.path;
  }
  EXPECT_FALSE(test::Exists(out + L"\\empty-folder"));
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(ReadBytes(out + L"\\manifest.json"), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), tree.size());
  EXPECT_EQ(entries[0].path, "big/exact.bin");
  EXPECT_EQ(entries[0].size, 4194304u);
  EXPECT_EQ(entries[1].path, "big/over.bin");
  EXPECT_EQ(entries[1].size, 4194305u);
  {
    const std::unique_ptr<ByteSource> source = OpenFileSource(archive, &error);
    ASSERT_TRUE(source) << error;
    EXPECT_EQ(RunVerify(*source, out, false), 0);
  }
  const std::vector<test::LogRow> rows = log.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(StartsWith(rows[0].message, "packed 6 files, 8.0 MB into " + WideToUtf8(archive) + " (")) << rows[0].message;
  EXPECT_TRUE(StartsWith(rows[1].message, "extracted and verified 6 files, 8.0 MB into " + WideToUtf8(out) + " in "))
      << rows[1].message;
  EXPECT_NE(rows[2].message.find("s: 0 damaged, 0 repaired"), std::string::npos) << rows[2].message;
}

TEST(PackExtractVerifyTest, ChunksSplitAtExactlyFourMebibytes) {
  ScratchFolder scratch;
  const WideString src = scratch / L"src";
  test::PutFile(src, "exact.bin", AsString(test::Incompressible(4194304, 7)));
  test::PutFile(src, "over.bin", AsString(test::Incompressible(4194305, 8)));
  const WideString archive = scratch / L"payload.kvp";
  CapturedLog log;
  ASSERT_EQ(RunPack(src, archive, {}), 0);
  const test::Bytes bytes = test::ReadArchiveFile(archive);
  // Incompressible content is stored: header, then exact.bin in one chunk, over.bin in two of 4 MiB and 1 byte.
  const size_t exactRecord = 8;
  const size_t exactChunk = exactRecord + 43 + 9;
  ASSERT_GT(bytes.size(), exactChunk + 9);
  EXPECT_EQ(LoadLittleEndian(&bytes[exactChunk], 4), 4194304u);
  EXPECT_EQ(LoadLittleEndian(&bytes[exactChunk + 4], 4), 4194304u);
  const size_t overRecord = exactChunk + 9 + 4194304;
  const size_t overFirstChunk = overRecord + 43 + 8;
  ASSERT_GT(bytes.size(), overFirstChunk + 9);
  EXPECT_EQ(LoadLittleEndian(&bytes[overFirstChunk], 4), 4194304u);
  const size_t overSecondChunk = overFirstChunk + 9 + 4194304;
  ASSERT_GT(bytes.size(), overSecondChunk + 9);
  EXPECT_EQ(LoadLittleEndian(&bytes[overSecondChunk], 4), 1u);
  EXPECT_EQ(bytes.size(), overSecondChunk + 9 + 1 + 9);
}

}  // namespace
}  // namespace kestrova::payload
