#include "securefs/paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/scratch_folder_win32.h"

namespace kestrova::securefs {
namespace {

WideString CurrentDirectory() {
  wchar_t buffer[32768];
  const DWORD length = GetCurrentDirectoryW(32768, buffer);
  return WideString(buffer, length);
}

// Runs a test body with the current directory moved into a scratch folder and puts it back afterwards.
class CurrentDirectoryScope {
 public:
  explicit CurrentDirectoryScope(const WideString& folder) : previous_(CurrentDirectory()) {
    EXPECT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  }
  ~CurrentDirectoryScope() { SetCurrentDirectoryW(previous_.c_str()); }

 private:
  WideString previous_;
};

TEST(LongPathTest, FoldsDotDotAndPrefixesLocalPaths) {
  EXPECT_EQ(LongPath(L"C:\\a\\..\\b"), L"\\\\?\\C:\\b");
  EXPECT_EQ(LongPath(L"C:\\a\\.\\b\\"), L"\\\\?\\C:\\a\\b\\");
  EXPECT_EQ(LongPath(L"C:/a/b"), L"\\\\?\\C:\\a\\b");
}

TEST(LongPathTest, PrefixesSharesWithUnc) {
  EXPECT_EQ(LongPath(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
  EXPECT_EQ(LongPath(L"\\\\server\\share\\a\\..\\x"), L"\\\\?\\UNC\\server\\share\\x");
}

TEST(LongPathTest, LeavesLongPathsAndTheEmptyPathUnchanged) {
  EXPECT_EQ(LongPath(L"\\\\?\\C:\\a\\..\\b"), L"\\\\?\\C:\\a\\..\\b");
  EXPECT_EQ(LongPath(L"\\\\?\\UNC\\server\\share"), L"\\\\?\\UNC\\server\\share");
  EXPECT_EQ(LongPath(L""), L"");
}

TEST(LongPathTest, PrefixesPathsLongerThanMaxPath) {
  const WideString deep = L"C:\\" + WideString(300, L'x') + L"\\" + WideString(300, L'y');
  EXPECT_EQ(LongPath(deep), L"\\\\?\\" + deep);
}

TEST(LongPathTest, MakesRelativePathsAbsoluteAgainstTheCurrentDirectory) {
  kestrova::test::ScratchFolder scratch;
  CurrentDirectoryScope scope(scratch.Path());
  EXPECT_EQ(LongPath(L"name.txt"), L"\\\\?\\" + scratch.Path() + L"\\name.txt");
  EXPECT_EQ(DisplayPath(LongPath(L"sub\\..\\other")), scratch.Path() + L"\\other");
}

TEST(ParentFolderOfTest, GivesTheFolderPartOfTheAbsolutePath) {
  EXPECT_EQ(ParentFolderOf(L"C:\\ProgramData\\Kestrova\\Updates"), L"C:\\ProgramData\\Kestrova");
  EXPECT_EQ(ParentFolderOf(L"C:\\x"), L"C:");
  EXPECT_EQ(ParentFolderOf(L"\\\\?\\C:\\a\\b"), L"C:\\a");
  EXPECT_EQ(ParentFolderOf(L"\\\\server\\share\\x"), L"\\\\server\\share");
  EXPECT_EQ(ParentFolderOf(L"C:\\a\\b\\..\\c"), L"C:\\a");
}

TEST(ParentFolderOfTest, BareNameGivesTheCurrentDirectory) {
  kestrova::test::ScratchFolder scratch;
  CurrentDirectoryScope scope(scratch.Path());
  EXPECT_EQ(ParentFolderOf(L"file.txt"), scratch.Path());
}

}  // namespace
}  // namespace kestrova::securefs
