#include "core/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova {
namespace {

std::vector<std::pair<ReportLevel, std::string>> g_seen;
void Capture(ReportLevel level, const char* text) { g_seen.emplace_back(level, text); }

TEST(ReportTest, WithoutASinkNothingHappens) {
  const ReportSink old = InstallReportSink(nullptr);
  g_seen.clear();
  Report(kReportError, "lost %d", 1);
  EXPECT_TRUE(g_seen.empty());
  InstallReportSink(old);
}

TEST(ReportTest, HandsTheFormattedTextCutAt2047BytesToTheSink) {
  const ReportSink old = InstallReportSink(&Capture);
  g_seen.clear();
  Report(kReportWarning, "%s is a link", "C:\\x");
  const std::string big(4000, 'q');
  Report(kReportInfo, "%s", big.c_str());
  InstallReportSink(old);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0], std::make_pair(kReportWarning, std::string("C:\\x is a link")));
  EXPECT_EQ(g_seen[1].second, std::string(2047, 'q'));
}

}  // namespace
}  // namespace kestrova
