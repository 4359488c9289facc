// Test support for every build: while a ReportLines lives, what the code under test reports through Report is kept
// as "INFO text", "WARN text" or "ERROR text" lines, and the previous sink is put back when it ends. Test code only.
#pragma once

#include <string>
#include <vector>

#include "core/report.h"

namespace kestrova::test {

class ReportLines {
 public:
  ReportLines() : previous_(InstallReportSink(&Record)) { Lines().clear(); }
  ~ReportLines() { InstallReportSink(previous_); }
  ReportLines(const ReportLines&) = delete;
  ReportLines& operator=(const ReportLines&) = delete;

  // The lines so far, oldest first.
  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }

 private:
  static void Record(ReportLevel level, const char* text) {
    static const char* const kLevels[] = {"INFO", "WARN", "ERROR"};
    Lines().push_back(std::string(level < 3 ? kLevels[level] : "?") + " " + text);
  }
  ReportSink previous_;
};

}  // namespace kestrova::test
