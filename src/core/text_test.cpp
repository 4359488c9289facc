#include "core/text.h"

#include <gtest/gtest.h>

namespace kestrova {
namespace {

TEST(TextTest, RoundTripsEveryPlane) {
  const std::string utf8 = "a\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80z";
  const WideString wide = Utf8ToWide(utf8);
  ASSERT_EQ(wide.size(), 6u);  // the emoji is a surrogate pair
  EXPECT_EQ(static_cast<unsigned>(wide[3]), 0xD83Du);
  EXPECT_EQ(static_cast<unsigned>(wide[4]), 0xDE00u);
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextTest, InvalidUtf8BecomesTheEmptyText) {
  for (const char* bad : {"\x80", "a\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                          "\xf8\x88\x80\x80\x80", "ok\xff"}) {
    EXPECT_EQ(Utf8ToWide(bad), L"") << "input " << ::testing::PrintToString(std::string(bad));
    EXPECT_FALSE(IsWellFormedUtf8(bad));
  }
  EXPECT_TRUE(IsWellFormedUtf8(""));
  EXPECT_TRUE(IsWellFormedUtf8("\xf4\x8f\xbf\xbf"));
}

TEST(TextTest, UnpairedSurrogatesBecomeTheReplacementCharacter) {
  const WideString lone_high{L'a', static_cast<wchar_t>(0xD800), L'b'};
  EXPECT_EQ(WideToUtf8(lone_high), "a\xef\xbf\xbd" "b");
  const WideString lone_low{static_cast<wchar_t>(0xDC00)};
  EXPECT_EQ(WideToUtf8(lone_low), "\xef\xbf\xbd");
  const WideString high_at_end{L'x', static_cast<wchar_t>(0xDBFF)};
  EXPECT_EQ(WideToUtf8(high_at_end), "x\xef\xbf\xbd");
}

TEST(TextTest, EmbeddedNulSurvives) {
  const std::string with_nul("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(with_nul).size(), 3u);
  EXPECT_EQ(WideToUtf8(Utf8ToWide(with_nul)), with_nul);
}

}  // namespace
}  // namespace kestrova
