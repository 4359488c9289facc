#include "cli/run_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/report.h"
#include "core/unique_handle_win32.h"

namespace kestrova {
namespace {

std::vector<std::string> g_reports;
void CaptureReport(ReportLevel, const char* text) { g_reports.push_back(text); }

class OpenLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
    folder_ = std::wstring(temp) + L"kestrova-log-test-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    previous_ = InstallReportSink(&CaptureReport);
    g_reports.clear();
  }
  void TearDown() override {
    InstallReportSink(previous_);
    for (const wchar_t* name : {L"\\a.log", L"\\b.log", L"\\target.log", L"\\link.log"}) {
      SetFileAttributesW((folder_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW((folder_ + name).c_str());
    }
    RemoveDirectoryW(folder_.c_str());
  }

  static void WriteText(const std::wstring& path, const std::string& text) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file);
    DWORD written;
    ASSERT_TRUE(WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  }

  static std::string ReadText(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) return "<missing>";
    char buffer[4096];
    DWORD got = 0;
    ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr);
    return std::string(buffer, got);
  }

  static void Append(HANDLE file, const std::string& text) {
    DWORD written;
    ASSERT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  }

  std::wstring folder_;
  ReportSink previous_ = nullptr;
};

TEST_F(OpenLogFileTest, AppendsToAnExistingFileAndNeverTruncates) {
  const std::wstring path = folder_ + L"\\a.log";
  WriteText(path, "old line\r\n");
  FileHandle log(OpenLogFile(path, nullptr));
  ASSERT_TRUE(log);
  Append(log.get(), "new line\r\n");
  EXPECT_EQ(ReadText(path), "old line\r\nnew line\r\n");
  EXPECT_TRUE(g_reports.empty());
}

TEST_F(OpenLogFileTest, TwoWritersBothLandAtTheEnd) {
  const std::wstring path = folder_ + L"\\a.log";
  FileHandle first(OpenLogFile(path, nullptr));
  FileHandle second(OpenLogFile(path, nullptr));
  ASSERT_TRUE(first);
  ASSERT_TRUE(second);
  Append(first.get(), "one\r\n");
  Append(second.get(), "two\r\n");
  Append(first.get(), "three\r\n");
  EXPECT_EQ(ReadText(path), "one\r\ntwo\r\nthree\r\n");
}

TEST_F(OpenLogFileTest, AFileWithASecondHardLinkIsReplacedAndTheOtherNameKeepsItsContent) {
  const std::wstring target = folder_ + L"\\target.log";
  const std::wstring link = folder_ + L"\\link.log";
  WriteText(target, "somebody else's file\r\n");
  ASSERT_TRUE(CreateHardLinkW(link.c_str(), target.c_str(), nullptr));
  FileHandle log(OpenLogFile(link, nullptr));
  ASSERT_TRUE(log);
  Append(log.get(), "ours\r\n");
  EXPECT_EQ(ReadText(target), "somebody else's file\r\n");
  EXPECT_EQ(ReadText(link), "ours\r\n");
  ASSERT_EQ(g_reports.size(), 1u);
  EXPECT_EQ(g_reports[0], WideToUtf8(link) + " is a link or a reparse point; replacing it");
}

TEST_F(OpenLogFileTest, AMissingFolderOrAnEmptyPathGivesNoHandle) {
  EXPECT_EQ(OpenLogFile(folder_ + L"\\no\\such\\x.log", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenLogFile(L"", nullptr), INVALID_HANDLE_VALUE);
}

TEST_F(OpenLogFileTest, ADescriptorStillOpensNewAndExistingFiles) {
  const std::wstring path = folder_ + L"\\b.log";
  const char* sddl = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";
  {
    FileHandle created(OpenLogFile(path, sddl));
    ASSERT_TRUE(created);
    Append(created.get(), "first\r\n");
  }
  FileHandle reopened(OpenLogFile(path, sddl));
  ASSERT_TRUE(reopened);
  Append(reopened.get(), "second\r\n");
  EXPECT_EQ(ReadText(path), "first\r\nsecond\r\n");
  // A descriptor that does not convert is dropped silently.
  FileHandle unparsed(OpenLogFile(path, "not sddl"));
  EXPECT_TRUE(unparsed);
}

}  // namespace
}  // namespace kestrova
