#include "drivers/driver_version.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrova::drivers {
namespace {

struct ParseCase {
  std::string text;
  std::optional<DriverVersion> expected;
};

class ParseDriverVersionTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseDriverVersionTest, ParsesOrRefuses) {
  EXPECT_EQ(ParseDriverVersion(GetParam().text), GetParam().expected) << "'" << GetParam().text << "'";
}

constexpr uint64_t k18Nines = 999999999999999999ull;

INSTANTIATE_TEST_SUITE_P(
    Table, ParseDriverVersionTest,
    ::testing::Values(ParseCase{"1.0.5.0", DriverVersion{1, 0, 5, 0}}, ParseCase{"1.0.5", DriverVersion{1, 0, 5, 0}},
                      ParseCase{"7", DriverVersion{7, 0, 0, 0}}, ParseCase{"01.002", DriverVersion{1, 2, 0, 0}},
                      ParseCase{"999999999999999999.0.0.1", DriverVersion{k18Nines, 0, 0, 1}},
                      ParseCase{"1234567890123456789", std::nullopt},  // 19 digits
                      ParseCase{"1.2.3.4.5", std::nullopt}, ParseCase{"", std::nullopt},
                      ParseCase{".", std::nullopt}, ParseCase{"1..2", std::nullopt}, ParseCase{"1.2.", std::nullopt},
                      ParseCase{".1", std::nullopt}, ParseCase{"1.0.5-beta", std::nullopt},
                      ParseCase{" 1.0", std::nullopt}, ParseCase{"+1.0", std::nullopt},
                      ParseCase{"1,0", std::nullopt}, ParseCase{std::string("1\0", 2), std::nullopt}));

TEST(SameDriverVersionTest, ComparesParsedVersionsAsNumbers) {
  EXPECT_TRUE(SameDriverVersion("1.0.5.0", "1.0.5"));
  EXPECT_TRUE(SameDriverVersion("1.2", "1.2.0.0"));
  EXPECT_TRUE(SameDriverVersion("01.2", "1.2"));
  EXPECT_TRUE(SameDriverVersion("10.0.22621.1", "10.0.22621.0001"));
  EXPECT_FALSE(SameDriverVersion("1.0.5.1", "1.0.5"));
  EXPECT_FALSE(SameDriverVersion("1.0.50", "1.0.5"));
  EXPECT_FALSE(SameDriverVersion("2.0", "1.0"));
}

TEST(SameDriverVersionTest, TextsThatDoNotParseMatchOnlyThemselves) {
  EXPECT_TRUE(SameDriverVersion("1.0.5-beta", "1.0.5-beta"));
  EXPECT_FALSE(SameDriverVersion("1.0.5-beta", "1.0.5"));
  EXPECT_FALSE(SameDriverVersion("1.0.5-Beta", "1.0.5-beta"));
  EXPECT_FALSE(SameDriverVersion("", "1.0"));
  EXPECT_TRUE(SameDriverVersion("", ""));
  EXPECT_FALSE(SameDriverVersion("1.0.0.0.0", "1.0"));
}

}  // namespace
}  // namespace kestrova::drivers
