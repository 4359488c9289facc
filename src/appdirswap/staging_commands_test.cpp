#include "appdirswap/staging_commands.h"

#include <gtest/gtest.h>

#include <string>

#include "appdirswap/layout.h"

namespace kestrova::appdirswap {
namespace {

TEST(IsCommitVersionTest, ThreeOrFourDigitGroupsAndNothingElse) {
  const struct {
    std::string text;
    bool version;
  } rows[] = {
      {"1.2.3", true},
      {"1.2.3.4", true},
      {"0.0.0", true},
      {"10.20.300.4000", true},
      {"1234567890.1.1", true},  // committed, though its marker later reads as no version
      {"", false},
      {"1", false},
      {"1.2", false},
      {"1.2.3.4.5", false},
      {"1..3", false},
      {"1.2.3.", false},
      {".1.2.3", false},
      {"v1.2.3", false},
      {"1.2.3 ", false},
      {" 1.2.3", false},
      {"1.2. 3", false},
      {"+1.2.3", false},
      {"-1.2.3", false},
      {"1.2.3a", false},
      {"1,2,3", false},
      {"1.2.3\n", false},
      {std::string("1.2\0.3", 6), false},
      {"\xd9\xa1.2.3", false},  // an Arabic-Indic digit is not an ASCII digit
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsCommitVersion(row.text), row.version) << "'" << row.text << "'";
  }
}

TEST(IsCommitVersionTest, ALongGroupIsCommittedButReadsBackAsNoVersion) {
  WideString version;
  EXPECT_TRUE(IsCommitVersion("1.2.1234567890"));
  EXPECT_FALSE(ParseVersionMarker("1.2.1234567890", version));
  EXPECT_TRUE(IsCommitVersion("1.2.3"));
  EXPECT_TRUE(ParseVersionMarker("1.2.3", version));
  EXPECT_EQ(version, L"1.2.3");
}

}  // namespace
}  // namespace kestrova::appdirswap
