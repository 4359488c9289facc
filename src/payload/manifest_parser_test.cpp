#include <gtest/gtest.h>

#include "payload/manifest.h"

namespace kestrova::payload {
namespace {

const std::string kHash(64, 'a');
const std::string kGoodObject = "{\"path\": \"a/b\", \"size\": 3, \"sha256\": \"" + kHash + "\"}";

std::string WithFiles(const std::string& inner) { return "{\"files\": [" + inner + "]}"; }

// A file object with the given members after the opening brace.
std::string Object(const std::string& members) { return WithFiles("{" + members + "}"); }

std::string Members(const std::string& path, const std::string& size, const std::string& sha256) {
  return "\"path\": " + path + ", \"size\": " + size + ", \"sha256\": " + sha256;
}

struct BadManifest {
  const char* name;
  std::string text;
  std::string error;
  size_t entriesBeforeFault;
};

std::vector<BadManifest> BadManifests() {
  const std::string quotedHash = "\"" + kHash + "\"";
  const std::string path = "\"p\"";
  return {
      {"Empty", "", "expected {\"files\": [", 0},
      {"OnlyWhitespace", " \t\r\n", "expected {\"files\": [", 0},
      {"NoOpeningBrace", "[\"files\": []}", "expected {\"files\": [", 0},
      {"WrongKey", "{\"file\": []}", "expected {\"files\": [", 0},
      {"UnquotedKey", "{files: []}", "expected {\"files\": [", 0},
      {"UnterminatedKey", "{\"files", "expected {\"files\": [", 0},
      {"MissingColon", "{\"files\" []}", "expected {\"files\": [", 0},
      {"ObjectInsteadOfArray", "{\"files\": {}}", "expected {\"files\": [", 0},
      {"ByteOrderMark", "\xEF\xBB\xBF" + WithFiles(""), "expected {\"files\": [", 0},
      {"EndAfterArrayOpens", "{\"files\": [", "expected a file object", 0},
      {"NumberInArray", WithFiles("1"), "expected a file object", 0},
      {"TrailingCommaAfterLastObject", WithFiles(kGoodObject + ","), "expected a file object", 1},
      {"EndAfterObject", "{\"files\": [" + kGoodObject, "expected ]}", 1},
      {"EndAfterObjectAndSpace", "{\"files\": [" + kGoodObject + "\n ", "expected ]}", 1},
      {"TwoObjectsWithoutComma", WithFiles(kGoodObject + " " + kGoodObject), "expected ]}", 1},
      {"MissingClosingBrace", "{\"files\": [" + kGoodObject + "]", "expected ]}", 1},
      {"MissingClosingBraceEmptyList", "{\"files\": []", "expected ]}", 0},
      {"SecondKeyAtTop", "{\"files\": [], \"x\": 1}", "expected ]}", 0},
      {"TrailingData", WithFiles("") + " x", "trailing data", 0},
      {"TrailingNul", WithFiles("") + std::string(1, '\0'), "trailing data", 0},
      {"SecondDocument", WithFiles(kGoodObject) + WithFiles(""), "trailing data", 1},
      {"EmptyObject", Object(""), "expected a key", 0},
      {"TrailingCommaInObject", Object(Members(path, "1", quotedHash) + ","), "expected a key", 0},
      {"UnquotedMemberKey", Object("path: \"p\""), "expected a key", 0},
      {"KeyWithBackslash", Object("\"pa\\th\": \"p\""), "expected a key", 0},
      {"KeyWithControlByte", Object("\"pa\tth\": \"p\""), "expected a key", 0},
      {"MemberWithoutColon", Object("\"path\" \"p\""), "expected a key", 0},
      {"UnterminatedMemberKey", "{\"files\": [{\"path", "expected a key", 0},
      {"PathNotString", Object(Members("1", "1", quotedHash)), "bad path", 0},
      {"PathEmpty", Object(Members("\"\"", "1", quotedHash)), "bad path", 0},
      {"PathWithEscape", Object(Members("\"C:\\\\x\"", "1", quotedHash)), "bad path", 0},
      {"PathWithEscapedQuote", Object(Members("\"a\\\"b\"", "1", quotedHash)), "bad path", 0},
      {"PathWithDotDot", Object(Members("\"a/../b\"", "1", quotedHash)), "bad path", 0},
      {"PathAbsolute", Object(Members("\"/a\"", "1", quotedHash)), "bad path", 0},
      {"PathReservedName", Object(Members("\"con.txt\"", "1", quotedHash)), "bad path", 0},
      {"PathBadUtf8", Object(Members("\"a\xC3\"", "1", quotedHash)), "bad path", 0},
      {"PathWithTab", Object(Members("\"a\tb\"", "1", quotedHash)), "bad path", 0},
      {"PathUnterminated", "{\"files\": [{\"path\": \"abc", "bad path", 0},
      {"SizeMissing", Object(Members(path, "", quotedHash)), "bad size", 0},
      {"SizeQuoted", Object(Members(path, "\"1\"", quotedHash)), "bad size", 0},
      {"SizeNegative", Object(Members(path, "-1", quotedHash)), "bad size", 0},
      {"SizePlus", Object(Members(path, "+1", quotedHash)), "bad size", 0},
      {"SizeOverflowByOne", Object(Members(path, "18446744073709551616", quotedHash)), "bad size", 0},
      {"SizeOverflowLarge", Object(Members(path, "99999999999999999999", quotedHash)), "bad size", 0},
      {"SizeTwentyOneDigits", Object(Members(path, "000000000000000000001", quotedHash)), "bad size", 0},
      {"SizeAtEnd", "{\"files\": [{\"size\": ", "bad size", 0},
      {"Sha256Uppercase", Object(Members(path, "1", "\"" + std::string(64, 'A') + "\"")), "bad sha256", 0},
      {"Sha256OneUppercase", Object(Members(path, "1", "\"" + std::string(63, 'a') + "F\"")), "bad sha256", 0},
      {"Sha256Short", Object(Members(path, "1", "\"" + std::string(63, 'a') + "\"")), "bad sha256", 0},
      {"Sha256Long", Object(Members(path, "1", "\"" + std::string(65, 'a') + "\"")), "bad sha256", 0},
      {"Sha256NotHex", Object(Members(path, "1", "\"" + std::string(63, 'a') + "g\"")), "bad sha256", 0},
      {"Sha256Number", Object(Members(path, "1", "1234")), "bad sha256", 0},
      {"Sha256WithEscape", Object(Members(path, "1", "\"" + std::string(62, 'a') + "\\u0030\"")), "bad sha256", 0},
      {"RepeatedPath", Object(Members(path, "1", quotedHash) + ", \"path\": \"q\""), "unexpected key path", 0},
      {"RepeatedSize", Object("\"size\": 1, \"size\": 2"), "unexpected key size", 0},
      {"RepeatedSha256", Object("\"sha256\": " + quotedHash + ", \"sha256\": " + quotedHash),
       "unexpected key sha256", 0},
      {"ExtraKey", Object(Members(path, "1", quotedHash) + ", \"mtime\": 5"), "unexpected key mtime", 0},
      {"KeyCaseMatters", Object("\"Path\": \"p\""), "unexpected key Path", 0},
      {"EmptyKey", Object("\"\": 1"), "unexpected key ", 0},
      {"MissingSize", Object("\"path\": \"p\", \"sha256\": " + quotedHash), "incomplete file object", 0},
      {"MissingPath", Object("\"size\": 1, \"sha256\": " + quotedHash), "incomplete file object", 0},
      {"MissingSha256", Object("\"path\": \"p\", \"size\": 1"), "incomplete file object", 0},
      {"SizeFollowedByLetters", Object(Members(path, "12abc", quotedHash)), "incomplete file object", 0},
      {"MembersWithoutComma", Object("\"path\": \"p\" \"size\": 1"), "incomplete file object", 0},
      {"EndInsideObject", "{\"files\": [{\"path\": \"p\"", "incomplete file object", 0},
      {"SecondObjectFaulty", WithFiles(kGoodObject + ", " + kGoodObject + ", {\"size\": x}"), "bad size", 2},
  };
}

class ParseManifestErrorTest : public testing::TestWithParam<BadManifest> {};

TEST_P(ParseManifestErrorTest, FailsWithItsText) {
  const BadManifest& bad = GetParam();
  std::vector<Entry> entries;
  std::string error;
  EXPECT_FALSE(ParseManifest(bad.text, &entries, &error));
  EXPECT_EQ(error, bad.error);
  EXPECT_EQ(entries.size(), bad.entriesBeforeFault);
}

INSTANTIATE_TEST_SUITE_P(Table, ParseManifestErrorTest, testing::ValuesIn(BadManifests()),
                         [](const testing::TestParamInfo<BadManifest>& info) { return info.param.name; });

TEST(ParseManifestTest, KeepsAnEarlierError) {
  std::vector<Entry> entries;
  std::string error = "earlier fault";
  EXPECT_FALSE(ParseManifest("nonsense", &entries, &error));
  EXPECT_EQ(error, "earlier fault");
}

TEST(ParseManifestTest, AcceptsAnyWhitespaceAndKeyOrder) {
  const std::string text = "\r\n\t {\t\"files\"\r:\n[ {\"sha256\"\t:\"" + std::string(62, '0') + "ff\" ,\n\"size\" :" +
                           " 0007 , \"path\":\"x/y z\"\t}\r\n,{\"size\":0,\"path\":\"b\",\"sha256\":\"" + kHash +
                           "\"}\n]\n}\n\t ";
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(text, &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].path, "x/y z");
  EXPECT_EQ(entries[0].size, 7u);
  EXPECT_EQ(entries[0].sha256[0], 0);
  EXPECT_EQ(entries[0].sha256[31], 0xFF);
  EXPECT_EQ(entries[1].path, "b");
  EXPECT_EQ(entries[1].size, 0u);
  EXPECT_EQ(entries[1].sha256[5], 0xAA);
  EXPECT_TRUE(error.empty());
}

TEST(ParseManifestTest, DecodesHashHighNibbleFirst) {
  std::string hex;
  for (int i = 0; i < 32; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", (i * 37 + 11) & 0xFF);
    hex += two;
  }
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(Object(Members("\"f\"", "1", "\"" + hex + "\"")), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(entries[0].sha256[i], (i * 37 + 11) & 0xFF) << i;
}

TEST(ParseManifestTest, LargestSizeAndTwentyDigitsAccepted) {
  std::vector<Entry> entries;
  std::string error;
  const std::string hash = "\"" + kHash + "\"";
  ASSERT_TRUE(ParseManifest(Object(Members("\"f\"", "18446744073709551615", hash)), &entries, &error)) << error;
  EXPECT_EQ(entries[0].size, UINT64_MAX);
  ASSERT_TRUE(ParseManifest(Object(Members("\"f\"", "00000000000000000042", hash)), &entries, &error)) << error;
  EXPECT_EQ(entries[0].size, 42u);
}

TEST(ParseManifestTest, NonAsciiPathReadBackUnchanged) {
  const std::string path = "\xE6\x97\xA5\xE6\x9C\xAC/\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80.txt";
  std::vector<Entry> entries;
  std::string error;
  ASSERT_TRUE(ParseManifest(Object(Members("\"" + path + "\"", "5", "\"" + kHash + "\"")), &entries, &error))
      << error;
  EXPECT_EQ(entries[0].path, path);
}

TEST(ParseManifestTest, ClearsTheListFirst) {
  std::vector<Entry> entries(3);
  std::string error;
  ASSERT_TRUE(ParseManifest(WithFiles(kGoodObject), &entries, &error)) << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "a/b");
}

}  // namespace
}  // namespace kestrova::payload
