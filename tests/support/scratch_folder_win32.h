// Test support for the Windows tests of every folder: a fresh scratch folder for each test (below the temporary
// folder unless a base is given, so also directly under a drive root), removed afterwards by its own plain recursion
// rather than by any removal under test; whole files written, read and probed by long path; and a report sink that
// records what the code under test reports. Test code only.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/report.h"
#include "core/text.h"
#include "core/unique_handle_win32.h"

namespace kestrova::test {

inline void RemoveForCleanup(const WideString& longPath) {
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  SetFileAttributesW(longPath.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileW(longPath.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  FindHandle find(FindFirstFileW((longPath + L"\\*").c_str(), &found));
  if (find) {
    do {
      const WideString name = found.cFileName;
      if (name != L"." && name != L"..") RemoveForCleanup(longPath + L"\\" + name);
    } while (FindNextFileW(find.get(), &found));
  }
  RemoveDirectoryW(longPath.c_str());
}

inline bool Exists(const WideString& path) {
  return GetFileAttributesW((L"\\\\?\\" + path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsFolder(const WideString& path) {
  const DWORD attributes = GetFileAttributesW((L"\\\\?\\" + path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

inline void WriteTextFile(const WideString& path, const std::string& content = "content") {
  FileHandle file(CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file) << "cannot create " << WideToUtf8(path) << ": " << GetLastError();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
}

inline void MakeFolder(const WideString& path) {
  ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr))
      << "cannot create " << WideToUtf8(path) << ": " << GetLastError();
}

inline void MakeReadOnly(const WideString& path) {
  ASSERT_TRUE(SetFileAttributesW((L"\\\\?\\" + path).c_str(), FILE_ATTRIBUTE_READONLY));
}

// The long-path form of an absolute test path, "/" turned into "\\"; a path already in that form stays as it is.
inline WideString LongForm(WideString path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return L"\\\\?\\" + path;
}

// Writes `bytes` to the file, replacing an old one; false when that fails.
inline bool WriteBytes(const WideString& path, const std::string& bytes) {
  FileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

// The whole content of a file, or "<unreadable>" when it cannot be opened.
inline std::string ReadBytes(const WideString& path) {
  FileHandle file(CreateFileW(LongForm(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!file) return "<unreadable>";
  std::string bytes;
  std::vector<char> buffer(1 << 20);
  DWORD got = 0;
  while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) && got > 0) {
    bytes.append(buffer.data(), got);
  }
  return bytes;
}

// A fresh, empty folder named after the running test, removed with everything in it when the test ends.
class ScratchFolder {
 public:
  explicit ScratchFolder(const WideString& base = L"") {
    WideString parent = base;
    if (parent.empty()) {
      wchar_t temp[MAX_PATH + 1];
      const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
      parent.assign(temp, length);
    }
    if (!parent.empty() && parent.back() != L'\\') parent.push_back(L'\\');
    static unsigned counter = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = info != nullptr ? info->name() : "scratch";
    path_ = parent + L"kestrova-test-" + Utf8ToWide(name) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    RemoveForCleanup(L"\\\\?\\" + path_);
    created_ = CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
    EXPECT_TRUE(created_) << "cannot create the scratch folder " << WideToUtf8(path_) << ": " << GetLastError();
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() {
    RemoveForCleanup(L"\\\\?\\" + path_);
    EXPECT_FALSE(Exists(path_)) << "scratch folder left behind: " << WideToUtf8(path_);
  }

  const WideString& Path() const { return path_; }
  WideString operator/(const WideString& name) const { return path_ + L"\\" + name; }

 private:
  WideString path_;
  bool created_ = false;
};

// Records every report while it lives and puts the previous sink back afterwards.
class CapturedReports {
 public:
  CapturedReports() : previous_(InstallReportSink(&Record)) { Entries().clear(); }
  CapturedReports(const CapturedReports&) = delete;
  CapturedReports& operator=(const CapturedReports&) = delete;
  ~CapturedReports() { InstallReportSink(previous_); }

  static std::vector<std::pair<ReportLevel, std::string>>& Entries() {
    static std::vector<std::pair<ReportLevel, std::string>> entries;
    return entries;
  }

 private:
  static void Record(ReportLevel level, const char* text) { Entries().emplace_back(level, text); }
  ReportSink previous_;
};

}  // namespace kestrova::test
