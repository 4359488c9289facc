// For the Windows tests of the pack, extract and verify commands: the log lines a command wrote (captured through the
// log file, as a run would write them), whole-file reads and writes by long path, and archives built in memory.
// Test code only; folders and whole-file reads and writes come from support/scratch_folder_win32.h.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "core/log.h"
#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "payload/archive_test_support.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::payload::test {

using kestrova::test::Exists;
using kestrova::test::ReadBytes;
using kestrova::test::ScratchFolder;
using kestrova::test::WriteBytes;

struct LogRow {
  std::string level;  // "INFO", "WARN" or "ERROR"
  std::string message;
  bool operator==(const LogRow&) const = default;
};

inline void PrintTo(const LogRow& row, std::ostream* out) { *out << row.level << " " << row.message; }

inline WideString Long(const WideString& path) { return L"\\\\?\\" + path; }

inline bool WriteBytes(const WideString& path, const Bytes& bytes) {
  return WriteBytes(path, std::string(bytes.begin(), bytes.end()));
}

// The whole content of an archive file as bytes.
inline Bytes ReadArchiveFile(const WideString& path) {
  const std::string bytes = ReadBytes(path);
  return Bytes(bytes.begin(), bytes.end());
}

inline void MakeFolders(const WideString& path) {
  const size_t last = path.find_last_of(L'\\');
  if (last != WideString::npos && !Exists(path.substr(0, last))) MakeFolders(path.substr(0, last));
  CreateDirectoryW(Long(path).c_str(), nullptr);
}

// Writes `bytes` to `folder`\`relative` ("/"-separated, UTF-8), creating the folders on the way.
inline void PutFile(const WideString& folder, const std::string& relative, const std::string& bytes) {
  WideString path = folder + L"\\" + Utf8ToWide(relative);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  MakeFolders(path.substr(0, path.find_last_of(L'\\')));
  ASSERT_TRUE(WriteBytes(path, bytes)) << relative << ": " << GetLastError();
}

inline std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
inline Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// Sends the log lines of its lifetime to a file of its own as well as to stdout, and hands them back parsed.
class CapturedLog {
 public:
  CapturedLog() {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    static unsigned counter = 0;
    path_ = WideString(temp) + L"kestrova-payload-log-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L".log";
    SetLogFile(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(HasLogFile());
  }
  ~CapturedLog() {
    CloseLogFile();
    DeleteFileW(path_.c_str());
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // Every line so far as level and message.
  std::vector<LogRow> Rows() const {
    const std::string text = ReadBytes(path_);
    std::vector<LogRow> rows;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      start = end + 2;
      const size_t levelStart = line.find("Z ");
      const size_t bracket = line.find(" [");
      const size_t messageStart = line.find("] ");
      if (levelStart == std::string::npos || bracket == std::string::npos || messageStart == std::string::npos) {
        rows.push_back({"?", line});
        continue;
      }
      std::string level = line.substr(levelStart + 2, bracket - levelStart - 2);
      while (!level.empty() && level.back() == ' ') level.pop_back();
      rows.push_back({level, line.substr(messageStart + 2)});
    }
    return rows;
  }

 private:
  WideString path_;
};

// Whether `text` begins with `prefix`; the elapsed time at the end of the summary lines varies.
inline bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace kestrova::payload::test
