#include <gtest/gtest.h>

#include <random>

#include "payload/manifest.h"

namespace kestrova::payload {
namespace {

Entry MakeEntry(std::string path, uint64_t size, uint8_t firstHashByte) {
  Entry entry;
  entry.path = std::move(path);
  entry.size = size;
  for (size_t i = 0; i < entry.sha256.size(); ++i) entry.sha256[i] = static_cast<uint8_t>(firstHashByte + 17 * i);
  return entry;
}

TEST(FormatManifestTest, EmptyListIsOpeningThenClosing) {
  EXPECT_EQ(FormatManifest({}), "{\n  \"files\": [\n  ]\n}\n");
}

TEST(FormatManifestTest, OneEntryExactBytes) {
  Entry entry;
  entry.path = "bin/app.exe";
  entry.size = 1234;
  for (size_t i = 0; i < 32; ++i) entry.sha256[i] = static_cast<uint8_t>(i == 0 ? 0xAB : i == 31 ? 0x0F : i);
  EXPECT_EQ(FormatManifest({entry}),
            "{\n  \"files\": [\n"
            "    {\"path\": \"bin/app.exe\", \"size\": 1234, \"sha256\": "
            "\"ab0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e0f\"}\n"
            "  ]\n}\n");
}

TEST(FormatManifestTest, SeparatorsSizesAndRawUtf8) {
  Entry empty = MakeEntry("a", 0, 0);
  Entry largest = MakeEntry("dir/\xC3\xA9t\xC3\xA9.txt", UINT64_MAX, 0);
  const std::string zeros(64, '0');
  std::string hex;
  for (size_t i = 0; i < 32; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", static_cast<unsigned>(largest.sha256[i]));
    hex += two;
  }
  empty.sha256.fill(0);
  EXPECT_EQ(FormatManifest({empty, largest}),
            "{\n  \"files\": [\n"
            "    {\"path\": \"a\", \"size\": 0, \"sha256\": \"" + zeros + "\"},\n"
            "    {\"path\": \"dir/\xC3\xA9t\xC3\xA9.txt\", \"size\": 18446744073709551615, \"sha256\": \"" + hex +
                "\"}\n"
            "  ]\n}\n");
}

TEST(ManifestRoundTripTest, EmptyList) {
  std::vector<Entry> parsed{MakeEntry("stale", 1, 1)};
  std::string error;
  ASSERT_TRUE(ParseManifest(FormatManifest({}), &parsed, &error)) << error;
  EXPECT_TRUE(parsed.empty());
  EXPECT_TRUE(error.empty());
}

TEST(ManifestRoundTripTest, RandomListsComeBackInOrder) {
  std::mt19937_64 random(20240611);
  const std::vector<std::string> components = {"a", "bin", "Lib", "x y", "\xC3\xA9t\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC",
                                               "\xF0\x9F\x98\x80", "data.json", "v1.2.3", "-_~!@#$%^&()+=[]{}',"};
  for (int round = 0; round < 200; ++round) {
    std::vector<Entry> entries(random() % 8);
    for (Entry& entry : entries) {
      const size_t depth = 1 + random() % 4;
      for (size_t d = 0; d < depth; ++d) {
        if (d > 0) entry.path += '/';
        entry.path += components[random() % components.size()];
      }
      entry.size = random() % 3 == 0 ? random() : random() % 1000;
      for (uint8_t& byte : entry.sha256) byte = static_cast<uint8_t>(random());
    }
    std::vector<Entry> parsed;
    std::string error;
    ASSERT_TRUE(ParseManifest(FormatManifest(entries), &parsed, &error)) << error;
    ASSERT_EQ(parsed.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(parsed[i].path, entries[i].path);
      EXPECT_EQ(parsed[i].size, entries[i].size);
      EXPECT_EQ(parsed[i].sha256, entries[i].sha256);
    }
  }
}

TEST(EntryTargetPathTest, JoinsWithBackslashAndTurnsSlashes) {
  EXPECT_EQ(EntryTargetPath(L"\\\\?\\C:\\App", "bin/sub/app.exe"), L"\\\\?\\C:\\App\\bin\\sub\\app.exe");
  EXPECT_EQ(EntryTargetPath(L"C:\\App", "a"), L"C:\\App\\a");
}

TEST(EntryTargetPathTest, SlashesInTheFolderAreTurnedToo) {
  EXPECT_EQ(EntryTargetPath(L"C:/App/x", "y/z"), L"C:\\App\\x\\y\\z");
}

TEST(EntryTargetPathTest, ConvertsUtf8ToUtf16) {
  // U+00E9 and U+1F600 (a surrogate pair in UTF-16).
  const WideString expected = WideString(L"D:\\t\\") + static_cast<wchar_t>(0x00E9) + L"\\" +
                              static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00);
  EXPECT_EQ(EntryTargetPath(L"D:\\t", "\xC3\xA9/\xF0\x9F\x98\x80"), expected);
}

TEST(EntryTargetPathTest, InvalidUtf8ContributesNothing) {
  EXPECT_EQ(EntryTargetPath(L"C:\\App", "bad\xC3"), L"C:\\App\\");
  EXPECT_EQ(EntryTargetPath(L"C:\\App", "\xC0\xAF"), L"C:\\App\\");
}

}  // namespace
}  // namespace kestrova::payload
