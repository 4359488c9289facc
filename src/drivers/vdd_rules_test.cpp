#include "drivers/vdd_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrova::drivers {
namespace {

using Files = std::vector<std::string>;

struct PickCase {
  const char* name;
  Files files;
  std::optional<std::string> expected;
  const char* folder = "D";
};

class PickVddInfTest : public ::testing::TestWithParam<PickCase> {};

TEST_P(PickVddInfTest, ChoosesTheNamedInfOrTheOnlyOne) {
  EXPECT_EQ(PickVddInf(GetParam().folder, GetParam().files), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PickVddInfTest,
    ::testing::Values(
        PickCase{"Empty", {}, std::nullopt},
        PickCase{"OnlyOtherFiles", {"D\\readme.txt", "D\\vdd.cat", "D\\vdd.sys"}, std::nullopt},
        PickCase{"TheOnlyInfWhateverItsName", {"D\\vdd.cat", "D\\x64\\driver.INF"}, std::string("D\\x64\\driver.INF")},
        PickCase{"NamedOneInASubfolderBeatsAnother",
                 {"D\\other.inf", "D\\sub\\CORVELLAVIRTUALDISPLAY.INF"},
                 std::string("D\\sub\\CORVELLAVIRTUALDISPLAY.INF")},
        PickCase{"TwoNamedOnesBelowTheTopLevel",
                 {"D\\a\\CorvellaVirtualDisplay.inf", "D\\b\\corvellavirtualdisplay.inf"}, std::nullopt},
        PickCase{"TheTopLevelBeatsASubfolderThatSortsFirst",
                 {"D\\a\\CorvellaVirtualDisplay.inf", "D\\CorvellaVirtualDisplay.inf"},
                 std::string("D\\CorvellaVirtualDisplay.inf")},
        PickCase{"TheTopLevelOfAFolderGivenWithItsSeparator",
                 {"D\\a\\CorvellaVirtualDisplay.inf", "D\\b\\x.inf", "D\\CorvellaVirtualDisplay.inf"},
                 std::string("D\\CorvellaVirtualDisplay.inf"), "D\\"},
        PickCase{"ANamedOneInAFolderBesideTheTopLevelIsBelowIt",
                 {"DD\\CorvellaVirtualDisplay.inf", "D\\x\\CorvellaVirtualDisplay.inf"}, std::nullopt},
        PickCase{"TwoOthersAndNoNamedOne", {"D\\a.inf", "D\\b.inf"}, std::nullopt},
        PickCase{"NameMustMatchWhole", {"D\\MyCorvellaVirtualDisplay.inf", "D\\x.inf"}, std::nullopt},
        PickCase{"ExtensionMustBeInf", {"D\\CorvellaVirtualDisplay.inf.bak", "D\\CorvellaVirtualDisplay.pnf"}, std::nullopt},
        PickCase{"ForwardSlashesSeparateToo", {"D/x/CorvellaVirtualDisplay.inf", "D/y.inf"},
                 std::string("D/x/CorvellaVirtualDisplay.inf")},
        PickCase{"NonAsciiFolder", {"C:\\Trei\xc3\x9f" "er\\\xe6\x98\xbe\xe7\xa4\xba.inf"},
                 std::string("C:\\Trei\xc3\x9f" "er\\\xe6\x98\xbe\xe7\xa4\xba.inf"), "C:\\Trei\xc3\x9f" "er"}),
    [](const auto& info) { return std::string(info.param.name); });

// The folding every INF name and hardware id rule goes through: A-Z only; the bytes beside A-Z and a-z stay.
TEST(AsciiLowerTest, FoldsAToZOnly) { EXPECT_EQ(AsciiLower("@AZ[`az{\xc3\x9f"), "@az[`az{\xc3\x9f"); }

TEST(HardwareIdsContainTest, MatchesAnyEntryWithoutAsciiCase) {
  const std::vector<std::string> ids = {"ROOT\\CorvellaVirtualDisplay", "Corvella_VDD", "ROOT\\ZORVELLA"};
  EXPECT_TRUE(HardwareIdsContain(ids, "root\\corvellavirtualdisplay"));
  EXPECT_TRUE(HardwareIdsContain(ids, "CORVELLA_VDD"));
  EXPECT_TRUE(HardwareIdsContain(ids, "root\\zorvella"));
  EXPECT_FALSE(HardwareIdsContain(ids, "Root\\CorvellaVirtualDisplay2"));
  EXPECT_FALSE(HardwareIdsContain(ids, "Root\\Corvella"));
  EXPECT_FALSE(HardwareIdsContain({}, "Root\\CorvellaVirtualDisplay"));
}

TEST(HardwareIdsContainTest, TheEmptyIdMatchesNothing) {
  EXPECT_FALSE(HardwareIdsContain({"Root\\CorvellaVirtualDisplay"}, ""));
  EXPECT_FALSE(HardwareIdsContain({""}, ""));
}

TEST(IsPublishedInfNameTest, OemPrefixAndInfExtension) {
  for (const char* yes : {"oem0.inf", "oem12.inf", "OEM3.INF", "Oem44.Inf", "oem9.inf", "oem0123456789.inf"}) {
    EXPECT_TRUE(IsPublishedInfName(yes)) << yes;
  }
  // Anything but digits between "oem" and ".inf" could carry arguments into pnputil's command line.
  for (const char* no : {"oem1.pnf", "oem1.inf_loc", "xoem1.inf", "machine.inf", "oem1", "oem", "", "oem.inf",
                         "oem1 /force.inf", "oem1\" x.inf", "oem/.inf", "oem:.inf", "oema.inf", "oem1a.inf"})
    EXPECT_FALSE(IsPublishedInfName(no)) << no;
}

std::string Utf16Le(const std::string& ascii) {
  std::string out;
  for (const char c : ascii) out += {c, '\0'};
  return out;
}

TEST(MentionsVddInfTest, FindsTheNameAsBytesOrUtf16InAnyCase) {
  EXPECT_TRUE(MentionsVddInf("[Version]\r\n; original name CorvellaVirtualDisplay.inf\r\n"));
  EXPECT_TRUE(MentionsVddInf("x=CORVELLAVIRTUALDISPLAY.INF"));
  EXPECT_TRUE(MentionsVddInf("\xff\xfe" + Utf16Le("[Version]\r\nCatalogFile=x\r\n; CorvellaVirtualDisplay.INF\r\n")));
  EXPECT_FALSE(MentionsVddInf("CorvellaVirtualDisplay.sys and corvellavirtualdisplay .inf"));
  EXPECT_FALSE(MentionsVddInf(Utf16Le("CorvellaVirtualDisplay") + "." + Utf16Le("inf")));
  EXPECT_FALSE(MentionsVddInf(""));
}

}  // namespace
}  // namespace kestrova::drivers
