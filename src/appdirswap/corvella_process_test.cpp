#include "appdirswap/corvella_process.h"

#include <gtest/gtest.h>

namespace kestrova::appdirswap {
namespace {

TEST(IsCorvellaProcessNameTest, EveryRuleOfTheName) {
  const struct {
    const char* name;
    bool product;
  } rows[] = {
      // The plain name, in any letter case of its fixed parts.
      {"corvella.exe", true},
      {"CORVELLA.EXE", true},
      {"Corvella.Exe", true},
      // It must end in .exe.
      {"corvella", false},
      {"corvella.ex", false},
      {"corvella.exe.bak", false},
      {"corvella.com", false},
      {"", false},
      {".exe", false},
      // The stem begins with the product's name and goes on only with a hyphen.
      {"corvel.exe", false},
      {"corvellax.exe", false},
      {"xcorvella.exe", false},
      {"corvella .exe", false},
      {"corvella_v2.exe", false},
      {"corvella.exe.exe", false},
      {"dovrecat.exe", false},
      // Hyphen, then v or V and a digit, then anything.
      {"corvella-v2.exe", true},
      {"Corvella-V10.exe", true},
      {"corvella-v2.5.1-beta.exe", true},
      {"corvella-v0x.exe", true},
      {"corvella-v.exe", false},
      {"corvella-vx2.exe", false},
      {"corvella-2.exe", false},
      {"corvella-.exe", false},
      // Or a word of letters and digits, a second hyphen, then v and a digit.
      {"corvella-beta-v3.exe", true},
      {"corvella-Preview2-V1.exe", true},
      {"corvella-x-v9zz.exe", true},
      {"corvella-beta-3.exe", false},
      {"corvella-beta-v.exe", false},
      {"corvella-beta-.exe", false},
      {"corvella-beta.exe", false},
      {"corvella--v1.exe", false},
      {"corvella-be_ta-v1.exe", false},
      {"corvella-be.ta-v1.exe", false},
      {"corvella-x-y-v1.exe", false},
      {"corvella-caf\xc3\xa9-v1.exe", false},
      {"corvella-ab cd-v1.exe", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IsCorvellaProcessName(row.name), row.product) << "'" << row.name << "'";
  }
}

}  // namespace
}  // namespace kestrova::appdirswap
