#include "securefs/trust_evaluation.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "securefs/canonical_path.h"
#include "support/scratch_folder_win32.h"
#include "securefs/trust_reader_win32.h"

// Under Wine every entry is owned by the Wine user S-1-5-21-0-0-0-1000, which is not a trusted owner, so every real
// folder fails on its owner; these tests show which folder each walk names and that the reading is real. Links,
// junctions and admin-only folders cannot exist here; the walk's decisions about them are tested against a double.
namespace kestrova::securefs {
namespace {

using kestrova::test::MakeFolder;
using kestrova::test::ScratchFolder;
using kestrova::test::WriteTextFile;

const std::string kWineOwnerVerdict = ": owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";
const WalkMode kAllModes[] = {WalkMode::ExistingOnly, WalkMode::MissingAllowed, WalkMode::MissingJudged};

std::string Utf8(const WideString& text) { return WideToUtf8(text); }

// The scratch folder as the walk names it: canonical, so with the drive letter and long names as on disk.
WideString CanonicalScratch(const ScratchFolder& scratch) {
  const WideString canonical = CanonicalPath(scratch.Path());
  EXPECT_TRUE(IsDriveAbsolute(canonical)) << Utf8(canonical);
  return canonical;
}

TEST(Win32TrustReaderTest, ReadsARealFolder) {
  ScratchFolder scratch;
  const Win32TrustReader reader;
  const WideString canonical = CanonicalScratch(scratch);
  uint32_t error = 1;
  const std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(canonical), error);
  ASSERT_NE(entry, nullptr) << error;
  EXPECT_EQ(error, 0u);

  const EntryAttributes attributes = entry->ReadAttributes();
  ASSERT_TRUE(attributes.readable) << attributes.error;
  EXPECT_TRUE(attributes.attributes & kFileAttributeDirectory);
  EXPECT_FALSE(attributes.attributes & kFileAttributeReparsePoint);
  EXPECT_TRUE(reader.SamePathIgnoringCase(entry->FinalPath(), canonical)) << Utf8(entry->FinalPath());

  SecuritySnapshot snapshot;
  snapshot.aces.push_back(AceRecord{99, 0, 0, "left over"});
  ASSERT_EQ(entry->ReadSecurity(snapshot), "");
  EXPECT_EQ(snapshot.owner, "S-1-5-21-0-0-0-1000");
  EXPECT_FALSE(snapshot.noDacl);
  ASSERT_FALSE(snapshot.aces.empty());
  bool systemAllowed = false;
  for (const AceRecord& ace : snapshot.aces) {
    EXPECT_NE(ace.aceType, 99) << "the snapshot was not cleared";
    if (ace.aceType == kAceAccessAllowed && ace.sid == "S-1-5-18") systemAllowed = (ace.accessMask & 0x001F01FF) != 0;
    if (ace.aceType == kAceAccessAllowed || ace.aceType == kAceAccessDenied) {
      EXPECT_EQ(ace.sid.rfind("S-1-", 0), 0u) << "unread SID in an entry of type " << int(ace.aceType);
    }
  }
  EXPECT_TRUE(systemAllowed);
}

TEST(Win32TrustReaderTest, OpensAFileAsItselfAndMissingEntriesWithTheirCode) {
  ScratchFolder scratch;
  WriteTextFile(scratch / L"file.txt");
  const Win32TrustReader reader;
  uint32_t error = 0;
  const std::unique_ptr<IOpenedEntry> file = reader.Open(OpenFormOf(CanonicalScratch(scratch) + L"\\file.txt"), error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(AttributeVerdict(file->ReadAttributes()), "is not a directory");

  EXPECT_EQ(reader.Open(OpenFormOf(CanonicalScratch(scratch) + L"\\missing"), error), nullptr);
  EXPECT_EQ(error, kErrorFileNotFound);
  EXPECT_EQ(reader.Open(OpenFormOf(CanonicalScratch(scratch) + L"\\missing\\deeper"), error), nullptr);
  EXPECT_EQ(error, kErrorPathNotFound);
}

TEST(Win32TrustReaderTest, SecurityUnreadableThroughAHandleWithoutReadControl) {
  ScratchFolder scratch;
  FileHandle handle(CreateFileW(OpenFormOf(CanonicalScratch(scratch)).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  ASSERT_TRUE(handle) << GetLastError();
  const Win32OpenedEntry entry(std::move(handle));
  SecuritySnapshot snapshot;
  EXPECT_EQ(entry.ReadSecurity(snapshot), "security unreadable (5)");
}

TEST(Win32TrustReaderTest, ComparesPathsByOrdinalIgnoringCase) {
  const Win32TrustReader reader;
  EXPECT_TRUE(reader.SamePathIgnoringCase(L"C:\\Users\\\u00e9t\u00e9", L"c:\\USERS\\\u00c9T\u00c9"));
  EXPECT_FALSE(reader.SamePathIgnoringCase(L"C:\\a", L"C:\\a\\"));
  EXPECT_FALSE(reader.SamePathIgnoringCase(L"", L"C:\\"));
}

TEST(CanonicalPathTest, FoldsTrimsAndRejects) {
  ScratchFolder scratch;
  MakeFolder(scratch / L"b");
  const WideString base = CanonicalScratch(scratch);
  EXPECT_EQ(CanonicalPath(base + L"\\a\\..\\b\\"), base + L"\\b");
  EXPECT_EQ(CanonicalPath(L"\\\\?\\" + base + L"\\b\\\\"), base + L"\\b");
  EXPECT_EQ(CanonicalPath(base + L"/b/"), base + L"\\b");
  // A missing tail keeps its spelling; only existing paths are expanded.
  EXPECT_EQ(CanonicalPath(base + L"\\missing\\x"), base + L"\\missing\\x");
  EXPECT_EQ(CanonicalPath(L"C:\\"), L"C:\\");
  EXPECT_EQ(CanonicalPath(L"\\\\?\\UNC\\server\\share\\x\\"), L"\\\\server\\share\\x");
  EXPECT_EQ(CanonicalPath(L""), L"");
  EXPECT_EQ(CanonicalPath(WideString{L'C', L':', L'\\', L'\0', L'x'}), L"");
}

TEST(CanonicalPathTest, ExpandsShortNames) {
  ScratchFolder scratch;
  MakeFolder(scratch / L"a folder with a long name");
  const WideString longName = CanonicalScratch(scratch) + L"\\a folder with a long name";
  wchar_t shortName[MAX_PATH + 1] = {};
  const DWORD length = GetShortPathNameW(longName.c_str(), shortName, MAX_PATH + 1);
  ASSERT_NE(length, 0u) << GetLastError();
  ASSERT_LT(length, static_cast<DWORD>(MAX_PATH + 1));
  // Wine 8 expands short names only without the long-path prefix: for "\\?\" + a short path it returns that path
  // unchanged. Windows expands both; the canonical form asks with the prefix so that long paths work too.
  const WideString prefixedShort = L"\\\\?\\" + WideString(shortName);
  wchar_t probe[MAX_PATH + 8] = {};
  const DWORD probed = GetLongPathNameW(prefixedShort.c_str(), probe, MAX_PATH + 8);
  if (probed != 0 && prefixedShort == probe && longName != shortName) {
    GTEST_SKIP() << "this system does not expand short names behind \\\\?\\";
  }
  EXPECT_TRUE(Win32TrustReader().SamePathIgnoringCase(CanonicalPath(shortName), longName))
      << Utf8(shortName) << " became " << Utf8(CanonicalPath(shortName));
}

TEST(CheckFolderTest, NamesTheWineOwnerOfARealFolder) {
  ScratchFolder scratch;
  EXPECT_EQ(CheckFolder(scratch.Path()), Utf8(CanonicalScratch(scratch)) + kWineOwnerVerdict);
  EXPECT_EQ(CheckFolder(L"\\\\?\\" + scratch.Path() + L"\\"), Utf8(CanonicalScratch(scratch)) + kWineOwnerVerdict);
  EXPECT_EQ(CheckFolder(L"C:\\"), "C:\\" + kWineOwnerVerdict);
}

TEST(CheckFolderTest, AFileAndAMissingFolder) {
  ScratchFolder scratch;
  WriteTextFile(scratch / L"file.txt");
  const std::string base = Utf8(CanonicalScratch(scratch));
  EXPECT_EQ(CheckFolder(scratch / L"file.txt"), base + "\\file.txt is not a directory");
  EXPECT_EQ(CheckFolder(scratch / L"missing"), base + "\\missing: cannot open (2)");
  EXPECT_EQ(CheckFolder(L""), " is not a valid path");
}

TEST(CheckFolderTest, ARelativePathIsJudgedAgainstTheCurrentDirectory) {
  ScratchFolder scratch;
  MakeFolder(scratch / L"sub");
  wchar_t previous[MAX_PATH + 1] = {};
  ASSERT_NE(GetCurrentDirectoryW(MAX_PATH + 1, previous), 0u);
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path().c_str()));
  const std::string verdict = CheckFolder(L"sub");
  const std::string walked = CheckPathAndParents(L"sub\\missing", WalkMode::ExistingOnly);
  SetCurrentDirectoryW(previous);
  EXPECT_EQ(verdict, Utf8(CanonicalScratch(scratch)) + "\\sub" + kWineOwnerVerdict);
  // The walk opens every folder before it reads any security, so the missing one is named, not C:\.
  EXPECT_EQ(walked, Utf8(CanonicalScratch(scratch)) + "\\sub\\missing: cannot open (2)");
}

TEST(CheckPathAndParentsTest, TheDriveRootIsTheFirstOffenderUnderWine) {
  ScratchFolder scratch;
  MakeFolder(scratch / L"sub");
  for (const WalkMode mode : kAllModes) {
    EXPECT_EQ(CheckPathAndParents(scratch / L"sub", mode), "C:\\" + kWineOwnerVerdict);
  }
  EXPECT_EQ(CheckPathAndParents(L"C:\\", WalkMode::ExistingOnly), "C:\\" + kWineOwnerVerdict);
}

TEST(CheckPathAndParentsTest, MissingFoldersPerMode) {
  ScratchFolder scratch;
  const std::string base = Utf8(CanonicalScratch(scratch));
  EXPECT_EQ(CheckPathAndParents(scratch / L"missing", WalkMode::ExistingOnly), base + "\\missing: cannot open (2)");
  EXPECT_EQ(CheckPathAndParents(scratch / L"missing\\deeper", WalkMode::ExistingOnly),
            base + "\\missing: cannot open (2)");
  // A missing tail is no failure in the other modes; the existing part is judged, and under Wine its root fails.
  for (const WalkMode mode : {WalkMode::MissingAllowed, WalkMode::MissingJudged}) {
    EXPECT_EQ(CheckPathAndParents(scratch / L"missing\\deeper", mode), "C:\\" + kWineOwnerVerdict);
  }
}

TEST(CheckPathAndParentsTest, AMissingDriveRootIsNeverAccepted) {
  const DWORD drives = GetLogicalDrives();
  wchar_t letter = 0;
  for (wchar_t candidate = L'Y'; candidate > L'D'; --candidate) {
    if (!(drives & (1u << (candidate - L'A')))) {
      letter = candidate;
      break;
    }
  }
  ASSERT_NE(letter, 0) << "every drive letter is in use";
  const WideString root = WideString(1, letter) + L":\\";
  for (const WalkMode mode : kAllModes) {
    const std::string verdict = CheckPathAndParents(root + L"Corvella", mode);
    EXPECT_EQ(verdict.rfind(Utf8(root) + ": cannot open (", 0), 0u) << verdict;
    EXPECT_EQ(verdict.back(), ')') << verdict;
  }
}

TEST(CheckPathAndParentsTest, AFileOnThePathIsNamedBeforeAnySecurity) {
  ScratchFolder scratch;
  WriteTextFile(scratch / L"file.txt");
  const std::string base = Utf8(CanonicalScratch(scratch));
  for (const WalkMode mode : kAllModes) {
    EXPECT_EQ(CheckPathAndParents(scratch / L"file.txt", mode), base + "\\file.txt is not a directory");
    EXPECT_EQ(CheckPathAndParents(scratch / L"file.txt\\below", mode), base + "\\file.txt is not a directory");
  }
}

TEST(CheckPathAndParentsTest, SharesAndDevicePathsAreNotDrivePaths) {
  EXPECT_EQ(CheckPathAndParents(L"\\\\server\\share\\x", WalkMode::ExistingOnly),
            "\\\\server\\share\\x is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParents(L"\\\\?\\UNC\\server\\share\\x", WalkMode::MissingJudged),
            "\\\\?\\UNC\\server\\share\\x is not an absolute path on a drive letter");
  EXPECT_EQ(CheckPathAndParents(L"\\\\.\\C:\\x", WalkMode::MissingAllowed),
            "\\\\.\\C:\\x is not an absolute path on a drive letter");
}

TEST(CheckPathAndParentsTest, VolumeAndDevicePathsAreNotJudgedBelowTheCurrentDirectory) {
  // Stripped of "\\?\", these would read as relative paths; the current directory is a real folder that would be
  // judged in their place.
  ScratchFolder scratch;
  MakeFolder(scratch / L"Volume{00000000-0000-0000-0000-000000000000}");
  MakeFolder(scratch / L"GLOBALROOT");
  const DWORD length = GetCurrentDirectoryW(0, nullptr);
  WideString previous(length, L'\0');
  previous.resize(GetCurrentDirectoryW(length, previous.data()));
  ASSERT_TRUE(SetCurrentDirectoryW(scratch.Path().c_str()));
  for (const wchar_t* path : {L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\Apps",
                              L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\Apps", L"\\\\?\\unc\\server\\share\\x",
                              L"//?/C:/x", L"\\??\\C:\\x"}) {
    EXPECT_EQ(CanonicalPath(path), L"") << WideToUtf8(path);
    for (WalkMode mode : {WalkMode::ExistingOnly, WalkMode::MissingAllowed, WalkMode::MissingJudged}) {
      EXPECT_EQ(CheckPathAndParents(path, mode), WideToUtf8(path) + " is not an absolute path on a drive letter");
    }
  }
  SetCurrentDirectoryW(previous.c_str());
}

TEST(CheckPathAndParentsTest, AnAlternateStreamIsNotTheFolder) {
  ScratchFolder scratch;
  const std::string verdict = CheckPathAndParents(scratch.Path() + L"::$INDEX_ALLOCATION", WalkMode::ExistingOnly);
  // Whether the system opens the folder through its index stream or refuses the name, the walk must not judge the
  // stream name as if it were a plain folder and pass on to its security.
  EXPECT_EQ(verdict.rfind(Utf8(CanonicalScratch(scratch)) + "::$INDEX_ALLOCATION", 0), 0u) << verdict;
}

TEST(Win32TrustReaderTest, NamesAccountsWithAndWithoutADomain) {
  const Win32TrustReader reader;
  EXPECT_EQ(reader.AccountName("S-1-5-32-544"), "BUILTIN\\Administrators");
  EXPECT_EQ(reader.AccountName("S-1-5-18"), "NT AUTHORITY\\SYSTEM");
  EXPECT_EQ(reader.AccountName("S-1-1-0"), "Everyone");
  EXPECT_NE(reader.AccountName("S-1-5-21-0-0-0-1000").find('\\'), std::string::npos);  // "<host>\\<user>"
  EXPECT_EQ(reader.AccountName("S-1-5-21-1-2-3-4242"), "");
  EXPECT_EQ(reader.AccountName("not a SID"), "");
}

TEST(CheckTrustedFolderTest, NamesTheCreateRightBesideTheOwnerUnderWine) {
  // Under Wine the Wine user holds full control of C:\ and so may create folders there.
  const std::string wineUser = Win32TrustReader().AccountName("S-1-5-21-0-0-0-1000");
  ASSERT_NE(wineUser, "");
  EXPECT_EQ(CreateRightsText(L"C:\\"), wineUser + " may create folders in C:\\");
  EXPECT_EQ(CheckTrustedFolder(L"C:\\"), "C:\\" + kWineOwnerVerdict + "; " + wineUser + " may create folders in C:\\");
}

}  // namespace
}  // namespace kestrova::securefs
