#include "securefs/canonical_path.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

TEST(CanonicalPathRulesTest, DriveAbsoluteNeedsLetterColonBackslash) {
  for (const wchar_t* yes : {L"C:\\", L"c:\\x", L"Z:\\a\\b", L"a:\\"}) EXPECT_TRUE(IsDriveAbsolute(yes)) << yes;
  for (const wchar_t* no : {L"", L"C:", L"C:/", L"C:/x", L"1:\\x", L"\\\\server\\share\\x", L"\\\\?\\C:\\x",
                            L"CC:\\", L":\\", L"\u00c4:\\x", L"\\C:\\"}) {
    EXPECT_FALSE(IsDriveAbsolute(no)) << WideToUtf8(no);
  }
}

TEST(CanonicalPathRulesTest, DriveRootIsExactlyThreeCharacters) {
  EXPECT_TRUE(IsDriveRoot(L"C:\\"));
  EXPECT_TRUE(IsDriveRoot(L"q:\\"));
  EXPECT_FALSE(IsDriveRoot(L"C:\\a"));
  EXPECT_FALSE(IsDriveRoot(L"C:\\\\"));
  EXPECT_FALSE(IsDriveRoot(L"C:"));
  EXPECT_FALSE(IsDriveRoot(L"\\\\s"));
}

TEST(CanonicalPathRulesTest, PrefixesRunFromTheRootDown) {
  EXPECT_EQ(PathPrefixes(L"C:\\a\\b"), (std::vector<WideString>{L"C:\\", L"C:\\a", L"C:\\a\\b"}));
  EXPECT_EQ(PathPrefixes(L"C:\\"), (std::vector<WideString>{L"C:\\"}));
  EXPECT_EQ(PathPrefixes(L"C:\\a"), (std::vector<WideString>{L"C:\\", L"C:\\a"}));
  EXPECT_EQ(PathPrefixes(L"C:\\Program Files\\Corvella\\app"),
            (std::vector<WideString>{L"C:\\", L"C:\\Program Files", L"C:\\Program Files\\Corvella",
                                     L"C:\\Program Files\\Corvella\\app"}));
}

TEST(CanonicalPathRulesTest, DoubledSeparatorsAddNoPrefix) {
  EXPECT_EQ(PathPrefixes(L"C:\\a\\\\b"), (std::vector<WideString>{L"C:\\", L"C:\\a", L"C:\\a\\\\b"}));
  EXPECT_EQ(PathPrefixes(L"C:\\\\a"), (std::vector<WideString>{L"C:\\", L"C:\\\\a"}));
  // A trailing separator (which the canonical form never has) does not list the same folder twice.
  EXPECT_EQ(PathPrefixes(L"C:\\a\\"), (std::vector<WideString>{L"C:\\", L"C:\\a", L"C:\\a\\"}));
}

TEST(CanonicalPathRulesTest, NoPrefixesForAnythingButADrivePath) {
  EXPECT_TRUE(PathPrefixes(L"").empty());
  EXPECT_TRUE(PathPrefixes(L"\\\\server\\share\\x").empty());
  EXPECT_TRUE(PathPrefixes(L"relative\\x").empty());
}

TEST(CanonicalPathRulesTest, OpenFormUsesTheUncPrefixForShares) {
  EXPECT_EQ(OpenFormOf(L"C:\\a"), L"\\\\?\\C:\\a");
  EXPECT_EQ(OpenFormOf(L"C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(OpenFormOf(L"\\\\server\\share\\x"), L"\\\\?\\UNC\\server\\share\\x");
}

TEST(CanonicalPathRulesTest, FindsEmbeddedNul) {
  EXPECT_FALSE(HasEmbeddedNul(L"C:\\a"));
  EXPECT_FALSE(HasEmbeddedNul(L""));
  const WideString withNul{L'C', L':', L'\\', L'a', L'\0', L'b'};
  EXPECT_TRUE(HasEmbeddedNul(withNul));
}

}  // namespace
}  // namespace kestrova::securefs
