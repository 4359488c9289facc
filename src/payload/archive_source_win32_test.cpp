#include <gtest/gtest.h>

#include <vector>

#include "payload/archive_source.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::payload {
namespace {

// Built by testdata/msi/make_packages.sh at build time, in the build folder, seen through Wine's Z: drive.
WideString MsiTestData(const char* name) {
  WideString path = Utf8ToWide(std::string(KESTROVA_MSI_TESTDATA) + "/" + name);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

// Reads the whole source in pieces of `piece` bytes, checking that only the last piece comes back short.
bool ReadAll(ByteSource& source, size_t piece, std::string* bytes) {
  std::vector<char> buffer(piece);
  for (;;) {
    size_t got = 0;
    if (!source.Read(buffer.data(), piece, &got)) return false;
    bytes->append(buffer.data(), got);
    if (got < piece) break;
  }
  size_t after = 1;
  return source.Read(buffer.data(), piece, &after) && after == 0;
}

TEST(MsiRowSourceTest, ReadsALargeRowExactlyInPieces) {
  const std::string expected = kestrova::test::ReadBytes(MsiTestData("Binary/payload.bin"));
  ASSERT_EQ(expected.size(), 300000u);
  for (size_t piece : {size_t{4096}, size_t{65536}, size_t{1000000}}) {
    std::string error;
    auto source = OpenMsiRowSource(MsiTestData("package.msi"), L"Payload", &error);
    ASSERT_NE(source, nullptr) << error;
    std::string bytes;
    ASSERT_TRUE(ReadAll(*source, piece, &bytes)) << piece;
    EXPECT_EQ(bytes.size(), expected.size()) << piece;
    EXPECT_TRUE(bytes == expected) << piece;
  }
}

TEST(MsiRowSourceTest, ShortRowEndsWithAShortReadThenZero) {
  std::string error;
  auto source = OpenMsiRowSource(MsiTestData("package.msi"), L"Small", &error);
  ASSERT_NE(source, nullptr) << error;
  char buffer[10];
  size_t got = 0;
  ASSERT_TRUE(source->Read(buffer, 10, &got));
  EXPECT_EQ(std::string(buffer, got), "hello, pac");
  ASSERT_TRUE(source->Read(buffer, 10, &got));
  EXPECT_EQ(std::string(buffer, got), "kage\n");
  got = 3;
  ASSERT_TRUE(source->Read(buffer, 10, &got));
  EXPECT_EQ(got, 0u);
}

TEST(MsiRowSourceTest, EmptyRowReadsNothing) {
  std::string error;
  auto source = OpenMsiRowSource(MsiTestData("package.msi"), L"Empty", &error);
  ASSERT_NE(source, nullptr) << error;
  char buffer[16];
  size_t got = 5;
  ASSERT_TRUE(source->Read(buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
}

TEST(MsiRowSourceTest, MissingRowGives259) {
  const WideString package = MsiTestData("package.msi");
  std::string error;
  EXPECT_EQ(OpenMsiRowSource(package, L"NoSuchRow", &error), nullptr);
  EXPECT_EQ(error, "Binary row 'NoSuchRow' not found in " + WideToUtf8(package) + ": 259");
}

TEST(MsiRowSourceTest, RowNamesMatchExactly) {
  std::string error;
  EXPECT_EQ(OpenMsiRowSource(MsiTestData("package.msi"), L"payload", &error), nullptr);
  EXPECT_EQ(error, "Binary row 'payload' not found in " + WideToUtf8(MsiTestData("package.msi")) + ": 259");
}

TEST(MsiRowSourceTest, NotAPackageGives1627) {
  const WideString path = MsiTestData("not_a_package.msi");
  std::string error;
  EXPECT_EQ(OpenMsiRowSource(path, L"Payload", &error), nullptr);
  EXPECT_EQ(error, "MsiOpenDatabase(" + WideToUtf8(path) + ") failed: 1627");
}

TEST(MsiRowSourceTest, MissingPackageFailsAtTheOpen) {
  kestrova::test::ScratchFolder folder;
  const WideString path = (folder / L"missing.msi");
  std::string error;
  EXPECT_EQ(OpenMsiRowSource(path, L"Payload", &error), nullptr);
  const std::string prefix = "MsiOpenDatabase(" + WideToUtf8(path) + ") failed: ";
  ASSERT_EQ(error.compare(0, prefix.size(), prefix), 0) << error;
  EXPECT_NE(error.substr(prefix.size()), "0");
  EXPECT_EQ(error.find_first_not_of("0123456789", prefix.size()), std::string::npos) << error;
}

TEST(MsiRowSourceTest, SeveralSourcesOnOnePackageAtOnce) {
  std::string error;
  auto first = OpenMsiRowSource(MsiTestData("package.msi"), L"Small", &error);
  auto second = OpenMsiRowSource(MsiTestData("package.msi"), L"Small", &error);
  ASSERT_NE(first, nullptr) << error;
  ASSERT_NE(second, nullptr) << error;
  std::string a;
  std::string b;
  ASSERT_TRUE(ReadAll(*first, 3, &a));
  ASSERT_TRUE(ReadAll(*second, 100, &b));
  EXPECT_EQ(a, "hello, package\n");
  EXPECT_EQ(b, a);
}

TEST(OpenArchiveSourceTest, FromFileWinsAndThePackageIsNotOpened) {
  kestrova::test::ScratchFolder folder;
  ASSERT_TRUE(kestrova::test::WriteBytes((folder / L"archive.kvp"), "KVP1 bytes"));
  ArchiveLocation location;
  location.hasFromFile = true;
  location.fromFile = (folder / L"archive.kvp");
  location.hasDb = true;
  location.db = (folder / L"missing.msi");  // Opening it would fail.
  location.hasRow = true;
  location.row = L"Payload";
  std::string error;
  auto source = OpenArchiveSource(location, &error);
  ASSERT_NE(source, nullptr) << error;
  EXPECT_TRUE(error.empty());
  std::string bytes;
  ASSERT_TRUE(ReadAll(*source, 64, &bytes));
  EXPECT_EQ(bytes, "KVP1 bytes");
}

TEST(OpenArchiveSourceTest, EmptyFromFileIsStillUsed) {
  ArchiveLocation location;
  location.hasFromFile = true;
  location.hasDb = true;
  location.db = MsiTestData("package.msi");
  location.hasRow = true;
  location.row = L"Small";
  std::string error;
  EXPECT_EQ(OpenArchiveSource(location, &error), nullptr);
  EXPECT_EQ(error.rfind("could not open : ", 0), 0u) << error;
}

TEST(OpenArchiveSourceTest, MissingFromFileReportsItsOpenError) {
  kestrova::test::ScratchFolder folder;
  ArchiveLocation location;
  location.hasFromFile = true;
  location.fromFile = (folder / L"none.kvp");
  std::string error;
  EXPECT_EQ(OpenArchiveSource(location, &error), nullptr);
  EXPECT_EQ(error, "could not open " + WideToUtf8(location.fromFile) + ": 2");
}

TEST(OpenArchiveSourceTest, DbAndRowReadThePackageRow) {
  ArchiveLocation location;
  location.hasDb = true;
  location.db = MsiTestData("package.msi");
  location.hasRow = true;
  location.row = L"Small";
  std::string error;
  auto source = OpenArchiveSource(location, &error);
  ASSERT_NE(source, nullptr) << error;
  std::string bytes;
  ASSERT_TRUE(ReadAll(*source, 7, &bytes));
  EXPECT_EQ(bytes, "hello, package\n");
}

TEST(OpenArchiveSourceTest, PackageFailureKeepsOpensText) {
  ArchiveLocation location;
  location.hasDb = true;
  location.db = MsiTestData("package.msi");
  location.hasRow = true;
  location.row = L"Other";
  std::string error;
  EXPECT_EQ(OpenArchiveSource(location, &error), nullptr);
  EXPECT_EQ(error, "Binary row 'Other' not found in " + WideToUtf8(location.db) + ": 259");
}

TEST(OpenArchiveSourceTest, OnlyDbOrOnlyRowOrNothingIsAUsageFault) {
  const char* const kText = "give --db and --row, or --from-file";
  ArchiveLocation onlyDb;
  onlyDb.hasDb = true;
  onlyDb.db = MsiTestData("package.msi");
  ArchiveLocation onlyRow;
  onlyRow.hasRow = true;
  onlyRow.row = L"Payload";
  for (const ArchiveLocation& location : {onlyDb, onlyRow, ArchiveLocation{}}) {
    std::string error;
    EXPECT_EQ(OpenArchiveSource(location, &error), nullptr);
    EXPECT_EQ(error, kText);
  }
}

}  // namespace
}  // namespace kestrova::payload
