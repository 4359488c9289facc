#include <gtest/gtest.h>

#include <vector>

#include "core/unique_handle_win32.h"
#include "payload/file_streams.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::payload {
namespace {

std::string Pattern(size_t length) {
  std::string bytes(length, '\0');
  uint32_t state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245 + 12345;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

FileHandle CreateForWriting(const WideString& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
}

TEST(FileSourceTest, ReadsWholeFileInPiecesThenEnds) {
  kestrova::test::ScratchFolder folder;
  const std::string content = Pattern(100000);
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"a.bin"), content));
  std::string error;
  auto source = OpenFileSource((folder / L"a.bin"), &error);
  ASSERT_NE(source, nullptr) << error;
  std::string read;
  std::vector<char> buffer(4096);
  for (;;) {
    size_t got = 12345;
    ASSERT_TRUE(source->Read(buffer.data(), buffer.size(), &got));
    read.append(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  EXPECT_EQ(read.size(), content.size());
  EXPECT_TRUE(read == content);
}

TEST(FileSourceTest, ShortReadAtTheEndThenZero) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"a.bin"), "0123456789"));
  std::string error;
  auto source = OpenFileSource((folder / L"a.bin"), &error);
  ASSERT_NE(source, nullptr) << error;
  char buffer[8];
  size_t got = 0;
  ASSERT_TRUE(source->Read(buffer, 8, &got));
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(std::string(buffer, got), "01234567");
  ASSERT_TRUE(source->Read(buffer, 8, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_EQ(std::string(buffer, got), "89");
  got = 99;
  ASSERT_TRUE(source->Read(buffer, 8, &got));
  EXPECT_EQ(got, 0u);
}

TEST(FileSourceTest, EmptyFileAndZeroLengthRead) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"empty.bin"), ""));
  std::string error;
  auto source = OpenFileSource((folder / L"empty.bin"), &error);
  ASSERT_NE(source, nullptr) << error;
  char buffer[4];
  size_t got = 7;
  ASSERT_TRUE(source->Read(buffer, 0, &got));
  EXPECT_EQ(got, 0u);
  got = 7;
  ASSERT_TRUE(source->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
}

TEST(FileSourceTest, MissingFileNamesThePathAsGiven) {
  kestrova::test::ScratchFolder folder;
  const WideString path = (folder / L"missing.bin");
  std::string error;
  EXPECT_EQ(OpenFileSource(path, &error), nullptr);
  EXPECT_EQ(error, "could not open " + WideToUtf8(path) + ": 2");
}

TEST(FileSourceTest, MissingFolderGives3) {
  kestrova::test::ScratchFolder folder;
  const WideString path = (folder / L"no\\such.bin");
  std::string error;
  EXPECT_EQ(OpenFileSource(path, &error), nullptr);
  EXPECT_EQ(error, "could not open " + WideToUtf8(path) + ": 3");
}

TEST(FileSourceTest, SharesReadOnlyAndClosesOnDestruction) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"a.bin"), "abc"));
  std::string error;
  auto source = OpenFileSource((folder / L"a.bin"), &error);
  ASSERT_NE(source, nullptr) << error;
  {
    FileHandle reader(CreateFileW((folder / L"a.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(reader);
    FileHandle writer(CreateFileW((folder / L"a.bin").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD code = GetLastError();
    EXPECT_FALSE(writer);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  }
  source.reset();
  FileHandle writer(CreateFileW((folder / L"a.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr));
  EXPECT_TRUE(writer);
}

TEST(FileSinkTest, RoundTripThroughFileSource) {
  kestrova::test::ScratchFolder folder;
  const std::string content = Pattern(300000);
  {
    FileHandle file = CreateForWriting((folder / L"out.bin"));
    ASSERT_TRUE(file);
    auto sink = CreateFileSink(file.get());
    size_t offset = 0;
    for (size_t piece : {size_t{1}, size_t{0}, size_t{4095}, size_t{65536}, size_t{100000}}) {
      ASSERT_TRUE(sink->Write(content.data() + offset, piece));
      offset += piece;
    }
    ASSERT_TRUE(sink->Write(content.data() + offset, content.size() - offset));
    EXPECT_EQ(sink->bytesWritten(), content.size());
  }
  std::string error;
  auto source = OpenFileSource((folder / L"out.bin"), &error);
  ASSERT_NE(source, nullptr) << error;
  std::string read(content.size() + 10, '\0');
  size_t got = 0;
  ASSERT_TRUE(source->Read(read.data(), read.size(), &got));
  ASSERT_EQ(got, content.size());
  read.resize(got);
  EXPECT_TRUE(read == content);
}

TEST(FileSinkTest, ZeroLengthWriteSucceedsWithoutTouchingTheHandle) {
  // An invalid handle proves no WriteFile happens: any call on it would fail.
  auto sink = CreateFileSink(INVALID_HANDLE_VALUE);
  EXPECT_TRUE(sink->Write("", 0));
  EXPECT_EQ(sink->bytesWritten(), 0u);
  EXPECT_FALSE(sink->Write("x", 1));
  EXPECT_EQ(sink->bytesWritten(), 0u);
}

TEST(FileSinkTest, FailedWriteCountsOnlyWhatReachedTheFile) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"ro.bin"), "abc"));
  FileHandle readOnly(CreateFileW((folder / L"ro.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(readOnly);
  auto sink = CreateFileSink(readOnly.get());
  EXPECT_FALSE(sink->Write("defg", 4));
  EXPECT_EQ(sink->bytesWritten(), 0u);

  FileHandle file = CreateForWriting((folder / L"w.bin"));
  ASSERT_TRUE(file);
  auto counting = CreateFileSink(file.get());
  ASSERT_TRUE(counting->Write("hello", 5));
  ASSERT_TRUE(counting->Write(" world", 6));
  EXPECT_EQ(counting->bytesWritten(), 11u);
  file.reset();
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"w.bin")), "hello world");
}

TEST(FileSinkTest, DoesNotCloseTheHandle) {
  kestrova::test::ScratchFolder folder;
  FileHandle file = CreateForWriting((folder / L"w.bin"));
  ASSERT_TRUE(file);
  {
    auto sink = CreateFileSink(file.get());
    ASSERT_TRUE(sink->Write("first", 5));
  }
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file.get(), "+more", 5, &written, nullptr));
  file.reset();
  EXPECT_EQ(kestrova::test::ReadBytes((folder / L"w.bin")), "first+more");
}

}  // namespace
}  // namespace kestrova::payload
