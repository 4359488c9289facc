#include "securefs/system_folders.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

struct MatchCase {
  const wchar_t* path;
  const wchar_t* known;
  bool expected;
};

TEST(IsAtOrAboveTest, MatchesTheFolderItselfAndEveryFolderAboveIt) {
  const MatchCase cases[] = {
      {L"C:\\Program Files", L"C:\\Program Files", true},
      {L"c:\\PROGRAM FILES", L"C:\\Program Files", true},
      {L"C:\\Program Files\\", L"C:\\Program Files", true},
      {L"C:\\Program Files\\\\/", L"C:\\Program Files\\", true},
      {L"C:\\", L"C:\\Program Files", true},
      {L"c:\\", L"C:\\Program Files", true},
      {L"C:", L"C:\\Program Files", true},
      {L"C:\\Users", L"C:\\Users\\root", true},
      {L"c:\\users\\", L"C:\\Users\\root", true},
      {L"C:\\Users", L"C:\\Users", true},
      {L"C:\\", L"C:\\", true},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(IsAtOrAbove(c.path, c.known, AsciiEqualIgnoringCase), c.expected)
        << WideToUtf8(c.path) << " against " << WideToUtf8(c.known);
  }
}

TEST(IsAtOrAboveTest, RejectsFoldersBelowBesideOrSharingOnlyAPrefix) {
  const MatchCase cases[] = {
      {L"C:\\Program Files\\Corvella", L"C:\\Program Files", false},
      {L"C:\\Program", L"C:\\Program Files", false},
      {L"C:\\Program Files (x86)", L"C:\\Program Files", false},
      {L"C:\\ProgramData\\x", L"C:\\ProgramData", false},
      {L"C:\\Program Files", L"C:\\Program Files (x86)", false},
      {L"D:\\", L"C:\\Program Files", false},
      {L"C:\\Windows", L"C:\\Program Files", false},
      {L"C:\\Users\\root\\Temp", L"C:\\Users\\root", false},
      // A forward slash is not the separator the rule looks for after the path.
      {L"C:\\Program", L"C:\\Program/Files", false},
      {L"", L"C:\\Program Files", false},
      {L"C:\\Windows", L"", false},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(IsAtOrAbove(c.path, c.known, AsciiEqualIgnoringCase), c.expected)
        << WideToUtf8(c.path) << " against " << WideToUtf8(c.known);
  }
}

bool g_compareCalled = false;
bool AlwaysEqual(WideView, WideView) {
  g_compareCalled = true;
  return true;
}

TEST(IsAtOrAboveTest, UsesTheGivenComparisonOnThePathLengthPrefix) {
  g_compareCalled = false;
  EXPECT_TRUE(IsAtOrAbove(L"X:\\Other Folders", L"C:\\Program Files\\Corvella", AlwaysEqual));
  EXPECT_TRUE(g_compareCalled);
  // The boundary still holds whatever the comparison says: "C:\Prog" is followed by "r", not by "\".
  EXPECT_FALSE(IsAtOrAbove(L"X:\\Prog", L"C:\\Program Files", AlwaysEqual));
}

TEST(AsciiEqualIgnoringCaseTest, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(AsciiEqualIgnoringCase(L"C:\\Program Files", L"c:\\pROGRAM fILES"));
  EXPECT_FALSE(AsciiEqualIgnoringCase(L"C:\\a", L"C:/a"));
  EXPECT_FALSE(AsciiEqualIgnoringCase(L"abc", L"abcd"));
  EXPECT_FALSE(AsciiEqualIgnoringCase(L"[", L"{"));  // 0x5B and 0x7B differ by the case bit but are not letters
  EXPECT_TRUE(AsciiEqualIgnoringCase(L"", L""));
}

TEST(IsDriveOrShareRootTest, RecognisesDriveAndShareRoots) {
  const wchar_t* roots[] = {L"C:\\",         L"d:\\",          L"Z:/",
                            L"C:\\\\",       L"C:",            L"\\\\server\\share",
                            L"\\\\server\\share\\", L"\\\\server\\share//", L"//server/share",
                            L"\\\\server"};
  for (const wchar_t* root : roots) EXPECT_TRUE(IsDriveOrShareRoot(root)) << WideToUtf8(root);
}

TEST(IsDriveOrShareRootTest, RejectsFoldersBelowARootAndMalformedForms) {
  const wchar_t* others[] = {L"C:\\x",      L"C:\\x\\",        L"\\\\server\\share\\x", L"\\\\server\\share\\x\\",
                             L"1:\\",       L"CD:\\",          L"C\\",                  L"\\\\",
                             L"\\\\\\share", L"\\\\server\\\\share", L"x",              L"",
                             L"\\x"};
  for (const wchar_t* other : others) EXPECT_FALSE(IsDriveOrShareRoot(other)) << WideToUtf8(other);
}

TEST(IsDirectlyInsideTest, OnlyTheFolderOneLevelDown) {
  const MatchCase cases[] = {
      {L"C:\\Users\\someone", L"C:\\Users", true},
      {L"c:\\users\\someone\\", L"C:\\Users\\", true},
      {L"C:\\Users", L"C:\\Users", false},
      {L"C:\\Users\\a\\b", L"C:\\Users", false},
      {L"C:\\Usersx\\a", L"C:\\Users", false},
      {L"C:\\", L"C:\\Users", false},
      {L"", L"C:\\Users", false},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(IsDirectlyInside(c.path, c.known, AsciiEqualIgnoringCase), c.expected)
        << WideToUtf8(c.path) << " in " << WideToUtf8(c.known);
  }
}

}  // namespace
}  // namespace kestrova::securefs
