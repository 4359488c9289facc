// The text of one log line: UTC time stamp with milliseconds, the level padded to five columns, the process id
// and the message, ending in CRLF. Formatting only; where the line goes (standard output, the log file) is the
// log writer's business.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace kestrova {

struct LogTime {
  unsigned year, month, day, hour, minute, second, milliseconds;
};

constexpr size_t kLogMessageCapacity = 2048;  // 2047 bytes of message and the terminator
constexpr size_t kLogLineCapacity = 2200;

// Formats the caller's message, cut at 2047 bytes, into `message` (kLogMessageCapacity bytes).
size_t FormatLogMessage(char* message, const char* format, va_list args);

// Formats the whole line into `line` (kLogLineCapacity bytes); returns the number of bytes to write (at most
// 2199), or 0 when nothing should be written.
size_t FormatLogLine(char* line, const LogTime& time, const char* level, unsigned long pid, const char* message);

}  // namespace kestrova
