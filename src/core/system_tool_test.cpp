#include "core/system_tool.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova {
namespace {

using Lines = std::vector<std::string>;

TEST(SystemToolCommandLineTest, QuotesTheToolAndKeepsTheArgumentsUnchanged) {
  EXPECT_EQ(SystemToolCommandLine("C:\\Windows\\system32", "pnputil", "/add-driver \"C:\\a b\\x.inf\" /install"),
            "\"C:\\Windows\\system32\\pnputil.exe\" /add-driver \"C:\\a b\\x.inf\" /install");
  EXPECT_EQ(SystemToolCommandLine("C:\\Windows\\system32", "netsh", ""), "\"C:\\Windows\\system32\\netsh.exe\" ");
}

TEST(TrimBlanksAndQuotesTest, TrimsBothEndsOnly) {
  EXPECT_EQ(TrimBlanksAndQuotes(" \t\"1.0.5\"\r\n"), "1.0.5");
  EXPECT_EQ(TrimBlanksAndQuotes("a \" b"), "a \" b");
  EXPECT_EQ(TrimBlanksAndQuotes("\" \"\t\""), "");
  EXPECT_EQ(TrimBlanksAndQuotes(""), "");
}

struct LinesCase {
  const char* name;
  std::string output;
  Lines expected;
};

class ToolOutputLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(ToolOutputLinesTest, SplitsAtLineFeedsTrimsAndDropsEmptyPieces) {
  EXPECT_EQ(ToolOutputLines(GetParam().output), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolOutputLinesTest,
    ::testing::Values(
        LinesCase{"Empty", "", {}},
        LinesCase{"CrlfLineThenEmptyLine", "Driver package added.\r\n\r\n", {"Driver package added."}},
        LinesCase{"LastPieceWithoutLineFeed", "one\ntwo", {"one", "two"}},
        LinesCase{"QuotesAndBlanksOnly", "\" \"\r\n  \"\"\t\r\nreal\r\n", {"real"}},
        LinesCase{"InnerBlanksKept", "  Published Name:     oem7.inf  \r\n", {"Published Name:     oem7.inf"}},
        LinesCase{"BareCarriageReturnIsNotASeparator", "a\rb\n", {"a\rb"}},
        LinesCase{"BytesKeptAsWritten", std::string("caf\xe9\r\n\x00x\n", 9), {std::string("caf\xe9"), std::string("\x00x", 2)}},
        LinesCase{"OnlyLineFeeds", "\n\n\n", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToolOutputLinesTest, LongOutputKeepsEveryLine) {
  std::string output;
  for (int i = 0; i < 1000; ++i) output += "line " + std::to_string(i) + "\r\n";
  const Lines lines = ToolOutputLines(output);
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines.front(), "line 0");
  EXPECT_EQ(lines.back(), "line 999");
}

}  // namespace
}  // namespace kestrova
