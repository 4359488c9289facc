#include "machine/excluded_ports.h"

#include <gtest/gtest.h>

namespace kestrova::machine {
namespace {

using List = std::vector<PortExclusion>;

// The table as Windows prints it, CR LF line ends, right-aligned columns, the footnote.
constexpr const char* kTypicalTable =
    "\r\n"
    "Protocol tcp Port Exclusion Ranges\r\n"
    "\r\n"
    "Start Port    End Port\r\n"
    "----------    --------\r\n"
    "      5357        5357\r\n"
    "     50000       50059     *\r\n"
    "     50990       50999     *\r\n"
    "\r\n"
    "* - Administered port exclusions.\r\n"
    "\r\n";

TEST(ParseExcludedPortRangesTest, ReadsTheRangeLinesOfATypicalTableInOrder) {
  EXPECT_EQ(ParseExcludedPortRanges(kTypicalTable),
            (List{{5357, 5357, false}, {50000, 50059, true}, {50990, 50999, true}}));
}

TEST(ParseExcludedPortRangesTest, EmptyOutputAndATableWithoutRangesGiveNothing) {
  EXPECT_TRUE(ParseExcludedPortRanges("").empty());
  EXPECT_TRUE(ParseExcludedPortRanges("\r\n\r\n").empty());
  EXPECT_TRUE(ParseExcludedPortRanges("Start Port    End Port\r\n----------    --------\r\n").empty());
}

struct LineCase {
  const char* line;
  bool parsed;
  PortExclusion expected;
};

TEST(ParseExcludedPortRangesTest, AcceptsOrIgnoresEachLineByItsTokens) {
  const LineCase cases[] = {
      {"1 2", true, {1, 2, false}},
      {"\t0\t65535\t*\r", true, {0, 65535, true}},
      {"00080 00080", true, {80, 80, false}},  // five digits with leading zeros
      {"7 7 *", true, {7, 7, true}},
      {"50999 50990", false, {}},  // second below the first
      {"65535 65536", false, {}},  // above 65535
      {"000001 2", false, {}},     // six digits, whatever their value
      {"1 2 3", false, {}},        // third token not the mark
      {"1 2 **", false, {}},
      {"1 2 * extra", false, {}},  // four tokens
      {"1", false, {}},
      {"* 1 2", false, {}},
      {"-1 2", false, {}},
      {"+1 2", false, {}},
      {"0x10 20", false, {}},
      {"1 2*", false, {}},  // the mark must stand alone
      {"----------    --------", false, {}},
      {"1\xC2\xA0"
       "2",
       false,
       {}},  // a no-break space does not separate tokens
  };
  for (const LineCase& c : cases) {
    const List parsed = ParseExcludedPortRanges(c.line);
    if (c.parsed) {
      EXPECT_EQ(parsed, List{c.expected}) << c.line;
    } else {
      EXPECT_TRUE(parsed.empty()) << c.line;
    }
  }
}

TEST(ParseExcludedPortRangesTest, ALastLineWithoutLineFeedAndBareLineFeedsCount) {
  EXPECT_EQ(ParseExcludedPortRanges("1 2\n3 4 *"), (List{{1, 2, false}, {3, 4, true}}));
  // A carriage return alone does not end a line: "1 2\r3 4" is four tokens.
  EXPECT_TRUE(ParseExcludedPortRanges("1 2\r3 4").empty());
}

struct ClassifyCase {
  const char* name;
  List table;
  PortRangeState expected;
};

TEST(ClassifyPortRangeTest, DecidesEachStateByThePortsCovered) {
  const ClassifyCase cases[] = {
      {"empty table", {}, PortRangeState::Free},
      {"administered below the range", {{50000, 50989, true}}, PortRangeState::Free},
      {"dynamic above the range", {{51000, 51099, false}}, PortRangeState::Free},
      {"exact administered", {{50990, 50999, true}}, PortRangeState::AllAdministered},
      {"wider administered", {{50000, 51000, true}}, PortRangeState::AllAdministered},
      {"two administered pieces", {{50990, 50994, true}, {50995, 50999, true}}, PortRangeState::AllAdministered},
      {"administered over dynamic", {{50990, 50999, false}, {50990, 50999, true}}, PortRangeState::AllAdministered},
      {"administered first port only", {{50980, 50990, true}}, PortRangeState::PartlyAdministered},
      {"administered last port only", {{50999, 50999, true}}, PortRangeState::PartlyAdministered},
      {"administered part, dynamic rest",
       {{50990, 50994, true}, {50995, 50999, false}},
       PortRangeState::PartlyAdministered},
      {"two dynamic lines meeting inside", {{50900, 50994, false}, {50995, 51094, false}}, PortRangeState::AllDynamic},
      {"one dynamic line over all", {{49152, 65535, false}}, PortRangeState::AllDynamic},
      {"dynamic with a gap", {{50900, 50994, false}, {50996, 51094, false}}, PortRangeState::PartlyDynamic},
      {"dynamic last port only", {{50999, 51100, false}}, PortRangeState::PartlyDynamic},
      {"dynamic first port only", {{50000, 50990, false}}, PortRangeState::PartlyDynamic},
  };
  for (const ClassifyCase& c : cases) EXPECT_EQ(ClassifyPortRange(c.table), c.expected) << c.name;
}

TEST(DescribeExclusionsTouchingRangeTest, NamesOverlappingExclusionsOnly) {
  EXPECT_EQ(DescribeExclusionsTouchingRange({}), "none");
  EXPECT_EQ(DescribeExclusionsTouchingRange({{50000, 50989, true}, {51000, 51000, false}}), "none");
  EXPECT_EQ(DescribeExclusionsTouchingRange(
                {{5357, 5357, false}, {50900, 50990, false}, {50999, 51100, true}, {50000, 50989, true}}),
            "50900-50990, 50999-51100*");
}

TEST(HasExactAdministeredExclusionTest, WantsExactlyTheAddedRangeWithTheMark) {
  EXPECT_TRUE(HasExactAdministeredExclusion({{1, 2, false}, {50990, 50999, true}}));
  EXPECT_FALSE(HasExactAdministeredExclusion({{50990, 50999, false}}));
  EXPECT_FALSE(HasExactAdministeredExclusion({{50990, 51000, true}}));
  EXPECT_FALSE(HasExactAdministeredExclusion({{50990, 50994, true}, {50995, 50999, true}}));
}

TEST(PortExclusionChangeArgumentsTest, SpellsTheNetshArguments) {
  EXPECT_EQ(PortExclusionChangeArguments("add"),
            "int ipv4 add excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent");
  EXPECT_EQ(PortExclusionChangeArguments("delete"),
            "int ipv4 delete excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent");
}

}  // namespace
}  // namespace kestrova::machine
