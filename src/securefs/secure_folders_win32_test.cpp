#include "securefs/secure_folders.h"

#include <gtest/gtest.h>

#include "support/scratch_folder_win32.h"
#include "securefs/secure_create_win32.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

using kestrova::test::CapturedReports;
using kestrova::test::ScratchFolder;
using Reports = std::vector<std::pair<ReportLevel, std::string>>;

constexpr char kWineOwnerVerdict[] = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";

// Judges every parent admin-only and records the modes it was asked in, so the creation steps can be reached where
// Wine makes every real folder fail on its owner.
std::vector<WalkMode>& JudgedModes() {
  static std::vector<WalkMode> modes;
  return modes;
}
std::string AdminOnlyJudge(const WideString&, WalkMode mode) {
  JudgedModes().push_back(mode);
  return std::string();
}
std::string RefusingOnSecondLookJudge(const WideString& parent, WalkMode mode) {
  JudgedModes().push_back(mode);
  return mode == WalkMode::ExistingOnly ? WideToUtf8(parent) + ": planted" : std::string();
}

std::string ReadText(const WideString& path) {
  FileHandle file(CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!file) return "<unreadable>";
  char buffer[64];
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return "<unreadable>";
  return std::string(buffer, read);
}

class SecureCreateFolderTest : public ::testing::Test {
 protected:
  SecureCreateFolderTest() { JudgedModes().clear(); }
  ScratchFolder scratch_;
  CapturedReports reports_;
};

TEST_F(SecureCreateFolderTest, RefusesBelowAFolderThatIsNotAdminOnly) {
  const WideString path = scratch_ / L"missing\\updates";
  const std::string verdict = CheckPathAndParents(scratch_ / L"missing", WalkMode::MissingAllowed);
  ASSERT_EQ(verdict, std::string("C:\\: ") + kWineOwnerVerdict);
  EXPECT_FALSE(SecureCreateFolder(path));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportError, WideToUtf8(path) + " cannot be secured: a folder above it is not admin-only: " +
                                        verdict}}));
  EXPECT_FALSE(kestrova::test::Exists(scratch_ / L"missing")) << "nothing is created below an unsafe folder";
}

TEST_F(SecureCreateFolderTest, CreatesAMissingFolderAndItsParents) {
  const WideString path = scratch_ / L"a\\b\\updates";
  EXPECT_TRUE(SecureCreateFolderWith(path, &AdminOnlyJudge));
  EXPECT_TRUE(CapturedReports::Entries().empty());
  EXPECT_TRUE(kestrova::test::IsFolder(path));
  EXPECT_EQ(JudgedModes(), (std::vector<WalkMode>{WalkMode::MissingAllowed, WalkMode::ExistingOnly}));
}

TEST_F(SecureCreateFolderTest, RecreatesAnExistingFolderThatAStrangerOwns) {
  // Under Wine the owner of every folder is the Wine user, never an administrator principal.
  const WideString path = scratch_ / L"updates";
  kestrova::test::MakeFolder(path);
  kestrova::test::WriteTextFile(path + L"\\planted.ps1");
  ASSERT_FALSE(IsOwnedByAdmins(path));
  EXPECT_TRUE(SecureCreateFolderWith(path, &AdminOnlyJudge));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, WideToUtf8(path) + " is not owned by SYSTEM or Administrators; recreating it"}}));
  EXPECT_TRUE(kestrova::test::IsFolder(path));
  EXPECT_FALSE(kestrova::test::Exists(path + L"\\planted.ps1"));
}

TEST_F(SecureCreateFolderTest, AFileInThePlaceIsNotReplaced) {
  const WideString path = scratch_ / L"updates";
  kestrova::test::WriteTextFile(path, "keep");
  EXPECT_FALSE(SecureCreateFolderWith(path, &AdminOnlyJudge));
  EXPECT_EQ(CapturedReports::Entries(), (Reports{{kReportError, "could not create " + WideToUtf8(path) + ": 183"}}));
  EXPECT_EQ(ReadText(path), "keep");
}

TEST_F(SecureCreateFolderTest, JudgesTheParentAgainOnceItExists) {
  const WideString parent = scratch_ / L"new";
  const WideString path = parent + L"\\updates";
  EXPECT_FALSE(SecureCreateFolderWith(path, &RefusingOnSecondLookJudge));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportError, WideToUtf8(path) + " cannot be secured: a folder above it is not admin-only: " +
                                        WideToUtf8(parent) + ": planted"}}));
  EXPECT_TRUE(kestrova::test::IsFolder(parent)) << "missing parents are created between the two judgements";
  EXPECT_FALSE(kestrova::test::Exists(path));
}

TEST_F(SecureCreateFolderTest, TheParentIsFoundByPathSyntax) {
  static WideString judged;
  judged.clear();
  const auto judge = [](const WideString& parent, WalkMode) {
    judged = parent;
    return std::string("stop");
  };
  EXPECT_FALSE(SecureCreateFolderWith(scratch_ / L"x\\", judge));
  EXPECT_EQ(judged, scratch_ / L"x");
  EXPECT_FALSE(SecureCreateFolderWith(L"C:\\x", judge));
  EXPECT_EQ(judged, L"C:\\");
}

// The identity of an opened file or folder: volume and index, which a rename keeps.
std::pair<DWORD, uint64_t> IdentityOf(HANDLE object) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(object, &info)) return {0, 0};
  return {info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::pair<DWORD, uint64_t> IdentityOf(const WideString& path) {
  FileHandle object(CreateFileW((L"\\\\?\\" + path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return object ? IdentityOf(object.get()) : std::pair<DWORD, uint64_t>{0, 0};
}

// Plays the other user between the steps: right after the folder is opened it is renamed away by name and a plain
// folder holding a marker file takes its place (on Windows it could be a junction to System32). Wine owns every
// folder by the Wine user, so this also answers "administrator" for the owner to reach the re-securing branch.
class SwappingSteps : public SecureCreateSteps {
 public:
  explicit SwappingSteps(WideString path) : path_(std::move(path)) {}

  std::string JudgeParent(const WideString&, WalkMode) override { return {}; }
  FileHandle Open(const WideString& longPath) override {
    FileHandle opened = SecureCreateSteps::Open(longPath);
    if (opened && !swapped_) {
      opened_ = IdentityOf(opened.get());
      swapped_ = MoveFileExW((L"\\\\?\\" + path_).c_str(), (L"\\\\?\\" + path_ + L".moved").c_str(), 0) != FALSE;
      EXPECT_TRUE(swapped_) << GetLastError();
      kestrova::test::MakeFolder(path_);
      kestrova::test::WriteTextFile(path_ + L"\\marker.txt", "the other user's");
    }
    return opened;
  }
  bool OwnedByAdmins(HANDLE folder) override {
    asked_.push_back(IdentityOf(folder));
    return true;
  }
  bool Secure(HANDLE folder, const WideString& path) override {
    secured_.push_back(IdentityOf(folder));
    return SecureCreateSteps::Secure(folder, path);
  }

  std::pair<DWORD, uint64_t> opened_{};
  std::vector<std::pair<DWORD, uint64_t>> asked_;
  std::vector<std::pair<DWORD, uint64_t>> secured_;

 private:
  WideString path_;
  bool swapped_ = false;
};

TEST_F(SecureCreateFolderTest, TheOwnerIsReadFromAndTheDescriptorWrittenToTheFolderThatWasOpened) {
  const WideString path = scratch_ / L"updates";
  kestrova::test::MakeFolder(path);
  const auto original = IdentityOf(path);
  SwappingSteps steps(path);
  EXPECT_TRUE(SecureCreateFolderWith(path, steps));
  EXPECT_EQ(steps.opened_, original);
  EXPECT_EQ(steps.asked_, (std::vector<std::pair<DWORD, uint64_t>>{original}));
  EXPECT_EQ(steps.secured_, (std::vector<std::pair<DWORD, uint64_t>>{original}));
  EXPECT_NE(IdentityOf(path), original) << "the substitute stands at the name";
  EXPECT_EQ(ReadText(path + L"\\marker.txt"), "the other user's") << "nothing touched the substitute";
  EXPECT_TRUE(CapturedReports::Entries().empty());
}

TEST_F(SecureCreateFolderTest, ANewFolderIsSecuredThroughTheHandleOnTheFolderJustMade) {
  const WideString path = scratch_ / L"a\\updates";
  SwappingSteps steps(path);
  EXPECT_TRUE(SecureCreateFolderWith(path, steps));
  ASSERT_EQ(steps.secured_.size(), 1u);
  EXPECT_EQ(steps.secured_[0], steps.opened_);
  EXPECT_EQ(steps.secured_[0], IdentityOf(path + L".moved")) << "the folder made and opened, now renamed away";
  EXPECT_TRUE(steps.asked_.empty()) << "a folder just made needs no owner test";
  EXPECT_EQ(ReadText(path + L"\\marker.txt"), "the other user's");
}

TEST_F(SecureCreateFolderTest, NeverRemovesAProfileOrSystemFolderItTakesForAStrangers) {
  wchar_t profile[MAX_PATH];
  ASSERT_NE(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
  EXPECT_FALSE(SecureCreateFolderWith(profile, &AdminOnlyJudge));
  const std::string shown = WideToUtf8(profile);
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, shown + " is not owned by SYSTEM or Administrators; recreating it"},
                     {kReportError, "not removing " + shown + ": it is a system folder or holds one"}}));
  EXPECT_TRUE(kestrova::test::IsFolder(scratch_.Path())) << "the profile and the scratch folder in it are still there";
}

TEST(SecureUpdatesFolderTest, RefusesDrivesSystemFoldersProfilesAndDevicePathsBeforeTouchingAnything) {
  const std::string root = "it is a drive root";
  const std::string system = "it is a system folder or holds one";
  const std::pair<const wchar_t*, std::string> cases[] = {
      {L"C:\\", root},
      {L"C:", root},
      {L"\\\\?\\C:\\", root},
      {L"C:\\windows", system},
      {L"c:\\programdata", system},
      {L"C:\\users\\someone", system},
      {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\u", "it is not a path on a drive letter or a share"},
  };
  for (const auto& [updates, reason] : cases) {
    CapturedReports reports;
    EXPECT_FALSE(SecureUpdatesFolder(updates));
    EXPECT_EQ(CapturedReports::Entries(),
              (Reports{{kReportError, WideToUtf8(updates) + " cannot be the updates folder: " + reason}}));
  }
  EXPECT_FALSE(kestrova::test::Exists(L"C:\\logs"));
  EXPECT_FALSE(kestrova::test::Exists(L"C:\\windows\\logs\\payload.log"));
}

TEST(IsOwnedByAdminsTest, TheWineUserIsNoAdministratorPrincipal) {
  ScratchFolder scratch;
  EXPECT_FALSE(IsOwnedByAdmins(scratch.Path()));
  EXPECT_FALSE(IsOwnedByAdmins(scratch / L"missing")) << "an unreadable owner is not an administrator";
  FileHandle folder(CreateFileW(scratch.Path().c_str(), READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(folder);
  EXPECT_FALSE(IsOwnedByAdmins(folder.get()));
}

TEST(RepairInPlaceTest, RewritesAPlainFolderThroughItsHandle) {
  ScratchFolder scratch;
  CapturedReports reports;
  EXPECT_TRUE(RepairInPlace(scratch.Path()));
  EXPECT_TRUE(CapturedReports::Entries().empty());
}

TEST(RepairInPlaceTest, RefusesAFile) {
  ScratchFolder scratch;
  CapturedReports reports;
  const WideString file = scratch / L"file";
  kestrova::test::WriteTextFile(file);
  EXPECT_FALSE(RepairInPlace(file));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportError, WideToUtf8(file) + " is no longer a plain directory; not repairing it"}}));
}

TEST(RepairInPlaceTest, ReportsAFolderThatCannotBeOpened) {
  ScratchFolder scratch;
  CapturedReports reports;
  const WideString missing = scratch / L"missing";
  EXPECT_FALSE(RepairInPlace(missing));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportError, "could not open " + WideToUtf8(missing) + " to repair it: 2"}}));
}

// The enabled state of the three ownership privileges in the process token, in a fixed order.
std::vector<DWORD> OwnershipPrivilegeStates() {
  std::vector<DWORD> states;
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return states;
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return states;
  const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (const wchar_t* name : {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME}) {
    LUID luid{};
    LookupPrivilegeValueW(nullptr, name, &luid);
    DWORD state = 0xFFFFFFFF;  // not held
    for (DWORD index = 0; index < privileges->PrivilegeCount; ++index) {
      const LUID& held = privileges->Privileges[index].Luid;
      if (held.LowPart == luid.LowPart && held.HighPart == luid.HighPart) {
        state = privileges->Privileges[index].Attributes & SE_PRIVILEGE_ENABLED;
      }
    }
    states.push_back(state);
  }
  return states;
}

TEST(OwnershipPrivilegesTest, EnablesWhileItLivesAndRestoresAfterwards) {
  const std::vector<DWORD> before = OwnershipPrivilegeStates();
  ASSERT_EQ(before.size(), 3u);
  {
    OwnershipPrivileges privileges;
    EXPECT_TRUE(privileges.Adjusted());
    const std::vector<DWORD> during = OwnershipPrivilegeStates();
    for (size_t index = 0; index < during.size(); ++index) {
      if (before[index] != 0xFFFFFFFF) EXPECT_EQ(during[index], static_cast<DWORD>(SE_PRIVILEGE_ENABLED)) << index;
    }
  }
  EXPECT_EQ(OwnershipPrivilegeStates(), before);
}

TEST(DefaultUpdatesFolderTest, IsBelowTheCommonApplicationData) {
  EXPECT_EQ(DefaultUpdatesFolder(), L"C:\\ProgramData\\Kestrova\\Updates");
}

TEST(SecureUpdatesParentTest, AFolderFromTheCommandLineNeedsNothing) {
  CapturedReports reports;
  EXPECT_TRUE(SecureUpdatesParent(L"D:\\u"));
  EXPECT_TRUE(SecureUpdatesParent(L"C:\\ProgramData\\Kestrova\\Updates2"));
  EXPECT_TRUE(CapturedReports::Entries().empty());
}

TEST(SecureUpdatesParentTest, TheDefaultFolderInAnyCaseHasItsMakersFolderJudged) {
  const bool makerExisted = kestrova::test::Exists(L"C:\\ProgramData\\Kestrova");
  const std::string verdict = CheckPathAndParents(L"C:\\ProgramData", WalkMode::ExistingOnly);
  ASSERT_EQ(verdict, std::string("C:\\: ") + kWineOwnerVerdict);
  const Reports expected{
      {kReportError, "C:\\ProgramData\\Kestrova cannot be repaired: a folder above it is not admin-only: " + verdict},
      {kReportError,
       "recovery: SECURITY: C:\\ProgramData\\Kestrova stays writable by standard users, so a planted "
       "Updates\\recover.ps1 could run as SYSTEM; not registering the recovery task (KVRN-11940)"}};
  for (const wchar_t* updates : {L"c:\\programdata\\KESTROVA\\updates", L"C:\\ProgramData\\Kestrova\\Updates\\"}) {
    CapturedReports reports;
    EXPECT_FALSE(SecureUpdatesParent(updates));
    EXPECT_EQ(CapturedReports::Entries(), expected) << WideToUtf8(updates);
  }
  EXPECT_EQ(kestrova::test::Exists(L"C:\\ProgramData\\Kestrova"), makerExisted) << "nothing is touched below an unsafe folder";
}

}  // namespace
}  // namespace kestrova::securefs
