// Test helper: points the log at a temporary file for the life of the object and returns the messages written,
// without time stamp and process id ("INFO  drivers: ..." keeps the level). Windows build only, header-only.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/unique_handle_win32.h"

namespace kestrova::test {

class LogCapture {
 public:
  LogCapture() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    path_ = std::wstring(temp) + L"kestrova-log-capture-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter) + L".log";
    SetLogFile(CreateFileW(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  ~LogCapture() {
    SetLogFile(INVALID_HANDLE_VALUE);
    DeleteFileW(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // "LEVEL message" per line: "INFO drivers: ...", "WARN ...", "ERROR ...".
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = ReadLog();
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      // 2024-05-01T08:15:30.042Z INFO  [5120] message
      const size_t levelAt = line.find(' ') + 1;
      const std::string level = line.substr(levelAt, line.find(' ', levelAt) - levelAt);
      lines.push_back(level + " " + line.substr(line.find("] ") + 2));
    }
    return lines;
  }

 private:
  // Read here rather than through another support header, so that this one goes with any of them.
  std::string ReadLog() const {
    std::string text;
    FileHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return text;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
  }

  std::wstring path_;
};

}  // namespace kestrova::test
