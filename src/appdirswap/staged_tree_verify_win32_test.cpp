#include "appdirswap/staged_tree_verify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appdirswap/engine_test_support_win32.h"

namespace kestrova::appdirswap {
namespace {

using test::ScratchFolder;

void Overwrite(const WideString& path, const std::string& content) {
  test::RemoveForCleanup(ToLongPathForm(path));
  test::WriteTextFile(path, content);
}

void Append(const WideString& path, const std::string& more) {
  FileHandle file(CreateFileW(ToLongPathForm(path).c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), more.data(), static_cast<DWORD>(more.size()), &written, nullptr));
}

std::string ParserError(const std::string& text) {
  std::vector<payload::Entry> entries;
  std::string error;
  EXPECT_FALSE(payload::ParseManifest(text, &entries, &error));
  return error;
}

TEST(VerifyStagedTreeTest, CountsAndDetailsOverRealTrees) {
  // The big file crosses the 1 MiB read chunks; the empty one is a legitimate entry.
  const std::string big(kVerifyChunkBytes * 2 + 17, 'z');
  const std::map<std::string, std::string> files = {
      {"app/corvella.exe", big}, {"bin/core.dll", "core"}, {"data/Ключ.txt", "key"}, {"empty.txt", ""}};
  struct Row {
    const char* name;
    void (*damage)(const WideString& folder);
    bool parsed;
    size_t files, missing, damaged;
    std::string detail;
  };
  const Row rows[] = {
      {"intact", [](const WideString&) {}, true, 4, 0, 0, ""},
      {"unlisted extras", [](const WideString& f) {
         test::WriteTextFile(f + L"\\extra.txt", "x");
         test::MakeFolder(f + L"\\extra");
       }, true, 4, 0, 0, ""},
      {"no manifest", [](const WideString& f) { test::RemoveForCleanup(ToLongPathForm(f + L"\\manifest.json")); },
       false, 0, 0, 0, "manifest.json is missing or unreadable"},
      {"empty manifest", [](const WideString& f) { Overwrite(f + L"\\manifest.json", ""); }, false, 0, 0, 0,
       "manifest.json is missing or unreadable"},
      {"manifest a folder", [](const WideString& f) {
         test::RemoveForCleanup(ToLongPathForm(f + L"\\manifest.json"));
         test::MakeFolder(f + L"\\manifest.json");
       }, false, 0, 0, 0, "manifest.json is missing or unreadable"},
      {"manifest above 64 MiB", [](const WideString& f) {
         FileHandle file(CreateFileW(ToLongPathForm(f + L"\\manifest.json").c_str(), GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
         LARGE_INTEGER end{};
         end.QuadPart = static_cast<LONGLONG>(kMaxManifestBytes) + 1;
         ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
         ASSERT_TRUE(SetEndOfFile(file.get()));
       }, false, 0, 0, 0, "manifest.json is missing or unreadable"},
      {"manifest not parsable", [](const WideString& f) { Overwrite(f + L"\\manifest.json", "{\"files\": [ 7 ]}"); },
       false, 0, 0, 0, "manifest.json: " + ParserError("{\"files\": [ 7 ]}")},
      {"manifest lists no files", [](const WideString& f) {
         Overwrite(f + L"\\manifest.json", payload::FormatManifest({}));
       }, true, 0, 0, 0, "manifest.json lists no files"},
      {"missing file", [](const WideString& f) { test::RemoveForCleanup(ToLongPathForm(f + L"\\bin\\core.dll")); },
       true, 4, 1, 0, "bin/core.dll"},
      {"file replaced by a folder", [](const WideString& f) {
         test::RemoveForCleanup(ToLongPathForm(f + L"\\bin\\core.dll"));
         test::MakeFolder(f + L"\\bin\\core.dll");
       }, true, 4, 0, 1, "bin/core.dll"},
      {"one byte changed", [](const WideString& f) { Overwrite(f + L"\\bin\\core.dll", "cora"); }, true, 4, 0, 1,
       "bin/core.dll"},
      {"one byte appended", [](const WideString& f) { Append(f + L"\\app\\corvella.exe", "!"); }, true, 4, 0, 1,
       "app/corvella.exe"},
      {"empty file no longer empty", [](const WideString& f) { Append(f + L"\\empty.txt", "x"); }, true, 4, 0, 1,
       "empty.txt"},
      {"two bad: the first in manifest order", [](const WideString& f) {
         Overwrite(f + L"\\data\\Ключ.txt", "kez");
         test::RemoveForCleanup(ToLongPathForm(f + L"\\app\\corvella.exe"));
       }, true, 4, 1, 1, "app/corvella.exe"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchFolder scratch;
    const WideString staging = scratch / L"Corvella.staging";
    test::WriteVersionTree(staging, files, "2.0.0");
    row.damage(staging);
    const VerifyResult result = VerifyStagedTree(staging);
    EXPECT_EQ(result.parsed, row.parsed);
    EXPECT_EQ(result.files, row.files);
    EXPECT_EQ(result.missing, row.missing);
    EXPECT_EQ(result.damaged, row.damaged);
    EXPECT_EQ(result.detail, row.detail);
    const bool good = row.parsed && row.files > 0 && row.missing == 0 && row.damaged == 0;
    EXPECT_EQ(VerifyAndLog(staging), good);
    EXPECT_EQ(VerifyAndLog(ToLongPathForm(staging)), good);
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
