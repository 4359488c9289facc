#include "appdirswap/holders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::appdirswap {
namespace {

struct ScriptedHolderFinder : IHolderFinder {
  bool answer = true;
  uint32_t error = 0;
  std::vector<HolderInfo> holders;
  std::vector<WideString> asked;

  bool FindHolders(const WideString& path, std::vector<HolderInfo>& out, uint32_t& out_error) override {
    asked.push_back(path);
    out = holders;
    out_error = error;
    return answer;
  }
};

std::vector<HolderInfo> Holders(uint32_t count) {
  std::vector<HolderInfo> holders;
  for (uint32_t pid = 1; pid <= count; ++pid) holders.push_back({pid, "corvella.exe", "CORP\\alice"});
  return holders;
}

// The count line, then a line for each of the first `shown` holders of Holders().
std::vector<std::string> Lines(const std::string& count_line, uint32_t shown) {
  std::vector<std::string> lines{count_line};
  for (uint32_t pid = 1; pid <= shown; ++pid) {
    lines.push_back("swap: PID " + std::to_string(pid) + " corvella.exe (CORP\\alice)");
  }
  return lines;
}

TEST(HolderLinesTest, CountLineThenAtMostTenHolders) {
  const std::string in = " hold files in C:\\Corvella.staging";
  const struct {
    const char* label;
    bool answer;
    std::vector<HolderInfo> holders;
    std::vector<std::string> lines;
  } rows[] = {
      {"asking failed", false, Holders(1), {"swap: could not ask who holds files in C:\\Corvella.staging: error 5"}},
      {"nobody", true, {}, {"swap: no process is listed as holding files in C:\\Corvella.staging"}},
      {"one", true, Holders(1), Lines("swap: 1 process(es)" + in, 1)},
      {"ten", true, Holders(10), Lines("swap: 10 process(es)" + in, 10)},
      {"eleven", true, Holders(11), Lines("swap: 11 process(es)" + in + "; the first 10 follow", 10)},
      {"user unreadable", true, {{7, "svchost.exe", ""}}, {"swap: 1 process(es)" + in, "swap: PID 7 svchost.exe"}},
      {"image unknown", true, {{8, "", "NT AUTHORITY\\SYSTEM"}},
       {"swap: 1 process(es)" + in, "swap: PID 8 (NT AUTHORITY\\SYSTEM)"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ScriptedHolderFinder finder;
    finder.answer = row.answer;
    finder.error = row.answer ? 0 : 5;
    finder.holders = row.holders;
    EXPECT_EQ(HolderLines("swap", L"\\\\?\\C:\\Corvella.staging", finder), row.lines);
    EXPECT_EQ(finder.asked, std::vector<WideString>{L"\\\\?\\C:\\Corvella.staging"});
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
