#include "securefs/create_rights.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

const std::string kUsers = "S-1-5-32-545";
const std::string kNamedUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
const std::string kNamelessUser = "S-1-5-21-0-0-0-1000";

std::string NameFromSystem(const std::string& sid) {
  if (sid == kNamedUser) return "HOST\\alice";
  if (sid == kUsers) return "VORDEFINIERT\\Benutzer";
  return {};
}

std::string Judge(const std::vector<AceRecord>& aces) {
  return JudgeCreateRights(SecuritySnapshot{kNamelessUser, false, aces}, "C:\\", NameFromSystem);
}

TEST(JudgeCreateRightsTest, OneEntryPerRow) {
  constexpr uint8_t kInheritBoth = kAceContainerInherit | kAceObjectInherit;
  const struct {
    uint8_t type;
    uint8_t flags;
    uint32_t mask;
    const char* sid;
    const char* expected;
  } rows[] = {
      {kAceAccessAllowed, 0, 0x1, "S-1-5-32-545", ""},
      {kAceAccessAllowed, 0, 0x2, "S-1-5-32-545", "BUILTIN\\Users may create files in C:\\"},
      {kAceAccessAllowed, 0, 0x4, "S-1-5-32-545", "BUILTIN\\Users may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x6, "S-1-5-32-545", "BUILTIN\\Users may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x8, "S-1-5-32-545", ""},
      {kAceAccessAllowed, 0, 0x001F01F9, "S-1-5-32-545", ""},
      {kAceAccessAllowed, 0, 0x40000000, "S-1-5-32-545", "BUILTIN\\Users may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x10000000, "S-1-5-32-545", "BUILTIN\\Users may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x80000000, "S-1-5-32-545", ""},
      {kAceAccessAllowed, 0, 0x20000000, "S-1-5-32-545", ""},
      {kAceAccessAllowed, kAceInheritOnly, 0x6, "S-1-5-32-545", ""},
      {kAceAccessAllowed, kInheritBoth | kAceInheritOnly, 0x6, "S-1-5-32-545", ""},
      {kAceAccessAllowed, kInheritBoth | kAceInherited, 0x2, "S-1-5-32-545", "BUILTIN\\Users may create files in C:\\"},
      {kAceAccessDenied, 0, 0x6, "S-1-5-32-545", ""},
      {kAceAccessAllowedCallback, 0, 0x6, "S-1-5-32-545", ""},
      {kAceAccessAllowed, 0, 0x6, "S-1-5-18", ""},
      {kAceAccessAllowed, 0, 0x6, "S-1-5-32-544", ""},
      {kAceAccessAllowed, 0, 0x6, "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", ""},
      {kAceAccessAllowed, 0, 0x10000000, "S-1-3-0", ""},
      {kAceAccessAllowed, 0, 0x6, "S-1-3-4", ""},
      {kAceAccessAllowed, 0, 0x6, "S-1-1-0", "Everyone may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x6, "S-1-5-21-1004336348-1177238915-682003330-1001",
       "HOST\\alice may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x001F01FF, "S-1-5-21-0-0-0-1000", "S-1-5-21-0-0-0-1000 may create folders in C:\\"},
      {kAceAccessAllowed, 0, 0x2, "", "an unread SID may create files in C:\\"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Judge({AceRecord{row.type, row.flags, row.mask, row.sid}}), row.expected)
        << row.sid << " type " << int(row.type) << " flags " << int(row.flags) << " mask " << std::hex << row.mask;
  }
}

TEST(JudgeCreateRightsTest, TheFirstEntryInEffectIsNamedAndADenyAboveItSubtractsNothing) {
  EXPECT_EQ(Judge({{kAceAccessDenied, 0, 0x6, "S-1-1-0"},
                   {kAceAccessAllowed, kAceInheritOnly, 0x6, kNamedUser},
                   {kAceAccessAllowed, 0, 0x2, "S-1-1-0"},
                   {kAceAccessAllowed, 0, 0x4, kUsers}}),
            "Everyone may create files in C:\\");
}

}  // namespace
}  // namespace kestrova::securefs
