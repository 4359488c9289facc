#include "securefs/trust_walk.h"

#include <gtest/gtest.h>

#include "securefs/scripted_trust_reader.h"

namespace kestrova::securefs {
namespace {

using namespace std::string_literals;
using test::ScriptedEntry;
using test::ScriptedTrustReader;

constexpr uint32_t kFullControl = 0x001F01FF;
constexpr uint32_t kModify = 0x001301BF;
constexpr uint32_t kReadExecute = 0x001200A9;
constexpr uint32_t kTagMountPoint = 0xA0000003;
constexpr uint32_t kTagSymlink = 0xA000000C;
constexpr uint8_t kInheritBoth = kAceContainerInherit | kAceObjectInherit;

AceRecord Allow(const std::string& sid, uint32_t mask, uint8_t flags = 0) {
  return AceRecord{kAceAccessAllowed, flags, mask, sid};
}

ScriptedEntry AdminOnly() {
  ScriptedEntry entry;
  entry.snapshot = SecuritySnapshot{"S-1-5-18",
                                    false,
                                    {Allow("S-1-5-18", kFullControl, kInheritBoth),
                                     Allow("S-1-5-32-544", kFullControl, kInheritBoth),
                                     Allow("S-1-5-32-545", kReadExecute, kInheritBoth)}};
  return entry;
}

ScriptedEntry OwnedBy(const std::string& owner) {
  ScriptedEntry entry = AdminOnly();
  entry.snapshot.owner = owner;
  return entry;
}

ScriptedEntry Reparse(uint32_t tag) {
  ScriptedEntry entry = AdminOnly();
  entry.attributes.attributes = kFileAttributeDirectory | kFileAttributeReparsePoint;
  entry.attributes.reparseTag = tag;
  return entry;
}

// C:\ as Windows sets it up: Authenticated Users may delete it (which does not count on a root) and get modify
// rights, inherit-only, on everything created below.
ScriptedEntry SystemDriveRoot() {
  ScriptedEntry entry = AdminOnly();
  entry.snapshot.aces.push_back(Allow("S-1-5-11", 0x00010000 | kReadExecute));
  entry.snapshot.aces.push_back(Allow("S-1-5-11", kModify, kInheritBoth | kAceInheritOnly));
  return entry;
}

// C:\, C:\a, C:\a\b, all admin-only.
ScriptedTrustReader SafeChain() {
  ScriptedTrustReader reader;
  reader.entries[L"C:\\"] = AdminOnly();
  reader.entries[L"C:\\a"] = AdminOnly();
  reader.entries[L"C:\\a\\b"] = AdminOnly();
  return reader;
}

const WalkMode kAllModes[] = {WalkMode::ExistingOnly, WalkMode::MissingAllowed, WalkMode::MissingJudged};

TEST(AttributeVerdictTest, NamesEachKindOfEntry) {
  EXPECT_EQ(AttributeVerdict({true, 0, kFileAttributeDirectory, 0}), "");
  EXPECT_EQ(AttributeVerdict({true, 0, kFileAttributeDirectory | 0x1 | 0x2000, 0}), "");
  EXPECT_EQ(AttributeVerdict({false, 5, kFileAttributeDirectory, 0}), "attributes unreadable (5)");
  EXPECT_EQ(AttributeVerdict({true, 0, kFileAttributeDirectory | kFileAttributeReparsePoint, kTagMountPoint}),
            "is a reparse point (tag 0xA0000003)");
  EXPECT_EQ(AttributeVerdict({true, 0, kFileAttributeReparsePoint, kTagSymlink}),
            "is a reparse point (tag 0xA000000C)");
  EXPECT_EQ(AttributeVerdict({true, 0, kFileAttributeReparsePoint, 0x1B}), "is a reparse point (tag 0x0000001B)");
  EXPECT_EQ(AttributeVerdict({true, 0, 0x20, 0}), "is not a directory");
}

TEST(CheckPathAndParentsTest, AnAdminOnlyChainPassesInEveryMode) {
  for (const WalkMode mode : kAllModes) {
    const ScriptedTrustReader reader = SafeChain();
    EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", mode), "");
    EXPECT_EQ(reader.EventsOf("open"),
              (std::vector<std::string>{"\\\\?\\C:\\", "\\\\?\\C:\\a", "\\\\?\\C:\\a\\b"}));
    EXPECT_EQ(reader.EventsOf("security"), (std::vector<std::string>{"C:\\", "C:\\a", "C:\\a\\b"}));
  }
}

TEST(CheckPathAndParentsTest, OnlyDrivePathsAreJudged) {
  ScriptedTrustReader reader = SafeChain();
  reader.canonical[L"relative"] = L"";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"\\\\server\\share\\x", WalkMode::ExistingOnly),
            "\\\\server\\share\\x is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"\\\\?\\UNC\\server\\share\\x", WalkMode::MissingJudged),
            "\\\\?\\UNC\\server\\share\\x is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"relative", WalkMode::MissingAllowed),
            "relative is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:", WalkMode::MissingAllowed),
            "C: is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"", WalkMode::MissingAllowed),
            " is not an absolute path on a drive letter");
  EXPECT_TRUE(reader.events.empty());
}

TEST(CheckPathAndParentsTest, APathWithANulIsRejectedBeforeTheSystemSeesIt) {
  const ScriptedTrustReader reader = SafeChain();
  const WideString withNul{L'C', L':', L'\\', L'a', L'\0', L'b'};
  EXPECT_EQ(CheckPathAndParentsWith(reader, withNul, WalkMode::ExistingOnly),
            "C:\\a\0b is not an absolute path on a drive letter"s);
  EXPECT_EQ(reader.canonicalCalls, 0);
  EXPECT_TRUE(reader.events.empty());
}

TEST(CheckPathAndParentsTest, TheCanonicalFormIsWalkedAndNamed) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"] = OwnedBy("S-1-5-21-1-2-3-1001");
  reader.canonical[L"C:\\A\\PROGRA~1\\..\\b\\"] = L"C:\\a\\b";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\A\\PROGRA~1\\..\\b\\", WalkMode::ExistingOnly),
            "C:\\a\\b: owner S-1-5-21-1-2-3-1001 is not SYSTEM, Administrators or TrustedInstaller");
}

TEST(CheckPathAndParentsTest, ADriveRootAloneIsOneFolderAndItsDeleteDoesNotCount) {
  ScriptedTrustReader reader;
  reader.entries[L"C:\\"] = SystemDriveRoot();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\", WalkMode::ExistingOnly), "");
  EXPECT_EQ(reader.EventsOf("open"), (std::vector<std::string>{"\\\\?\\C:\\"}));

  reader.entries[L"C:\\"].snapshot.aces.push_back(Allow("S-1-5-11", 0x00050000));
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\", WalkMode::ExistingOnly), "C:\\: S-1-5-11 holds WRITE_DAC");
}

TEST(CheckPathAndParentsTest, DeleteCountsBelowTheRoot) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"].snapshot.aces.push_back(Allow("S-1-5-11", 0x00010000));
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "C:\\a: S-1-5-11 holds DELETE");
}

TEST(CheckPathAndParentsTest, TheFirstUnsafeFolderFromTheRootIsNamed) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"] = OwnedBy("S-1-5-21-0-0-0-1000");
  reader.entries[L"C:\\a\\b"].snapshot.noDacl = true;
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly),
            "C:\\a: owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller");
  // The judgement stops there: the folder below is never read.
  EXPECT_EQ(reader.EventsOf("security"), (std::vector<std::string>{"C:\\", "C:\\a"}));
}

TEST(CheckPathAndParentsTest, EveryLinkCheckOfTheChainComesBeforeAnySecurity) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\"] = OwnedBy("S-1-5-21-0-0-0-1000");
  reader.entries[L"C:\\a\\b"] = Reparse(kTagMountPoint);
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly),
            "C:\\a\\b is a reparse point (tag 0xA0000003)");
  EXPECT_TRUE(reader.EventsOf("security").empty());
}

TEST(CheckPathAndParentsTest, AJunctionOrSymlinkAnywhereOnThePathIsNamedWithItsTag) {
  for (const auto& [tag, text] : {std::pair{kTagMountPoint, "0xA0000003"}, std::pair{kTagSymlink, "0xA000000C"}}) {
    ScriptedTrustReader reader = SafeChain();
    reader.entries[L"C:\\a"] = Reparse(tag);
    for (const WalkMode mode : kAllModes) {
      EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", mode),
                std::string("C:\\a is a reparse point (tag ") + text + ")");
    }
    // The walk stops at the link: nothing is opened through it.
    EXPECT_EQ(reader.EventsOf("open").back(), "\\\\?\\C:\\a");
  }
}

TEST(CheckPathAndParentsTest, AFileWhereAFolderIsExpected) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"].attributes.attributes = 0x20;
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::MissingJudged), "C:\\a is not a directory");
  reader.entries[L"C:\\a"].attributes = EntryAttributes{false, 1, 0, 0};
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::MissingJudged), "C:\\a attributes unreadable (1)");
}

TEST(CheckPathAndParentsTest, ASubstitutedDriveResolvesElsewhere) {
  ScriptedTrustReader reader;
  reader.entries[L"S:\\"] = AdminOnly();
  reader.entries[L"S:\\"].finalPath = L"C:\\Users\\me\\stuff";
  reader.entries[L"S:\\x"] = AdminOnly();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"S:\\x", WalkMode::ExistingOnly), "S:\\ resolves to C:\\Users\\me\\stuff");
  EXPECT_TRUE(reader.EventsOf("security").empty());
}

TEST(CheckPathAndParentsTest, AnUnreadableFinalPathFails) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].finalPath = L"";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly),
            "C:\\a\\b resolves to an unreadable path");
}

TEST(CheckPathAndParentsTest, TheFinalPathIsComparedIgnoringCaseOnly) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"].finalPath = L"c:\\A";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "");
  reader.entries[L"C:\\a"].finalPath = L"C:\\a\\";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "C:\\a resolves to C:\\a\\");
}

TEST(CheckPathAndParentsTest, AMissingLastFolderPerMode) {
  const ScriptedTrustReader reader = SafeChain();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new", WalkMode::ExistingOnly),
            "C:\\a\\b\\new: cannot open (2)");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new", WalkMode::MissingAllowed), "");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new", WalkMode::MissingJudged), "");
}

TEST(CheckPathAndParentsTest, AMissingTailStopsTheWalkAtItsFirstFolder) {
  ScriptedTrustReader reader = SafeChain();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\x\\y\\z", WalkMode::MissingAllowed), "");
  EXPECT_EQ(reader.EventsOf("open").back(), "\\\\?\\C:\\a\\x");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\x\\y\\z", WalkMode::ExistingOnly), "C:\\a\\x: cannot open (2)");
}

TEST(CheckPathAndParentsTest, AMissingTailDoesNotExcuseTheExistingPart) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"].snapshot.aces.push_back(Allow("S-1-5-32-545", 0x00080000));
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new", WalkMode::MissingAllowed),
            "C:\\a: S-1-5-32-545 holds WRITE_OWNER");
}

TEST(CheckPathAndParentsTest, MissingJudgedUsesWhatTheNewFolderWouldInherit) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(
      Allow("S-1-5-32-545", kModify, kInheritBoth | kAceInheritOnly));
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new\\deeper", WalkMode::MissingJudged),
            "C:\\a\\b\\new (to be created): S-1-5-32-545 holds DELETE");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new\\deeper", WalkMode::MissingAllowed), "");
  // Where it exists, the folder itself is judged, and the inherit-only grant does not apply to it.
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::MissingJudged), "");
}

TEST(CheckPathAndParentsTest, MissingJudgedBelowARootCountsDelete) {
  ScriptedTrustReader reader;
  reader.entries[L"C:\\"] = SystemDriveRoot();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\Corvella", WalkMode::MissingJudged),
            "C:\\Corvella (to be created): S-1-5-11 holds DELETE");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\Corvella", WalkMode::MissingAllowed), "");
}

TEST(CheckPathAndParentsTest, CreatorOwnerIsIgnoredOnTheFolderAndIsAdministratorsBelowIt) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(Allow("S-1-3-0", kFullControl, kAceContainerInherit));
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b\\new", WalkMode::MissingJudged), "");
}

TEST(CheckPathAndParentsTest, AMissingDriveRootIsNeverAMissingTail) {
  for (const WalkMode mode : kAllModes) {
    ScriptedTrustReader reader;
    EXPECT_EQ(CheckPathAndParentsWith(reader, L"Q:\\a", mode), "Q:\\: cannot open (3)");
    reader.entries[L"Q:\\"].openError = 21;  // ERROR_NOT_READY: a drive without a medium
    EXPECT_EQ(CheckPathAndParentsWith(reader, L"Q:\\a", mode), "Q:\\: cannot open (21)");
  }
}

TEST(CheckPathAndParentsTest, OnlyNotFoundCountsAsMissing) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].openError = 5;
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::MissingAllowed), "C:\\a\\b: cannot open (5)");
  reader.entries[L"C:\\a\\b"].openError = 3;
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::MissingAllowed), "");
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "C:\\a\\b: cannot open (3)");
}

TEST(CheckPathAndParentsTest, ReadFailuresAreVerdicts) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a"].securityFailure = "security unreadable (5)";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "C:\\a: security unreadable (5)");
  reader.entries[L"C:\\a"].securityFailure = "ACE 3 unreadable";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "C:\\a: ACE 3 unreadable");
}

TEST(CheckPathAndParentsTest, EveryHandleIsHeldUntilTheVerdictAndClosedAfter) {
  ScriptedTrustReader reader = SafeChain();
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\b", WalkMode::ExistingOnly), "");
  EXPECT_EQ(reader.liveAtSecurity, (std::vector<int>{3, 3, 3}));
  EXPECT_EQ(reader.liveEntries, 0);
  // Nothing is closed before the last security read.
  const auto lastSecurity = std::find(reader.events.begin(), reader.events.end(), "security C:\\a\\b");
  ASSERT_NE(lastSecurity, reader.events.end());
  for (auto it = reader.events.begin(); it != lastSecurity; ++it) EXPECT_NE(it->rfind("close", 0), 0u) << *it;

  // Early verdicts close what was opened too.
  for (const auto& [name, entry] : {std::pair{L"C:\\a", Reparse(kTagSymlink)}, std::pair{L"C:\\", OwnedBy("")}}) {
    ScriptedTrustReader failing = SafeChain();
    failing.entries[name] = entry;
    EXPECT_NE(CheckPathAndParentsWith(failing, L"C:\\a\\b", WalkMode::ExistingOnly), "");
    EXPECT_EQ(failing.liveEntries, 0);
  }
}

TEST(CheckPathAndParentsTest, DoubledSeparatorsOpenNoExtraPrefix) {
  ScriptedTrustReader reader = SafeChain();
  reader.canonical[L"C:\\a\\\\b"] = L"C:\\a\\\\b";
  reader.entries[L"C:\\a\\\\b"] = AdminOnly();
  reader.entries[L"C:\\a\\\\b"].finalPath = L"C:\\a\\b";
  EXPECT_EQ(CheckPathAndParentsWith(reader, L"C:\\a\\\\b", WalkMode::ExistingOnly),
            "C:\\a\\\\b resolves to C:\\a\\b");
  EXPECT_EQ(reader.EventsOf("open"),
            (std::vector<std::string>{"\\\\?\\C:\\", "\\\\?\\C:\\a", "\\\\?\\C:\\a\\\\b"}));
}

TEST(CheckFolderTest, JudgesOneFolderWithoutItsParents) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\"] = OwnedBy("S-1-5-21-0-0-0-1000");
  EXPECT_EQ(CheckFolderWith(reader, L"C:\\a\\b"), "");
  EXPECT_EQ(reader.EventsOf("open"), (std::vector<std::string>{"\\\\?\\C:\\a\\b"}));
  EXPECT_TRUE(reader.EventsOf("final").empty());
  EXPECT_EQ(reader.liveEntries, 0);
}

TEST(CheckFolderTest, NamesTheCanonicalFolderAndEachReason) {
  ScriptedTrustReader reader = SafeChain();
  reader.canonical[L"b"] = L"C:\\a\\b";
  reader.entries[L"C:\\a\\b"] = OwnedBy("S-1-5-21-0-0-0-1000");
  EXPECT_EQ(CheckFolderWith(reader, L"b"),
            "C:\\a\\b: owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller");
  reader.entries[L"C:\\a\\b"] = Reparse(kTagMountPoint);
  EXPECT_EQ(CheckFolderWith(reader, L"b"), "C:\\a\\b is a reparse point (tag 0xA0000003)");
  reader.entries[L"C:\\a\\b"].attributes.attributes = 0x20;
  EXPECT_EQ(CheckFolderWith(reader, L"b"), "C:\\a\\b is not a directory");
  reader.entries[L"C:\\a\\b"] = AdminOnly();
  reader.entries[L"C:\\a\\b"].securityFailure = "security unreadable (1307)";
  EXPECT_EQ(CheckFolderWith(reader, L"b"), "C:\\a\\b: security unreadable (1307)");
  reader.entries.erase(L"C:\\a\\b");
  EXPECT_EQ(CheckFolderWith(reader, L"b"), "C:\\a\\b: cannot open (2)");
}

TEST(CheckFolderTest, APathThatCannotBeMadeAbsoluteIsNotValid) {
  ScriptedTrustReader reader;
  reader.canonical[L"bad"] = L"";
  EXPECT_EQ(CheckFolderWith(reader, L"bad"), "bad is not a valid path");
  const WideString withNul{L'C', L':', L'\\', L'\0'};
  EXPECT_EQ(CheckFolderWith(reader, withNul), "C:\\\0 is not a valid path"s);
  EXPECT_TRUE(reader.events.empty());
}

TEST(CheckFolderTest, TheFinalPathIsNotCompared) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].finalPath = L"D:\\elsewhere";
  EXPECT_EQ(CheckFolderWith(reader, L"C:\\a\\b"), "");
}

TEST(CheckFolderTest, DeleteCountsExceptOnADriveRoot) {
  ScriptedTrustReader reader;
  reader.entries[L"C:\\"] = SystemDriveRoot();
  reader.entries[L"C:\\x"] = SystemDriveRoot();
  EXPECT_EQ(CheckFolderWith(reader, L"C:\\"), "");
  EXPECT_EQ(CheckFolderWith(reader, L"C:\\x"), "C:\\x: S-1-5-11 holds DELETE");
}

TEST(CheckFolderTest, ASharePathIsOpenedInItsUncForm) {
  ScriptedTrustReader reader;
  reader.entries[L"\\\\server\\share\\x"] = AdminOnly();
  EXPECT_EQ(CheckFolderWith(reader, L"\\\\server\\share\\x"), "");
  EXPECT_EQ(reader.EventsOf("open"), (std::vector<std::string>{"\\\\?\\UNC\\server\\share\\x"}));
}

const std::string kWineOwnerText = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";

TEST(CheckTrustedFolderTest, JoinsTheWalkVerdictAndTheParentsCreateRightReadOnce) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\"] = OwnedBy("S-1-5-21-0-0-0-1000");
  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(Allow("S-1-5-21-1-2-3-1001", 0x4));
  reader.accountNames["S-1-5-21-1-2-3-1001"] = "HOST\\alice";
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"),
            "C:\\: " + kWineOwnerText + "; HOST\\alice may create folders in C:\\a\\b");
  // The folder between is never read; the parent once, through the handle held since the chain was opened.
  EXPECT_EQ(reader.EventsOf("open").size(), 3u);
  EXPECT_EQ(reader.EventsOf("security"), (std::vector<std::string>{"C:\\", "C:\\a\\b"}));
  EXPECT_EQ(reader.liveAtSecurity, (std::vector<int>{3, 3}));
  EXPECT_EQ(reader.liveEntries, 0);
}

TEST(CheckTrustedFolderTest, EachTextStandsAloneAndOnlyTheParentCountsForCreating) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\"].snapshot.aces.push_back(Allow("S-1-5-11", 0x4));
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "");
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\"), "NT AUTHORITY\\Authenticated Users may create folders in C:\\");

  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(Allow("S-1-5-11", 0x2));
  reader.events.clear();
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "NT AUTHORITY\\Authenticated Users may create files in C:\\a\\b");
  EXPECT_EQ(reader.EventsOf("security"), (std::vector<std::string>{"C:\\", "C:\\a", "C:\\a\\b"}));

  reader.entries[L"C:\\a\\b"].snapshot.owner = "S-1-5-21-0-0-0-1000";
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"),
            "C:\\a\\b: " + kWineOwnerText + "; NT AUTHORITY\\Authenticated Users may create files in C:\\a\\b");
  EXPECT_EQ(reader.EventsOf("security").size(), 6u);
}

TEST(CheckTrustedFolderTest, AWalkThatCannotReadTheParentGivesItsVerdictAlone) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(Allow("S-1-5-32-545", 0x6));
  reader.entries[L"C:\\a\\b"].attributes.attributes |= kFileAttributeReparsePoint;
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "C:\\a\\b is a reparse point (tag 0x00000000)");
  EXPECT_TRUE(reader.EventsOf("security").empty());

  reader.entries[L"C:\\a\\b"].attributes.attributes = kFileAttributeDirectory;
  reader.entries[L"C:\\a\\b"].securityFailure = "security unreadable (5)";
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "C:\\a\\b: security unreadable (5)");
  reader.entries[L"C:\\"] = OwnedBy("S-1-5-21-0-0-0-1000");
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "C:\\: " + kWineOwnerText);

  reader.entries.erase(L"C:\\a\\b");
  EXPECT_EQ(CheckTrustedFolderWith(reader, L"C:\\a\\b"), "C:\\a\\b: cannot open (2)");
}

TEST(CheckTrustedFileTest, TheFoldersVerdictComesFirstThenTheFileAsItself) {
  ScriptedTrustReader reader = SafeChain();
  reader.entries[L"C:\\a\\b\\tool.exe"] = AdminOnly();
  reader.entries[L"C:\\a\\b\\tool.exe"].attributes.attributes = 0x20;  // archive
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"), "");

  reader.entries[L"C:\\a\\b\\tool.exe"].snapshot.aces.push_back(Allow("S-1-5-32-545", 0x2));
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"),
            "C:\\a\\b\\tool.exe: S-1-5-32-545 holds FILE_WRITE_DATA");
  reader.entries[L"C:\\a\\b"].snapshot.aces.push_back(Allow("S-1-5-32-545", 0x2));
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"), "BUILTIN\\Users may create files in C:\\a\\b");

  reader.entries[L"C:\\a\\b"] = AdminOnly();
  reader.entries[L"C:\\a\\b\\tool.exe"] = AdminOnly();
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"), "C:\\a\\b\\tool.exe is a directory");
  reader.entries[L"C:\\a\\b\\tool.exe"].attributes.attributes = kFileAttributeReparsePoint;
  reader.entries[L"C:\\a\\b\\tool.exe"].attributes.reparseTag = kTagSymlink;
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"),
            "C:\\a\\b\\tool.exe is a reparse point (tag 0xA000000C)");
  reader.entries.erase(L"C:\\a\\b\\tool.exe");
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\a\\b\\tool.exe"), "C:\\a\\b\\tool.exe: cannot open (2)");
  EXPECT_EQ(CheckTrustedFileWith(reader, L"C:\\"), "C:\\ is not a file");
  EXPECT_EQ(reader.liveEntries, 0);
}

}  // namespace
}  // namespace kestrova::securefs
