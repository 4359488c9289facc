// The process-wide report sink: how layers below the command handlers (the secure file system, the log-file
// opener) tell the log about a problem without depending on it. The entry point installs the sink once;
// until then, and in the host tests that install none, reports go nowhere.
#pragma once

#include <cstdarg>
#include <string>

namespace kestrova {

// 0 information, 1 warning, 2 error; the numbers are fixed.
using ReportLevel = unsigned;
constexpr ReportLevel kReportInfo = 0;
constexpr ReportLevel kReportWarning = 1;
constexpr ReportLevel kReportError = 2;

using ReportSink = void (*)(ReportLevel level, const char* text);

// Publishes the sink with an atomic exchange; returns the previous one (tests restore it).
ReportSink InstallReportSink(ReportSink sink);

// Formats printf-style into 2048 bytes (a longer message is cut at 2047) and hands the text to the sink.
// Does nothing when no sink is installed.
void Report(ReportLevel level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Bounded printf into a buffer of `capacity` bytes: always terminated, cut at capacity - 1 bytes.
// Returns the number of bytes stored (never the would-be length).
size_t FormatBounded(char* buffer, size_t capacity, const char* format, va_list args);

}  // namespace kestrova
