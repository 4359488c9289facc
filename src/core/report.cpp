#include "core/report.h"

#include <atomic>
#include <cstdio>
#include <cstring>

namespace kestrova {
namespace {
std::atomic<ReportSink> g_sink{nullptr};
}

ReportSink InstallReportSink(ReportSink sink) { return g_sink.exchange(sink); }

size_t FormatBounded(char* buffer, size_t capacity, const char* format, va_list args) {
  if (capacity == 0) return 0;
  const int wanted = std::vsnprintf(buffer, capacity, format, args);
  if (wanted < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(wanted) < capacity ? static_cast<size_t>(wanted) : capacity - 1;
}

void Report(ReportLevel level, const char* format, ...) {
  const ReportSink sink = g_sink.load(std::memory_order_acquire);
  if (sink == nullptr) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  FormatBounded(text, sizeof text, format, args);
  va_end(args);
  sink(level, text);
}

}  // namespace kestrova
