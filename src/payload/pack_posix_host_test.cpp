#include "payload/pack_posix.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/report.h"
#include "payload/archive_test_support.h"

namespace kestrova::payload {
namespace {

namespace fs = std::filesystem;

struct Line {
  ReportLevel level;
  std::string text;
  bool operator==(const Line&) const = default;
};

std::vector<Line>* g_lines = nullptr;

void Capture(ReportLevel level, const char* text) {
  if (g_lines) g_lines->push_back({level, text});
}

// A private folder under the temporary folder and the report lines of the test's lifetime.
class PackPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    std::string pattern = (fs::temp_directory_path() / "kestrova-pack-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    g_lines = &lines_;
    previous_ = InstallReportSink(&Capture);
  }
  void TearDown() override {
    InstallReportSink(previous_);
    g_lines = nullptr;
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void Put(const std::string& relative, const std::string& bytes) {
    const fs::path path = root_ / "src" / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Src() const { return (root_ / "src").string(); }
  std::string Out(const char* name = "out.kvp") const { return (root_ / name).string(); }
  static test::Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return test::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::vector<std::string> Paths(const test::ReadResult& read) {
    std::vector<std::string> paths;
    for (const test::File& file : read.files) paths.push_back(file.path);
    return paths;
  }

  fs::path root_;
  std::vector<Line> lines_;
  ReportSink previous_ = nullptr;
};

TEST_F(PackPosixTest, PacksSortedWithExclusionsAndIsByteIdenticalFromRunToRun) {
  std::string large;
  for (uint32_t i = 0; large.size() < (4u << 20) + 70000; ++i) large += "row " + std::to_string(i % 613) + "\r\n";
  Put("bin/large.dat", large);
  Put("b", "bee");
  Put("a/x", "ex");
  Put("a.txt", "text");
  Put("empty.dat", "");
  Put("\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ascii");
  Put("logs/skip.txt", "excluded");
  ASSERT_EQ(RunPackPosix(Src(), Out("one.kvp"), {"logs"}), 0);
  ASSERT_EQ(RunPackPosix(Src(), Out("two.kvp"), {"logs"}), 0);
  const test::Bytes one = Read(Out("one.kvp"));
  EXPECT_TRUE(one == Read(Out("two.kvp")));
  const test::ReadResult read = test::ReadArchive(one);
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(Paths(read), (std::vector<std::string>{"a.txt", "a/x", "b", "bin/large.dat", "empty.dat",
                                                   "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.txt"}));
  EXPECT_EQ(std::string(read.files[3].content.begin(), read.files[3].content.end()), large);
  ASSERT_EQ(lines_.size(), 2u);
  EXPECT_EQ(lines_[0].level, kReportInfo);
  EXPECT_EQ(lines_[0].text.rfind("packed 6 files, 4.1 MB into " + Out("one.kvp") + " (", 0), 0u) << lines_[0].text;
}

TEST_F(PackPosixTest, EmptySourceGivesSeventeenBytes) {
  fs::create_directories(root_ / "src");
  ASSERT_EQ(RunPackPosix(Src(), Out(), {}), 0);
  EXPECT_EQ(Read(Out()).size(), 17u);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].text.rfind("packed 0 files, 0.0 MB into " + Out() + " (0.0 MB) in ", 0), 0u);
}

TEST_F(PackPosixTest, LinksAreNeitherEnteredNorPacked) {
  Put("real/a.txt", "a");
  Put("outside.txt", "o");
  fs::create_symlink(root_ / "src" / "real", root_ / "src" / "folder-link");
  fs::create_symlink(root_ / "src" / "outside.txt", root_ / "src" / "file-link");
  fs::create_symlink(root_ / "nowhere", root_ / "src" / "dangling");
  ASSERT_EQ(mkfifo((root_ / "src" / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(RunPackPosix(Src(), Out(), {}), 0);
  EXPECT_EQ(Paths(test::ReadArchive(Read(Out()))), (std::vector<std::string>{"outside.txt", "real/a.txt"}));
}

TEST_F(PackPosixTest, NamesDifferingOnlyInCaseAreRefusedBeforeTheArchiveIsMade) {
  Put("Bin/a.txt", "1");
  Put("bin/b.txt", "2");
  std::ofstream(Out(), std::ios::binary) << "an old archive";
  EXPECT_EQ(RunPackPosix(Src(), Out(), {}), 1);
  EXPECT_EQ(lines_, (std::vector<Line>{{kReportError, "pack failed: 'Bin' and 'bin' differ only in case"}}));
  EXPECT_EQ(Read(Out()).size(), 14u);  // not even opened
}

TEST_F(PackPosixTest, NonAsciiCaseClashIsFoundAndAnExclusionCanResolveIt) {
  Put("\xC3\x89t\xC3\xA9.txt", "upper");   // Été.txt
  Put("\xC3\xA9t\xC3\xA9.txt", "lower");   // été.txt
  EXPECT_EQ(RunPackPosix(Src(), Out(), {}), 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].text, "pack failed: '\xC3\x89t\xC3\xA9.txt' and '\xC3\xA9t\xC3\xA9.txt' differ only in case");
  lines_.clear();
  EXPECT_EQ(RunPackPosix(Src(), Out(), {"\xC3\x89t\xC3\xA9.txt"}), 0);
}

TEST_F(PackPosixTest, UnsafeWindowsNamesFailAndTakeThePartialArchiveWithThem) {
  for (const std::string name : {"dir/name.", "name ", "sub/nul.txt", "back\\slash", "co:lon"}) {
    fs::remove_all(root_ / "src");
    Put("a.txt", "first, packed before the failure");
    Put(name, "x");
    lines_.clear();
    EXPECT_EQ(RunPackPosix(Src(), Out(), {}), 1) << name;
    EXPECT_EQ(lines_, (std::vector<Line>{{kReportError, "pack failed: unsafe path '" + name + "'"}}));
    EXPECT_FALSE(fs::exists(Out())) << name;
  }
}

TEST_F(PackPosixTest, NameThatIsNotUtf8StopsTheListing) {
  Put("ok.txt", "x");
  Put("bad\xFF.txt", "y");
  EXPECT_EQ(RunPackPosix(Src(), Out(), {}), 1);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0].text.rfind("pack: could not list " + Src() + ": ", 0), 0u) << lines_[0].text;
  EXPECT_FALSE(fs::exists(Out()));
}

TEST_F(PackPosixTest, MissingOrEmptySourceIsNotListed) {
  for (const std::string& src : {(root_ / "missing").string(), std::string()}) {
    lines_.clear();
    EXPECT_EQ(RunPackPosix(src, Out(), {}), 1);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].text, "pack: could not list " + src + ": No such file or directory");
    EXPECT_FALSE(fs::exists(Out()));
  }
}

TEST_F(PackPosixTest, ArchiveInMissingFolderCannotBeCreated) {
  Put("a.txt", "a");
  const std::string out = (root_ / "no" / "out.kvp").string();
  EXPECT_EQ(RunPackPosix(Src(), out, {}), 1);
  EXPECT_EQ(lines_, (std::vector<Line>{{kReportError, "pack: could not create " + out + ": 2"}}));
}

TEST_F(PackPosixTest, UnreadableFileFailsAndNothingRemains) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Put("a.txt", "a");
  Put("locked.bin", "locked");
  fs::permissions(root_ / "src" / "locked.bin", fs::perms::none);
  EXPECT_EQ(RunPackPosix(Src(), Out(), {}), 1);
  EXPECT_EQ(lines_, (std::vector<Line>{{kReportError, "pack failed: could not read " + Src() + "/locked.bin"}}));
  EXPECT_FALSE(fs::exists(Out()));
}

}  // namespace
}  // namespace kestrova::payload
