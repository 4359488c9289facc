#include "securefs/trust_judgement.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

const std::string kSystem(kSidLocalSystem);
const std::string kAdmins(kSidAdministrators);
const std::string kInstaller(kSidTrustedInstaller);
const std::string kUsers = "S-1-5-32-545";
const std::string kAuthenticatedUsers = "S-1-5-11";
const std::string kEveryone = "S-1-1-0";
const std::string kStandardUser = "S-1-5-21-1004336348-1177238915-682003330-1001";
const std::string kWineUser = "S-1-5-21-0-0-0-1000";

constexpr uint32_t kFullControl = 0x001F01FF;
constexpr uint32_t kModify = 0x001301BF;
constexpr uint32_t kReadExecute = 0x001200A9;
constexpr uint32_t kAddFileAndSubfolder = 0x00000006;

AceRecord Allow(const std::string& sid, uint32_t mask, uint8_t flags = 0) {
  return AceRecord{kAceAccessAllowed, flags, mask, sid};
}
AceRecord Deny(const std::string& sid, uint32_t mask, uint8_t flags = 0) {
  return AceRecord{kAceAccessDenied, flags, mask, sid};
}

// The DACL Windows gives a folder below Program Files: admin-only.
SecuritySnapshot ProgramFilesLike() {
  return SecuritySnapshot{kInstaller,
                          false,
                          {Allow(kInstaller, kFullControl, kAceContainerInherit),
                           Allow(kSystem, kFullControl, kAceContainerInherit | kAceObjectInherit),
                           Allow(kAdmins, kFullControl, kAceContainerInherit | kAceObjectInherit),
                           Allow(kUsers, kReadExecute, kAceContainerInherit | kAceObjectInherit),
                           Allow("S-1-3-0", 0x10000000, kAceContainerInherit | kAceObjectInherit | kAceInheritOnly)}};
}

TEST(JudgeSnapshotTest, EachTrustedOwnerWithASafeDaclPasses) {
  for (const std::string& owner : {kSystem, kAdmins, kInstaller}) {
    SecuritySnapshot snapshot = ProgramFilesLike();
    snapshot.owner = owner;
    EXPECT_EQ(JudgeSnapshot(snapshot, true), "") << owner;
  }
}

TEST(JudgeSnapshotTest, AnyOtherOwnerFailsWhateverTheDaclSays) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.owner = kStandardUser;
  EXPECT_EQ(JudgeSnapshot(snapshot, true),
            "owner " + kStandardUser + " is not SYSTEM, Administrators or TrustedInstaller");
  snapshot.owner = kWineUser;
  snapshot.noDacl = true;
  EXPECT_EQ(JudgeSnapshot(snapshot, false),
            "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller");
}

TEST(JudgeSnapshotTest, EmptyOwnerIsUnknown) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.owner.clear();
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "owner unknown is not SYSTEM, Administrators or TrustedInstaller");
}

TEST(JudgeSnapshotTest, OwnerIsComparedExactlyAndCaseSensitively) {
  for (const std::string owner : {"s-1-5-18", "S-1-5-18 ", "S-1-5-32-5440", "S-1-5-32", " S-1-5-32-544"}) {
    SecuritySnapshot snapshot = ProgramFilesLike();
    snapshot.owner = owner;
    EXPECT_EQ(JudgeSnapshot(snapshot, true), "owner " + owner + " is not SYSTEM, Administrators or TrustedInstaller");
  }
}

TEST(JudgeSnapshotTest, NullDaclGivesEveryoneFullControl) {
  const SecuritySnapshot snapshot{kAdmins, true, {}};
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "no DACL: everyone has full control");
  EXPECT_EQ(JudgeSnapshot(snapshot, false), "no DACL: everyone has full control");
}

TEST(JudgeSnapshotTest, EmptyDaclGrantsNothing) {
  EXPECT_EQ(JudgeSnapshot(SecuritySnapshot{kSystem, false, {}}, true), "");
}

TEST(JudgeSnapshotTest, UsersWithModifyHoldDelete) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.aces.push_back(Allow(kUsers, kModify, kAceContainerInherit | kAceObjectInherit));
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-5-32-545 holds DELETE");
}

TEST(JudgeSnapshotTest, NamesEveryGuardedRightInFixedOrder) {
  SecuritySnapshot snapshot{kAdmins, false, {Allow(kEveryone, kFullControl)}};
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-1-0 holds DELETE+WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD");
  EXPECT_EQ(JudgeSnapshot(snapshot, false), "S-1-1-0 holds WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD");
}

TEST(JudgeSnapshotTest, EachGuardedRightAloneFails) {
  const struct {
    uint32_t mask;
    const char* text;
  } cases[] = {{0x00010000, "DELETE"},
               {0x00040000, "WRITE_DAC"},
               {0x00080000, "WRITE_OWNER"},
               {0x00000040, "FILE_DELETE_CHILD"}};
  for (const auto& c : cases) {
    const SecuritySnapshot snapshot{kSystem, false, {Allow(kAuthenticatedUsers, c.mask)}};
    EXPECT_EQ(JudgeSnapshot(snapshot, true), kAuthenticatedUsers + " holds " + c.text);
  }
}

TEST(JudgeSnapshotTest, DeleteAloneDoesNotCountOnADriveRoot) {
  const SecuritySnapshot snapshot{kSystem, false, {Allow(kAuthenticatedUsers, 0x00010000 | kReadExecute)}};
  EXPECT_EQ(JudgeSnapshot(snapshot, false), "");
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-5-11 holds DELETE");
}

TEST(JudgeSnapshotTest, AddingFilesAndSubfoldersIsNotGuarded) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.aces.push_back(Allow(kUsers, kAddFileAndSubfolder | kReadExecute | 0x100 /* write attributes */));
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "");
}

TEST(JudgeFileSnapshotTest, WritingTheContentCountsOnAFileAndItsNeighbourBitsDoNot) {
  const struct {
    uint32_t mask;
    const char* verdict;
  } cases[] = {{0x00000001, ""},  // read data
               {0x00000002, "S-1-5-32-545 holds FILE_WRITE_DATA"},
               {0x00000004, "S-1-5-32-545 holds FILE_APPEND_DATA"},
               {0x00000100, ""},  // write attributes
               {0x00010000, "S-1-5-32-545 holds DELETE"},
               {0x40000000, "S-1-5-32-545 holds FILE_WRITE_DATA+FILE_APPEND_DATA"},  // generic write
               {kReadExecute, ""}};
  for (const auto& c : cases) {
    SecuritySnapshot snapshot = ProgramFilesLike();
    snapshot.aces.push_back(Allow(kUsers, c.mask));
    EXPECT_EQ(JudgeFileSnapshot(snapshot), c.verdict) << std::hex << c.mask;
  }
}

TEST(JudgeSnapshotTest, DenyEntriesNeverWidenOrNarrowAnything) {
  for (const uint8_t type : {kAceAccessDenied, kAceAccessDeniedObject, kAceAccessDeniedCallback,
                             kAceAccessDeniedCallbackObject}) {
    SecuritySnapshot snapshot = ProgramFilesLike();
    snapshot.aces.insert(snapshot.aces.begin(), AceRecord{type, 0, 0x10000000, kEveryone});
    EXPECT_EQ(JudgeSnapshot(snapshot, true), "") << "type " << int(type);
    // A deny for the same principal ahead of a grant does not save the grant: the judgement is not an access check.
    snapshot.aces.push_back(Allow(kUsers, kModify));
    EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-5-32-545 holds DELETE") << "type " << int(type);
  }
}

TEST(JudgeSnapshotTest, InheritOnlyEntriesHaveNoEffectOnTheFolder) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.aces.push_back(Allow(kUsers, kFullControl, kAceContainerInherit | kAceObjectInherit | kAceInheritOnly));
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "");
  // Inherit-only is skipped before the type is looked at.
  snapshot.aces.push_back(AceRecord{kAceAccessAllowedObject, kAceInheritOnly, 0, ""});
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "");
}

TEST(JudgeSnapshotTest, InheritedEntriesCountLikeExplicitOnes) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.aces.push_back(Allow(kUsers, kModify, kAceInherited | kAceContainerInherit));
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-5-32-545 holds DELETE");
}

TEST(JudgeSnapshotTest, GenericRightsAreMappedAsForFiles) {
  const struct {
    uint32_t mask;
    const char* expected;
  } cases[] = {
      {0x80000000, ""},                      // GENERIC_READ: no guarded right
      {0x20000000, ""},                      // GENERIC_EXECUTE: none
      {0x40000000, ""},                      // GENERIC_WRITE: 0x00120116, no DELETE, no FILE_DELETE_CHILD
      {0xE0000000, ""},                      // read, write and execute together still none
      {0x10000000, "S-1-5-32-545 holds DELETE+WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD"},  // GENERIC_ALL
      {0x40010000, "S-1-5-32-545 holds DELETE"},
      {0x80040000, "S-1-5-32-545 holds WRITE_DAC"},
  };
  for (const auto& c : cases) {
    const SecuritySnapshot snapshot{kAdmins, false, {Allow(kUsers, c.mask)}};
    EXPECT_EQ(JudgeSnapshot(snapshot, true), c.expected) << std::hex << c.mask;
  }
}

TEST(EffectiveFileRightsTest, ReplacesGenericBitsByTheirFileMeaning) {
  EXPECT_EQ(EffectiveFileRights(0x80000000), 0x00120089u);
  EXPECT_EQ(EffectiveFileRights(0x40000000), 0x00120116u);
  EXPECT_EQ(EffectiveFileRights(0x20000000), 0x001200A0u);
  EXPECT_EQ(EffectiveFileRights(0x10000000), 0x001F01FFu);
  EXPECT_EQ(EffectiveFileRights(0xF0000001), 0x001F01FFu);
  EXPECT_EQ(EffectiveFileRights(0x00010000), 0x00010000u);
  // The two bits below the generic ones are not generic and stay.
  EXPECT_EQ(EffectiveFileRights(0x03000000), 0x03000000u);
}

TEST(JudgeSnapshotTest, TrustedAndPlaceholderPrincipalsMayHoldEverything) {
  const SecuritySnapshot snapshot{kAdmins,
                                  false,
                                  {Allow(kSystem, kFullControl), Allow(kAdmins, 0x10000000),
                                   Allow(kInstaller, kFullControl), Allow("S-1-3-0", kFullControl),
                                   Allow("S-1-3-1", kFullControl), Allow("S-1-3-4", kFullControl)}};
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "");
}

TEST(JudgeSnapshotTest, UnsupportedAllowTypesFailWithTheirSidOrUnreadSid) {
  SecuritySnapshot snapshot = ProgramFilesLike();
  snapshot.aces.push_back(AceRecord{kAceAccessAllowedObject, 0, 0, ""});
  EXPECT_EQ(JudgeSnapshot(snapshot, true),
            "allow ACE of type 5 (callback, object or compound) for an unread SID is not supported");

  snapshot = ProgramFilesLike();
  snapshot.aces.push_back(AceRecord{kAceAccessAllowedCallback, 0, 0x001200A9, kUsers});
  EXPECT_EQ(JudgeSnapshot(snapshot, true),
            "allow ACE of type 9 (callback, object or compound) for S-1-5-32-545 is not supported");

  // Even a trusted principal's callback entry is not evaluated: the type is checked before the SID.
  snapshot = ProgramFilesLike();
  snapshot.aces.insert(snapshot.aces.begin(), AceRecord{kAceAccessAllowedCallback, 0, kFullControl, kSystem});
  EXPECT_EQ(JudgeSnapshot(snapshot, true),
            "allow ACE of type 9 (callback, object or compound) for S-1-5-18 is not supported");

  for (const uint8_t type : {kAceAccessAllowedCompound, kAceAccessAllowedCallbackObject, uint8_t{2}, uint8_t{17}}) {
    const SecuritySnapshot other{kSystem, false, {AceRecord{type, 0, 0, ""}}};
    EXPECT_EQ(JudgeSnapshot(other, true), "allow ACE of type " + std::to_string(type) +
                                              " (callback, object or compound) for an unread SID is not supported");
  }
}

TEST(JudgeSnapshotTest, AGrantWhoseSidWasNotReadStillNamesSomeone) {
  const SecuritySnapshot snapshot{kSystem, false, {Allow("", kModify)}};
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "an unread SID holds DELETE");
  EXPECT_EQ(JudgeSnapshot(SecuritySnapshot{kSystem, false, {Allow("", kReadExecute)}}, true), "");
}

TEST(JudgeSnapshotTest, TheFirstFailingRuleDecides) {
  const SecuritySnapshot snapshot{kSystem,
                                  false,
                                  {Allow(kUsers, 0x00040000), AceRecord{kAceAccessAllowedObject, 0, 0, ""},
                                   Allow(kEveryone, kFullControl)}};
  EXPECT_EQ(JudgeSnapshot(snapshot, true), "S-1-5-32-545 holds WRITE_DAC");
  SecuritySnapshot objectFirst = snapshot;
  std::swap(objectFirst.aces[0], objectFirst.aces[1]);
  EXPECT_EQ(JudgeSnapshot(objectFirst, true),
            "allow ACE of type 5 (callback, object or compound) for an unread SID is not supported");
}

TEST(RightsTextTest, JoinsOnlyGuardedRights) {
  EXPECT_EQ(RightsText(0), "");
  EXPECT_EQ(RightsText(0x00120089), "");
  EXPECT_EQ(RightsText(0x000D0040), "DELETE+WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD");
  EXPECT_EQ(RightsText(0x00080040), "WRITE_OWNER+FILE_DELETE_CHILD");
  EXPECT_EQ(RightsText(0xFFFFFFF9), "DELETE+WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD");
  EXPECT_EQ(RightsText(0xFFFFFFFF), "DELETE+WRITE_DAC+WRITE_OWNER+FILE_DELETE_CHILD+FILE_WRITE_DATA+FILE_APPEND_DATA");
}

TEST(ChildSnapshotTest, CarriesContainerInheritableEntriesAsEffective) {
  const SecuritySnapshot parent{
      kStandardUser,
      true,
      {Allow(kSystem, kFullControl, kAceContainerInherit | kAceObjectInherit),
       Allow(kUsers, kModify, kAceObjectInherit),  // object-only: files get it, subfolders do not
       Allow(kAuthenticatedUsers, kModify, kAceContainerInherit | kAceInheritOnly),
       Deny(kEveryone, kFullControl, kAceContainerInherit | kAceInherited),
       Allow(kEveryone, kReadExecute, 0)}};
  const SecuritySnapshot child = ChildSnapshot(parent);
  EXPECT_EQ(child.owner, kAdmins);
  EXPECT_FALSE(child.noDacl);
  const std::vector<AceRecord> expected{Allow(kSystem, kFullControl), Allow(kAuthenticatedUsers, kModify),
                                        Deny(kEveryone, kFullControl)};
  EXPECT_EQ(child.aces, expected);
  EXPECT_EQ(JudgeSnapshot(child, true), "S-1-5-11 holds DELETE");
}

TEST(ChildSnapshotTest, CreatorPlaceholdersStandForAdministrators) {
  const SecuritySnapshot parent{kSystem,
                                false,
                                {Allow("S-1-3-0", kFullControl, kAceContainerInherit | kAceInheritOnly),
                                 Allow("S-1-3-1", kModify, kAceContainerInherit),
                                 Allow("S-1-3-4", kReadExecute, kAceContainerInherit)}};
  const SecuritySnapshot child = ChildSnapshot(parent);
  ASSERT_EQ(child.aces.size(), 3u);
  EXPECT_EQ(child.aces[0], Allow(kAdmins, kFullControl));
  EXPECT_EQ(child.aces[1], Allow(kAdmins, kModify));
  EXPECT_EQ(child.aces[2], Allow("S-1-3-4", kReadExecute));
  EXPECT_EQ(JudgeSnapshot(child, true), "");
}

TEST(ChildSnapshotTest, ProgramFilesChildIsAdminOnly) {
  EXPECT_EQ(JudgeSnapshot(ChildSnapshot(ProgramFilesLike()), true), "");
}

TEST(ChildSnapshotTest, AParentWithoutInheritableEntriesGivesAnEmptyDacl) {
  const SecuritySnapshot child = ChildSnapshot(SecuritySnapshot{kStandardUser, true, {Allow(kUsers, kFullControl)}});
  EXPECT_EQ(child, (SecuritySnapshot{kAdmins, false, {}}));
}

}  // namespace
}  // namespace kestrova::securefs
