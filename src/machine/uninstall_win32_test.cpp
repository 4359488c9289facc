// uninstall on real folders and registry keys under Wine: an APPDIR directly under the drive root with its
// siblings, a manifest-less APPDIR, known folders as APPDIR, APPDIRs the engine rejects, refused updates folders,
// a folder that cannot be removed, an empty state key.
#include <gtest/gtest.h>

#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "machine/commands.h"
#include "machine/state_key_test_support_win32.h"
#include "support/log_capture_win32.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::machine {
namespace {

using Lines = std::vector<std::string>;
using kestrova::test::Exists;
using kestrova::test::MakeFolder;
using kestrova::test::ScratchFolder;
using kestrova::test::WriteTextFile;

const wchar_t* const kSuffixes[] = {L".staging.partial", L".staging", L".lkg", L".rejected", L".updateui"};

// An APPDIR directly under C:\ (ParseAppdir wants a drive path) with a file in each sibling, all removed
// afterwards whatever the test left.
class AppDirFamily {
 public:
  AppDirFamily() : appdir_(L"C:\\kestrova-uninstall-" + std::to_wstring(GetCurrentProcessId())) { Clean(); }
  ~AppDirFamily() { Clean(); }
  const WideString& Path() const { return appdir_; }
  void Create(bool manifest) const {
    MakeFolder(appdir_);
    WriteTextFile(appdir_ + L"\\Corvella.exe");
    if (manifest) WriteTextFile(appdir_ + L"\\manifest.json", "{}");
    for (const wchar_t* suffix : kSuffixes) {
      MakeFolder(appdir_ + suffix);
      WriteTextFile(appdir_ + suffix + L"\\f\u00e4.txt");
    }
  }

 private:
  void Clean() const {
    kestrova::test::RemoveForCleanup(L"\\\\?\\" + appdir_);
    for (const wchar_t* suffix : kSuffixes) kestrova::test::RemoveForCleanup(L"\\\\?\\" + appdir_ + suffix);
  }
  WideString appdir_;
};

class UninstallTest : public testing::Test {
 protected:
  UninstallTest() {
    state_.SetDword("Update", L"ManagedInstall", 1);
    state_.SetDword("", L"PortReservation", 1);  // the key itself stays; only Update goes
    updates_ = scratch_ / L"Updates";
    MakeFolder(updates_);
    MakeFolder(updates_ + L"\\logs");
    WriteTextFile(updates_ + L"\\recover.ps1");
  }

  ScratchFolder scratch_;
  test::TestStateKey state_{"uninstall"};
  WideString updates_;
  AppDirFamily family_;
};

TEST_F(UninstallTest, RemovesTheFamilyTheUpdatesFolderAndTheUpdateKey) {
  family_.Create(true);
  const std::string shown = WideToUtf8(family_.Path());
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, family_.Path() + L"\\", updates_), 0);
  EXPECT_EQ(log.Lines(),
            (Lines{"INFO uninstall: removed " + shown + ".staging.partial",
                   "INFO uninstall: removed " + shown + ".staging", "INFO uninstall: removed " + shown + ".lkg",
                   "INFO uninstall: removed " + shown + ".rejected", "INFO uninstall: removed " + shown + ".updateui",
                   "INFO uninstall: removed " + shown, "INFO uninstall: removed " + WideToUtf8(updates_)}));
  EXPECT_FALSE(Exists(family_.Path()));
  for (const wchar_t* suffix : kSuffixes) EXPECT_FALSE(Exists(family_.Path() + suffix));
  EXPECT_FALSE(Exists(updates_));
  EXPECT_FALSE(state_.Exists("Update"));
  EXPECT_TRUE(state_.Exists());
  EXPECT_EQ(state_.Read("", L"PortReservation").number, 1u);

  // A second run finds nothing and says nothing.
  kestrova::test::LogCapture again;
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), updates_), 0);
  EXPECT_TRUE(again.Lines().empty());
}

TEST_F(UninstallTest, AnAppDirWithoutManifestStaysWithAWarning) {
  family_.Create(false);
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), updates_), 0);
  EXPECT_TRUE(Exists(family_.Path() + L"\\Corvella.exe"));
  for (const wchar_t* suffix : kSuffixes) EXPECT_FALSE(Exists(family_.Path() + suffix));
  const Lines lines = log.Lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], "WARN uninstall: leaving " + WideToUtf8(family_.Path()) +
                          ", which has no manifest.json or is a system folder");
  EXPECT_FALSE(Exists(updates_));
  EXPECT_FALSE(state_.Exists("Update"));
}

TEST_F(UninstallTest, AManifestThatIsAFolderDoesNotMakeAppDirRemovable) {
  MakeFolder(family_.Path());
  MakeFolder(family_.Path() + L"\\manifest.json");
  EXPECT_FALSE(IsRemovableAppDir(L"\\\\?\\" + family_.Path()));
  WriteTextFile(family_.Path() + L"\\manifest.json\\x");
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), updates_), 0);
  EXPECT_TRUE(Exists(family_.Path() + L"\\manifest.json\\x"));
}

TEST_F(UninstallTest, KnownFoldersAndDriveRootsAreNeverRemovable) {
  wchar_t windows[MAX_PATH];
  GetWindowsDirectoryW(windows, MAX_PATH);
  for (const WideString& folder :
       {WideString(L"C:\\"), WideString(L"C:\\Program Files"), WideString(L"C:\\Program Files (x86)"),
        WideString(L"C:\\ProgramData"), WideString(windows), WideString(L"C:\\users"), WideString(L"C:\\users\\Public"),
        WideString(L"C:\\windows\\system32")}) {
    EXPECT_FALSE(IsRemovableAppDir(L"\\\\?\\" + folder)) << WideToUtf8(folder);
  }
}

TEST_F(UninstallTest, ProgramFilesAsAppDirKeepsItButRemovesItsSiblings) {
  const WideString sibling = L"C:\\Program Files.staging";
  MakeFolder(sibling);
  WriteTextFile(L"C:\\Program Files\\manifest.json", "{}");
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, L"C:\\Program Files", updates_), 0);
  EXPECT_FALSE(Exists(sibling));
  EXPECT_TRUE(Exists(L"C:\\Program Files\\manifest.json"));
  DeleteFileW(L"C:\\Program Files\\manifest.json");
  const Lines lines = log.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "INFO uninstall: removed C:\\Program Files.staging");
  EXPECT_EQ(lines[1], "WARN uninstall: leaving C:\\Program Files, which has no manifest.json or is a system folder");
}

TEST_F(UninstallTest, ADriveRootAsAppDirRemovesNothingBesideIt) {
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, L"C:\\", L""), 0);
  EXPECT_TRUE(Exists(L"C:\\windows"));
  EXPECT_EQ(log.Lines(), (Lines{"WARN uninstall: leaving C:\\ and the folders beside it: it is a drive root"}));
  EXPECT_TRUE(Exists(updates_));  // an empty updates folder names nothing to remove
}

TEST_F(UninstallTest, AnAppDirTheEngineRejectsKeepsItAndItsSiblings) {
  family_.Create(true);
  kestrova::test::LogCapture log;
  // The system drops the trailing dot or space, so each of these opens the family's APPDIR.
  for (const wchar_t* tail : {L".", L" "}) EXPECT_EQ(Uninstall(state_.location, family_.Path() + tail, L""), 0);
  EXPECT_TRUE(Exists(family_.Path() + L"\\manifest.json"));
  for (const wchar_t* suffix : kSuffixes) EXPECT_TRUE(Exists(family_.Path() + suffix));
  const std::string reason = " and the folders beside it: a folder name in it is empty or ends in a dot or a space";
  EXPECT_EQ(log.Lines(), (Lines{"WARN uninstall: leaving " + WideToUtf8(family_.Path()) + "." + reason,
                                "WARN uninstall: leaving " + WideToUtf8(family_.Path()) + " " + reason}));
  EXPECT_FALSE(state_.Exists("Update"));  // the rest of uninstall goes on
}

TEST_F(UninstallTest, AFolderThatCannotBeRemovedIsNamedInItsDisplayForm) {
  family_.Create(true);
  const WideString held = family_.Path() + L".lkg\\f\u00e4.txt";
  FileHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder) << GetLastError();
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), updates_), 0);
  const Lines lines = log.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[2], "ERROR uninstall: could not remove " + WideToUtf8(family_.Path()) + ".lkg: 32");
}

TEST_F(UninstallTest, AnUpdatesFolderThatIsADriveRootOrASystemFolderIsRefused) {
  family_.Create(true);
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), L"C:\\"), 0);
  EXPECT_EQ(Uninstall(state_.location, family_.Path(), L"C:\\ProgramData"), 0);
  EXPECT_TRUE(Exists(L"C:\\windows"));
  EXPECT_TRUE(Exists(L"C:\\ProgramData"));
  const Lines lines = log.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ERROR uninstall: refusing to remove C:\\: it is a drive root");
  EXPECT_EQ(lines.back(), "ERROR uninstall: refusing to remove C:\\ProgramData: it is a system folder or holds one");
  EXPECT_FALSE(Exists(family_.Path()));
}

TEST_F(UninstallTest, AnEmptyStateKeyLeavesTheRegistryAlone) {
  // A key named Update directly below the hive's root must survive.
  HKEY root = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Update", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                            &root, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(root);
  StateLocation empty;
  empty.current_user = true;
  empty.key.clear();
  kestrova::test::LogCapture log;
  EXPECT_EQ(Uninstall(empty, family_.Path(), updates_), 0);
  EXPECT_EQ(log.Lines().back(), "WARN uninstall: the state key is empty; leaving the registry alone");
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Update", 0, KEY_READ | KEY_WOW64_64KEY, &root), ERROR_SUCCESS);
  RegCloseKey(root);
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Update");
  RegDeleteKeyExW(HKEY_CURRENT_USER, L"Update", KEY_WOW64_64KEY, 0);
  EXPECT_TRUE(state_.Exists("Update"));
}

}  // namespace
}  // namespace kestrova::machine
