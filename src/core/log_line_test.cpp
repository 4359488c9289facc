#include "core/log_line.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova {
namespace {

std::string Message(const char* format, ...) {
  char buffer[kLogMessageCapacity];
  va_list args;
  va_start(args, format);
  const size_t n = FormatLogMessage(buffer, format, args);
  va_end(args);
  EXPECT_EQ(n, std::string(buffer).size());
  return buffer;
}

std::string Line(const LogTime& time, const char* level, unsigned long pid, const std::string& message) {
  char line[kLogLineCapacity];
  const size_t n = FormatLogLine(line, time, level, pid, message.c_str());
  return std::string(line, n);
}

TEST(LogLineTest, PadsTheLevelAndEndsInCrLf) {
  const LogTime t{2024, 5, 1, 8, 15, 30, 42};
  EXPECT_EQ(Line(t, "INFO", 5120, "hello"), "2024-05-01T08:15:30.042Z INFO  [5120] hello\r\n");
  EXPECT_EQ(Line(t, "WARN", 1, "w"), "2024-05-01T08:15:30.042Z WARN  [1] w\r\n");
  EXPECT_EQ(Line(t, "ERROR", 4294967295ul, ""), "2024-05-01T08:15:30.042Z ERROR [4294967295] \r\n");
}

TEST(LogLineTest, ZeroPadsEveryTimeField) {
  const LogTime t{987, 1, 2, 3, 4, 5, 6};
  EXPECT_EQ(Line(t, "INFO", 7, "x"), "0987-01-02T03:04:05.006Z INFO  [7] x\r\n");
}

TEST(LogLineTest, CutsLongMessagesAt2047BytesAndKeepsTheLineWhole) {
  const std::string long_text(3000, 'm');
  const std::string cut = Message("%s", long_text.c_str());
  EXPECT_EQ(cut, std::string(2047, 'm'));
  const std::string line = Line(LogTime{2026, 12, 31, 23, 59, 59, 999}, "ERROR", 123456, cut);
  EXPECT_EQ(line.substr(0, 38), "2026-12-31T23:59:59.999Z ERROR [123456");
  EXPECT_EQ(line.size(), 40u + 2047u + 2u);
  EXPECT_EQ(line.substr(line.size() - 3), "m\r\n");
}

TEST(LogLineTest, NeverWritesMoreThan2199Bytes) {
  // A message that did not come through the 2047-byte cut still cannot overflow the line.
  const std::string huge(5000, 'x');
  const std::string line = Line(LogTime{2026, 1, 1, 0, 0, 0, 0}, "INFO", 1, huge);
  EXPECT_EQ(line.size(), 2199u);
}

TEST(LogLineTest, FormatsPrintfArguments) {
  EXPECT_EQ(Message("%s exit %d", "rollback", 2), "rollback exit 2");
  EXPECT_EQ(Message("%lu%%", 5ul), "5%");
}

}  // namespace
}  // namespace kestrova
