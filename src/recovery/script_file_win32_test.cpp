#include "recovery/script_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/unique_handle_win32.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::recovery {
namespace {

using kestrova::test::ScratchFolder;

std::vector<unsigned char> Pattern(size_t size) {
  std::vector<unsigned char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 7 + i / 251) & 0xff);
  return bytes;
}

void WriteBytes(const std::wstring& path, const std::vector<unsigned char>& bytes) {
  FileHandle file(CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(file) << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  ASSERT_EQ(written, bytes.size());
}

std::vector<unsigned char> ReadBytes(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  std::string error;
  EXPECT_TRUE(ReadBoundedFile(path, &bytes, &error)) << error;
  return bytes;
}

std::vector<std::wstring> Names(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  FindHandle find(FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found));
  if (!find) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &found));
  return names;
}

TEST(ReadBoundedFileTest, ReadsOneMebibyteAndRefusesOneByteMore) {
  ScratchFolder scratch;
  const auto exact = Pattern(kMaxScriptBytes);
  WriteBytes(scratch / L"exact.ps1", exact);
  EXPECT_EQ(ReadBytes(scratch / L"exact.ps1"), exact);

  WriteBytes(scratch / L"over.ps1", Pattern(kMaxScriptBytes + 1));
  std::vector<unsigned char> bytes;
  std::string error;
  EXPECT_FALSE(ReadBoundedFile(scratch / L"over.ps1", &bytes, &error));
  EXPECT_EQ(error, "size 1048577 is out of range");
}

TEST(ReadBoundedFileTest, ReasonsInWords) {
  ScratchFolder scratch;
  WriteBytes(scratch / L"empty.ps1", {});
  WriteBytes(scratch / L"one.ps1", {'x'});
  std::vector<unsigned char> bytes;
  std::string error;
  EXPECT_FALSE(ReadBoundedFile(scratch / L"empty.ps1", &bytes, &error));
  EXPECT_EQ(error, "size 0 is out of range");
  EXPECT_FALSE(ReadBoundedFile(scratch / L"missing.ps1", &bytes, &error));
  EXPECT_EQ(error, "open failed: 2");
  EXPECT_FALSE(ReadBoundedFile(scratch / L"no folder\\x.ps1", &bytes, &error));
  EXPECT_EQ(error, "open failed: 3");
  EXPECT_TRUE(ReadBoundedFile(scratch / L"one.ps1", &bytes, &error));
  EXPECT_EQ(bytes, std::vector<unsigned char>{'x'});
}

TEST(ReadBoundedFileTest, FileHeldOpenForWritingIsNotRead) {
  ScratchFolder scratch;
  WriteBytes(scratch / L"busy.ps1", {'a', 'b'});
  FileHandle writer(CreateFileW((scratch / L"busy.ps1").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer);
  std::vector<unsigned char> bytes;
  std::string error;
  EXPECT_FALSE(ReadBoundedFile(scratch / L"busy.ps1", &bytes, &error));
  EXPECT_EQ(error, "open failed: 32");
}

TEST(WriteFileAtomicallyTest, CreatesThenReplacesWithNothingLeftBeside) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"recover.ps1";
  const auto big = Pattern(kMaxScriptBytes);
  ASSERT_TRUE(WriteFileAtomically(target, big)) << GetLastError();
  EXPECT_EQ(ReadBytes(target), big);
  const std::vector<unsigned char> small = {'n', 'e', 'w'};
  ASSERT_TRUE(WriteFileAtomically(target, small)) << GetLastError();
  EXPECT_EQ(ReadBytes(target), small);
  EXPECT_EQ(Names(scratch.Path()), std::vector<std::wstring>{L"recover.ps1"});
}

TEST(WriteFileAtomicallyTest, StaleTemporaryFileDoesNotLeakIntoTheResult) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"recover.ps1";
  const std::wstring temp = target + L".new-" + std::to_wstring(GetCurrentProcessId());
  WriteBytes(temp, Pattern(4096));
  const std::vector<unsigned char> script = {'o', 'k'};
  ASSERT_TRUE(WriteFileAtomically(target, script)) << GetLastError();
  EXPECT_EQ(ReadBytes(target), script);
  EXPECT_EQ(Names(scratch.Path()), std::vector<std::wstring>{L"recover.ps1"});
}

TEST(WriteFileAtomicallyTest, AmpersandNonAsciiAndLongPaths) {
  ScratchFolder scratch;
  std::wstring deep = scratch / L"Tom & Jerry \u00c4\u6587";
  kestrova::test::MakeFolder(deep);
  while (deep.size() < 300) {
    deep += L"\\" + std::wstring(40, L'd');
    kestrova::test::MakeFolder(deep);
  }
  const std::wstring target = deep + L"\\recover.ps1";
  const std::vector<unsigned char> script = {'#', ' ', 0xc3, 0xa4, '\r', '\n'};
  ASSERT_TRUE(WriteFileAtomically(target, script)) << GetLastError();
  EXPECT_EQ(ReadBytes(target), script);
}

TEST(WriteFileAtomicallyTest, MissingFolderFailsWithItsErrorAndLeavesNothing) {
  ScratchFolder scratch;
  SetLastError(0);
  EXPECT_FALSE(WriteFileAtomically(scratch / L"missing\\recover.ps1", {'x'}));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Names(scratch.Path()).empty());
}

TEST(WriteFileAtomicallyTest, TargetHeldWithoutDeleteSharingKeepsItsContent) {
  ScratchFolder scratch;
  const std::wstring target = scratch / L"recover.ps1";
  WriteBytes(target, {'o', 'l', 'd'});
  {
    FileHandle reader(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(reader);
    EXPECT_FALSE(WriteFileAtomically(target, {'n', 'e', 'w'}));
    EXPECT_NE(GetLastError(), 0u);
  }
  EXPECT_EQ(ReadBytes(target), (std::vector<unsigned char>{'o', 'l', 'd'}));
  EXPECT_EQ(Names(scratch.Path()), std::vector<std::wstring>{L"recover.ps1"});
}

}  // namespace
}  // namespace kestrova::recovery
