#include "securefs/system_folders.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "support/scratch_folder_win32.h"

namespace kestrova::securefs {
namespace {

using kestrova::test::ScratchFolder;

TEST(IsSystemFolderTest, KnownFoldersAndTheFoldersAboveThemAreSystemFolders) {
  const wchar_t* folders[] = {L"C:\\windows",      L"C:\\WINDOWS\\",      L"c:\\windows\\system32",
                              L"C:\\",             L"C:",                 L"C:\\Program Files",
                              L"C:\\program files\\", L"C:\\ProgramData", L"C:\\users",
                              L"C:\\Users\\Public", L"C:\\windows\\..\\Program Files\\Common Files"};
  for (const wchar_t* folder : folders) EXPECT_TRUE(IsSystemFolder(folder)) << WideToUtf8(folder);
}

TEST(IsSystemFolderTest, TheCurrentUsersProfileIsASystemFolderButNotWhatLiesBelowIt) {
  wchar_t profile[MAX_PATH];
  ASSERT_NE(GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
  EXPECT_TRUE(IsSystemFolder(profile));
  ScratchFolder scratch;  // in the temporary folder, below the profile
  EXPECT_FALSE(IsSystemFolder(scratch.Path()));
  EXPECT_FALSE(IsSystemFolder(scratch.Path() + L"\\"));
}

TEST(IsSystemFolderTest, FoldersBelowProgramDataOrBesideKnownFoldersAreNot) {
  ScratchFolder scratch(L"C:\\ProgramData");
  EXPECT_FALSE(IsSystemFolder(scratch.Path()));
  EXPECT_FALSE(IsSystemFolder(L"C:\\Program Files\\Corvella"));
  EXPECT_FALSE(IsSystemFolder(L"C:\\Program"));
  EXPECT_FALSE(IsSystemFolder(L"C:\\windowsold"));
  EXPECT_FALSE(IsSystemFolder(L"Z:\\tmp"));
}

TEST(IsSystemFolderTest, ShortNamesAreComparedByTheirLongName) {
  // Wine 8's GetLongPathNameW hands a "\\?\" path back unresolved ("\\?\C:\PROG~FBU" stays so), and the long
  // name is taken from the long-path form; only Windows can show this.
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    GTEST_SKIP() << "Wine does not resolve short names in the long-path form";
  }
  wchar_t shortName[MAX_PATH];
  const DWORD length = GetShortPathNameW(L"C:\\Program Files", shortName, MAX_PATH);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
  EXPECT_TRUE(IsSystemFolder(WideString(shortName, length))) << WideToUtf8(WideString(shortName, length));
}

TEST(RemovalRefusalTest, RefusesDriveAndShareRoots) {
  EXPECT_EQ(RemovalRefusal(L"C:\\"), "it is a drive root");
  EXPECT_EQ(RemovalRefusal(L"C:\\\\"), "it is a drive root");
  EXPECT_EQ(RemovalRefusal(L"\\\\?\\Z:\\"), "it is a drive root");
  EXPECT_EQ(RemovalRefusal(L"\\\\server\\share\\"), "it is a drive root");
  EXPECT_EQ(RemovalRefusal(L"C:\\windows\\.."), "it is a drive root");
}

TEST(RemovalRefusalTest, RefusesSystemFoldersAndWhatHoldsThem) {
  EXPECT_EQ(RemovalRefusal(L"C:\\windows"), "it is a system folder or holds one");
  EXPECT_EQ(RemovalRefusal(L"C:\\Program Files\\"), "it is a system folder or holds one");
  EXPECT_EQ(RemovalRefusal(L"C:\\users"), "it is a system folder or holds one");
}

TEST(RemovalRefusalTest, RefusesABareDriveAndEveryProfile) {
  // "C:" alone is the current directory of drive C, which may be anything; typed as a folder it means the drive.
  EXPECT_EQ(RemovalRefusal(L"C:"), "it is a drive root");
  EXPECT_EQ(RemovalRefusal(L"\\\\?\\C:"), "it is a drive root");
  // Another user's profile, existing or not, and whatever case it is typed in.
  EXPECT_EQ(RemovalRefusal(L"C:\\users\\someone"), "it is a system folder or holds one");
  EXPECT_EQ(RemovalRefusal(L"c:\\USERS\\someone\\"), "it is a system folder or holds one");
  ScratchFolder scratch(L"C:\\users\\Public");
  EXPECT_EQ(RemovalRefusal(scratch.Path()), "") << "below a profile is no profile";
}

TEST(RemovalRefusalTest, RefusesVolumeAndDevicePaths) {
  const std::string reason = "it is not a path on a drive letter or a share";
  EXPECT_EQ(RemovalRefusal(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\Apps"), reason);
  EXPECT_EQ(RemovalRefusal(L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1"), reason);
  EXPECT_EQ(RemovalRefusal(L"\\\\.\\C:\\Corvella"), reason);
}

TEST(RemovalRefusalTest, AllowsAnOrdinaryFolder) {
  ScratchFolder scratch;
  EXPECT_EQ(RemovalRefusal(scratch.Path()), "");
  EXPECT_EQ(RemovalRefusal(scratch / L"not-yet-there"), "");
  EXPECT_EQ(RemovalRefusal(L"\\\\server\\share\\folder"), "");
}

}  // namespace
}  // namespace kestrova::securefs
