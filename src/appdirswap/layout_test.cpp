#include "appdirswap/layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "appdirswap/scripted_file_system.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

TEST(ParseAppdirTest, AcceptsDrivePathsAndDerivesTheFamilyBySyntax) {
  struct Row {
    const wchar_t* input;
    const wchar_t* appdir;
    const wchar_t* parent;
  };
  const Row rows[] = {
      {L"C:\\Corvella", L"C:\\Corvella", L"C:\\"},
      {L"c:\\Corvella\\\\", L"c:\\Corvella", L"c:\\"},
      {L"C:/Apps/Tool/", L"C:\\Apps\\Tool", L"C:\\Apps"},
      {L"\\\\?\\D:\\Program Files\\Kestrova\\Corvella", L"D:\\Program Files\\Kestrova\\Corvella",
       L"D:\\Program Files\\Kestrova"},
      {L"C:\\Prögramme\\Корвелла", L"C:\\Prögramme\\Корвелла", L"C:\\Prögramme"},
      {L"C:\\a", L"C:\\a", L"C:\\"},
      {L"C:\\.hidden\\x.y", L"C:\\.hidden\\x.y", L"C:\\.hidden"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(WideToUtf8(row.input));
    LayoutPaths paths;
    ASSERT_TRUE(ParseAppdir(row.input, paths));
    const WideString appdir = row.appdir;
    EXPECT_EQ(paths.appdir, appdir);
    EXPECT_EQ(paths.parent, row.parent);
    EXPECT_EQ(paths.staging, appdir + L".staging");
    EXPECT_EQ(paths.partial, appdir + L".staging.partial");
    EXPECT_EQ(paths.lkg, appdir + L".lkg");
    EXPECT_EQ(paths.rejected, appdir + L".rejected");
    EXPECT_EQ(paths.lock, appdir + L".swap.lock");
  }

  const WideString deep = L"C:\\" + [] {
    WideString tail;
    for (int i = 0; i < 60; ++i) tail += L"level" + std::to_wstring(i) + L"\\";
    return tail;
  }() + L"Corvella";
  LayoutPaths paths;
  ASSERT_TRUE(ParseAppdir(deep, paths));
  EXPECT_GT(paths.appdir.size(), 260u);
  EXPECT_EQ(paths.parent, deep.substr(0, deep.size() - 9));
}

TEST(ParseAppdirTest, RefusesEverythingElseAndLeavesThePathsAlone) {
  const wchar_t* const rows[] = {
      L"", L"C:", L"C:\\", L"C:/", L"\\\\?\\C:\\", L"\\\\server\\share\\Corvella", L"Corvella", L"\\Corvella",
      L"1:\\Corvella", L"C:Corvella", L"C:\\a\\\\b", L"C:\\a\\.\\b", L"C:\\a\\..\\b", L"C:\\Corvella.", L"C:\\Corvella ",
      L"C:\\a.\\b", L"C:\\Cor*vella", L"C:\\Cor?vella", L"C:\\a:b", L"C:\\a\"b", L"C:\\a<b", L"C:\\a>b", L"C:\\a|b",
      L"C:\\a\tb", L"C:\\a\x1f" L"b", L"\\\\?\\UNC\\server\\share\\x",
  };
  for (const wchar_t* row : rows) {
    SCOPED_TRACE(WideToUtf8(row));
    LayoutPaths paths;
    paths.appdir = L"untouched";
    EXPECT_FALSE(ParseAppdir(row, paths));
    EXPECT_EQ(paths.appdir, L"untouched");
  }
}

TEST(ParseVersionMarkerTest, ThreeOrFourDigitGroups) {
  struct Row {
    std::string bytes;
    const wchar_t* version;  // empty: refused
  };
  const Row rows[] = {
      {"1.2.3", L"1.2.3"}, {"10.20.30.40", L"10.20.30.40"}, {"\xEF\xBB\xBF" "1.2.3\r\n", L"1.2.3"},
      {"1.2.3\n\n\r", L"1.2.3"}, {"123456789.0.0", L"123456789.0.0"}, {"1234567890.0.0", L""}, {"1.2", L""},
      {"1.2.3.4.5", L""}, {"1..3", L""}, {".1.2.3", L""}, {"1.2.3.", L""}, {"1.2.3 ", L""}, {" 1.2.3", L""},
      {"v1.2.3", L""}, {"1.2.3\r\nx", L""}, {"", L""}, {"\xEF\xBB\xBF", L""}, {"\r\n", L""},
      {std::string("1.2\0.3", 6), L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    WideString version = L"stale";
    EXPECT_EQ(ParseVersionMarker(row.bytes, version), *row.version != 0);
    EXPECT_EQ(version, row.version);
  }
}

TEST(ReadFolderStateTest, ClassifiesEntriesAndReadsTheMarkerVersion) {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\x");
  fs.AddFolder(L"C:\\x\\complete", {}, "2.0.1\r\n");
  fs.AddFolder(L"C:\\x\\bad_version", {}, "2.0");
  fs.AddFolder(L"C:\\x\\unread_marker", {}, "2.0.1");
  fs.unreadable_files.insert(L"C:\\x\\unread_marker\\.complete");
  fs.AddFolder(L"C:\\x\\long_marker", {}, nullptr);
  fs.AddFile(L"C:\\x\\long_marker\\.complete", "1.2.3" + std::string(59, '\n') + "garbage after the 64th byte");
  fs.AddFolder(L"C:\\x\\no_marker", {{"a", "b"}});
  fs.AddFolder(L"C:\\x\\marker_dir");
  fs.AddFolder(L"C:\\x\\marker_dir\\.complete");
  fs.AddFolder(L"C:\\x\\marker_link");
  fs.AddLink(L"C:\\x\\marker_link\\.complete", false);
  fs.AddLink(L"C:\\x\\junction");
  fs.AddLink(L"C:\\x\\file_link", false);
  fs.AddFile(L"C:\\x\\file");
  fs.AddFolder(L"C:\\x\\denied");
  fs.tree[L"C:\\x\\denied"].unreadable = true;

  struct Row {
    const wchar_t* name;
    FolderState state;
    const wchar_t* version;
  };
  const Row rows[] = {
      {L"complete", FolderState::Complete, L"2.0.1"},
      {L"bad_version", FolderState::Complete, L""},
      {L"unread_marker", FolderState::Complete, L""},
      {L"long_marker", FolderState::Complete, L"1.2.3"},
      {L"no_marker", FolderState::Incomplete, L""},
      {L"marker_dir", FolderState::Incomplete, L""},
      {L"marker_link", FolderState::Incomplete, L""},
      {L"junction", FolderState::ReparsePoint, L""},
      {L"file_link", FolderState::ReparsePoint, L""},
      {L"file", FolderState::NotADirectory, L""},
      {L"denied", FolderState::Unreadable, L""},
      {L"missing", FolderState::Absent, L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(WideToUtf8(row.name));
    WideString version = L"stale";
    EXPECT_EQ(ReadFolderState(fs, L"C:\\x\\" + WideString(row.name), true, version), row.state);
    EXPECT_EQ(version, row.version);
  }
  WideString version;
  EXPECT_EQ(ReadFolderState(fs, L"C:\\x\\complete", false, version), FolderState::Complete);
  EXPECT_EQ(version, L"");
}

TEST(TakeSnapshotTest, ReadsTheWholeFamilyOfAFolderUnderADriveRoot) {
  ScriptedFileSystem fs;
  fs.AddFamily(L"C:\\Corvella", "cocrc");
  const LayoutSnapshot snapshot = TakeSnapshot(L"C:/Corvella/", fs);
  ASSERT_TRUE(snapshot.valid);
  EXPECT_EQ(snapshot.paths.parent, L"C:\\");
  EXPECT_EQ(snapshot.parent_kind, PathKind::Directory);
  EXPECT_FALSE(snapshot.parent_is_reparse_point);
  const FolderState states[] = {snapshot.appdir_state, snapshot.staging_state, snapshot.lkg_state,
                                snapshot.rejected_state, snapshot.partial_state};
  const FolderState c = FolderState::Complete;
  EXPECT_THAT(states, ::testing::ElementsAre(c, c, c, FolderState::ReparsePoint, c));
  EXPECT_FALSE(snapshot.staging_admin_owned);
  EXPECT_TRUE(snapshot.lkg_admin_owned);
  EXPECT_EQ(snapshot.appdir_version, L"1.0.0");
  EXPECT_EQ(snapshot.staging_version, L"2.0.0");
  EXPECT_EQ(snapshot.lkg_version, L"0.9.0");

  const LayoutSnapshot refused = TakeSnapshot(L"C:\\", fs);
  EXPECT_FALSE(refused.valid);
  EXPECT_TRUE(refused.paths.appdir.empty());
  EXPECT_EQ(refused.parent_kind, PathKind::Absent);
}

// One letter per state in the rows: a absent, i incomplete, c complete, r reparse point, f plain file, u unreadable.
FolderState StateOf(char letter) {
  switch (letter) {
    case 'i': return FolderState::Incomplete;
    case 'c': return FolderState::Complete;
    case 'r': return FolderState::ReparsePoint;
    case 'f': return FolderState::NotADirectory;
    case 'u': return FolderState::Unreadable;
    default: return FolderState::Absent;
  }
}

TEST(ValidateLayoutTest, TheFirstOffenderInOrderDecides) {
  struct Row {
    bool valid;
    PathKind parent;
    bool parent_link;
    const char* siblings;  // APPDIR, .staging, .lkg, .rejected, .staging.partial
    Refusal refusal;
  };
  constexpr PathKind kDir = PathKind::Directory;
  const Row rows[] = {
      {true, kDir, false, "caaaa", Refusal::None},
      {true, kDir, false, "aicci", Refusal::None},
      {true, kDir, false, "caaar", Refusal::None},  // .staging.partial is not examined
      {true, kDir, false, "caaau", Refusal::None},
      {false, kDir, true, "rrrrr", Refusal::BadAppdirPath},
      {true, PathKind::File, true, "caaaa", Refusal::ReparsePoint},
      {true, PathKind::File, false, "caaaa", Refusal::BadAppdirPath},
      {true, PathKind::Absent, false, "aaaaa", Refusal::BadAppdirPath},
      {true, PathKind::Error, false, "raaaa", Refusal::BadAppdirPath},
      {true, kDir, false, "raaaa", Refusal::ReparsePoint},
      {true, kDir, false, "fraaa", Refusal::UnexpectedEntry},
      {true, kDir, false, "crufa", Refusal::ReparsePoint},
      {true, kDir, false, "ccura", Refusal::UnexpectedEntry},
      {true, kDir, false, "cccfa", Refusal::UnexpectedEntry},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.siblings);
    SwapResult result;
    result.snapshot.valid = row.valid;
    result.snapshot.parent_kind = row.parent;
    result.snapshot.parent_is_reparse_point = row.parent_link;
    result.snapshot.appdir_state = StateOf(row.siblings[0]);
    result.snapshot.staging_state = StateOf(row.siblings[1]);
    result.snapshot.lkg_state = StateOf(row.siblings[2]);
    result.snapshot.rejected_state = StateOf(row.siblings[3]);
    result.snapshot.partial_state = StateOf(row.siblings[4]);
    result.refusal = Refusal::LkgOccupied;
    EXPECT_EQ(ValidateLayout(result), row.refusal == Refusal::None);
    EXPECT_EQ(result.refusal, row.refusal);
    EXPECT_EQ(result.outcome, row.refusal == Refusal::None ? Outcome::Nothing : Outcome::Refused);
  }
}

TEST(NamesTest, LogNamesAndTheirFallbacks) {
  const std::vector<std::string> outcomes = {"swapped", "held", "rolled_back", "nothing", "repaired_forward",
                                             "repaired_back", "reverted", "refused", "failed", "torn",
                                             "unrecoverable", "unknown"};
  for (uint32_t i = 0; i < outcomes.size(); ++i) EXPECT_EQ(OutcomeName(static_cast<Outcome>(i)), outcomes[i]);
  const std::vector<std::string> refusals = {
      "none", "bad_appdir_path", "reparse_point", "unexpected_entry", "staging_incomplete", "staging_not_verified",
      "not_admin_owned", "lkg_occupied", "no_lkg", "rejected_occupied", "appdir_changed", "unsafe_parent", "unknown"};
  for (uint32_t i = 0; i < refusals.size(); ++i) EXPECT_EQ(RefusalName(static_cast<Refusal>(i)), refusals[i]);
  const std::vector<std::string> states = {"absent", "incomplete", "complete", "reparse_point", "not_a_directory",
                                           "unreadable", "unknown"};
  for (uint32_t i = 0; i < states.size(); ++i) EXPECT_EQ(FolderStateName(static_cast<FolderState>(i)), states[i]);
  const std::vector<std::string> holds = {"none", "rename", "lock", "install_running", "unknown"};
  for (uint32_t i = 0; i < holds.size(); ++i) EXPECT_EQ(HoldReasonName(static_cast<HoldReason>(i)), holds[i]);
  const std::vector<std::string> gates = {"none", "bad_appdir_path", "nothing_staged", "corvella_running",
                                          "install_running", "lock_held", "?"};
  for (uint32_t i = 0; i < gates.size(); ++i) EXPECT_EQ(SwapGateName(static_cast<SwapGate>(i)), gates[i]);
  EXPECT_STREQ(OutcomeName(static_cast<Outcome>(0xFFFFFFFFu)), "unknown");
  EXPECT_STREQ(SwapGateName(static_cast<SwapGate>(0xFFFFFFFFu)), "?");
}

}  // namespace
}  // namespace kestrova::appdirswap
