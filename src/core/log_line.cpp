#include "core/log_line.h"

#include <cstdio>

#include "core/report.h"

namespace kestrova {

size_t FormatLogMessage(char* message, const char* format, va_list args) {
  return FormatBounded(message, kLogMessageCapacity, format, args);
}

size_t FormatLogLine(char* line, const LogTime& t, const char* level, unsigned long pid, const char* message) {
  const int n = std::snprintf(line, kLogLineCapacity, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ %-5s [%lu] %s\r\n", t.year,
                              t.month, t.day, t.hour, t.minute, t.second, t.milliseconds, level, pid, message);
  if (n < 1) return 0;
  return static_cast<size_t>(n) < kLogLineCapacity - 1 ? static_cast<size_t>(n) : kLogLineCapacity - 1;
}

}  // namespace kestrova
