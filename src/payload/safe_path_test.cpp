#include <gtest/gtest.h>

#include <string>

#include "payload/safe_path.h"

namespace kestrova::payload {
namespace {

struct Case {
  std::string path;
  bool safe;
};

// Each unsafe case names the one fault it guards against.
const Case kCases[] = {
    {"a/b.txt", true},
    {"a", true},
    {"COM0", true},
    {"CONSOLE/x", true},
    {"lpt10", true},
    {"com10.txt", true},
    {"x/nulx.txt", true},
    {"a.b.c/d e/f", true},
    {".hidden", true},
    {"a..b", true},
    {"\xc3\xa9", true},              // U+00E9
    {"\xe2\x82\xac", true},          // U+20AC
    {"\xf4\x8f\xbf\xbf", true},      // U+10FFFF
    {"\xed\x9f\xbf", true},          // U+D7FF, just below the surrogates
    {"\xee\x80\x80", true},          // U+E000, just above them
    {"~!@#$%^&()_+=-[]{};',`", true},

    {"", false},
    {"/a", false},
    {"a/", false},
    {"a//b", false},
    {".", false},
    {"..", false},
    {"./a", false},
    {"a/./b", false},
    {"a/../b", false},
    {"a/..", false},
    {"a\\b", false},
    {"c:x", false},
    {"a.", false},
    {"a ", false},
    {"dir./x", false},
    {"dir /x", false},
    {"aux.txt", false},
    {"Com1", false},
    {"x/nul.tar.gz", false},
    {"CON", false},
    {"prn", false},
    {"nul.", false},
    {"LPT9", false},
    {"lpt1.log", false},
    {"a/com5/b", false},
    {"\xc0\xaf", false},              // overlong "/"
    {"\xe0\x80\xaf", false},          // overlong, three bytes
    {"\xf0\x80\x80\xaf", false},      // overlong, four bytes
    {"\xed\xa0\x80", false},          // U+D800, a surrogate
    {"\xed\xbf\xbf", false},          // U+DFFF
    {"\xf4\x90\x80\x80", false},      // above U+10FFFF
    {"a\xc3", false},                 // truncated at the end
    {"\xe2\x82", false},              // truncated three-byte sequence
    {"\xe2\x82x", false},             // continuation byte missing
    {"\x80", false},                  // lone continuation byte
    {"\xf8\x88\x80\x80\x80", false},  // five-byte lead
    {"\xff", false},
    {"a\x01", false},
    {"a\x1f", false},
    {"\t", false},
    {"a\x7f", false},
};

TEST(IsSafeRelativePathTest, Table) {
  for (const Case& c : kCases) EXPECT_EQ(IsSafeRelativePath(c.path), c.safe) << "'" << c.path << "'";
}

TEST(IsSafeRelativePathTest, EmbeddedNulByte) { EXPECT_FALSE(IsSafeRelativePath(std::string("a\0b", 3))); }

TEST(IsSafeRelativePathTest, EachForbiddenCharacter) {
  for (const char c : std::string("\"*:<>?\\|")) {
    EXPECT_FALSE(IsSafeRelativePath(std::string("a") + c + "b")) << c;
  }
}

TEST(IsSafeRelativePathTest, LengthBounds) {
  EXPECT_TRUE(IsSafeRelativePath(std::string(1024, 'x')));
  EXPECT_FALSE(IsSafeRelativePath(std::string(1025, 'x')));
  std::string components;
  while (components.size() < 1024) components += "ab/";
  components.resize(1024);  // "...ab/a"
  EXPECT_TRUE(IsSafeRelativePath(components));
}

TEST(IsSafeRelativePathTest, EveryReservedNameInEveryCase) {
  for (const std::string name : {"con", "prn", "aux", "nul"}) {
    for (int mask = 0; mask < 8; ++mask) {
      std::string mixed = name;
      for (int i = 0; i < 3; ++i) {
        if (mask & (1 << i)) mixed[i] = static_cast<char>(mixed[i] - 'a' + 'A');
      }
      EXPECT_FALSE(IsSafeRelativePath(mixed)) << mixed;
      EXPECT_FALSE(IsSafeRelativePath("d/" + mixed + ".x")) << mixed;
    }
  }
  for (const std::string stem : {"com", "LPT", "Com", "lPt"}) {
    for (char digit = '1'; digit <= '9'; ++digit) EXPECT_FALSE(IsSafeRelativePath(stem + digit)) << stem << digit;
    EXPECT_TRUE(IsSafeRelativePath(stem + "0"));
    EXPECT_TRUE(IsSafeRelativePath(stem));
  }
}

}  // namespace
}  // namespace kestrova::payload
