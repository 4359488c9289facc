#include "securefs/folders.h"

#include <gtest/gtest.h>

#include "core/unique_handle_win32.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::securefs {
namespace {

using kestrova::test::CapturedReports;
using kestrova::test::ScratchFolder;

constexpr char kAdminOnly[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

using Entries = std::vector<std::pair<ReportLevel, std::string>>;

TEST(CreateFolderTreeTest, CreatesEveryMissingLevel) {
  ScratchFolder scratch;
  kestrova::test::MakeFolder(scratch / L"a");
  const WideString target = scratch / L"a\\b\\c";
  EXPECT_TRUE(CreateFolderTree(target));
  EXPECT_TRUE(kestrova::test::IsFolder(scratch / L"a\\b"));
  EXPECT_TRUE(kestrova::test::IsFolder(target));
  EXPECT_TRUE(CreateFolderTree(target)) << "an existing folder is success";
}

TEST(CreateFolderTreeTest, WorksOnTheLongPathForm) {
  ScratchFolder scratch;
  EXPECT_TRUE(CreateFolderTree(L"\\\\?\\" + scratch.Path() + L"\\x\\y"));
  EXPECT_TRUE(kestrova::test::IsFolder(scratch / L"x\\y"));
}

TEST(CreateFolderTreeTest, ADriveRootCountsAsExistingInEveryForm) {
  for (const wchar_t* root : {L"C:", L"C:\\", L"c:/", L"\\\\?\\C:", L"\\\\?\\C:\\"}) {
    EXPECT_TRUE(CreateFolderTree(root)) << WideToUtf8(root);
  }
  // Wine maps no drive to Q:; a missing drive is not created either.
  EXPECT_FALSE(CreateFolderTree(L"\\\\?\\Q:"));
  EXPECT_FALSE(CreateFolderTree(L"Q:\\x"));
}

TEST(CreateFolderTreeTest, CreatesAFolderDirectlyUnderTheDriveRoot) {
  ScratchFolder scratch(L"C:");  // C:\<unique>, removed at the end
  const WideString target = scratch / L"Corvella";
  EXPECT_TRUE(CreateFolderTree(L"\\\\?\\" + scratch.Path()));
  EXPECT_TRUE(CreateFolderTree(L"\\\\?\\" + target));
  EXPECT_TRUE(kestrova::test::IsFolder(target));
}

TEST(CreateFolderWithSddlTest, CreatesAFolderDirectlyUnderTheDriveRootInTheLongPathForm) {
  // The folder part of "\\?\C:\x" is "\\?\C:", which names the volume device, not a folder to create.
  CapturedReports reports;
  const WideString name = L"kestrova-root-" + std::to_wstring(GetCurrentProcessId());
  const WideString target = L"C:\\" + name;
  EXPECT_TRUE(CreateFolderWithSddl(L"\\\\?\\" + target, kAdminOnly));
  EXPECT_TRUE(kestrova::test::IsFolder(target));
  EXPECT_TRUE(CapturedReports::Entries().empty());
  RemoveDirectoryW(target.c_str());
}

TEST(CreateFolderTreeTest, FailsWhereALevelIsAFile) {
  ScratchFolder scratch;
  kestrova::test::WriteTextFile(scratch / L"a");
  EXPECT_FALSE(CreateFolderTree(scratch / L"a\\b\\c"));
  EXPECT_FALSE(kestrova::test::Exists(scratch / L"a\\b"));
  EXPECT_FALSE(CreateFolderTree(scratch / L"a"));
}

TEST(UnlinkTest, RemovesAReadOnlyFileAndAFolder) {
  ScratchFolder scratch;
  kestrova::test::WriteTextFile(scratch / L"f");
  kestrova::test::MakeReadOnly(scratch / L"f");
  EXPECT_TRUE(Unlink(scratch / L"f", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_FALSE(kestrova::test::Exists(scratch / L"f"));

  kestrova::test::MakeFolder(scratch / L"d");
  EXPECT_TRUE(Unlink(scratch / L"d", FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(kestrova::test::Exists(scratch / L"d"));
}

TEST(UnlinkTest, ChoosesTheCallByTheGivenAttributesAndLeavesTheErrorSet) {
  ScratchFolder scratch;
  kestrova::test::WriteTextFile(scratch / L"f");
  // Taken for a folder, a file is not removed: RemoveDirectoryW refuses it.
  EXPECT_FALSE(Unlink(scratch / L"f", FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(kestrova::test::Exists(scratch / L"f"));

  EXPECT_FALSE(Unlink(scratch / L"missing", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(CreateFolderWithSddlTest, CreatesTheFolderAndMissingParents) {
  ScratchFolder scratch;
  CapturedReports reports;
  const WideString target = scratch / L"p\\q";
  EXPECT_TRUE(CreateFolderWithSddl(target, kAdminOnly));
  EXPECT_TRUE(kestrova::test::IsFolder(target));
  EXPECT_EQ(CapturedReports::Entries(), Entries{});
}

TEST(CreateFolderWithSddlTest, ReportsAnExistingFolder) {
  ScratchFolder scratch;
  kestrova::test::MakeFolder(scratch / L"exists");
  CapturedReports reports;
  EXPECT_FALSE(CreateFolderWithSddl(scratch / L"exists", kAdminOnly));
  const Entries expected{{kReportError, "could not create " + WideToUtf8(scratch / L"exists") + ": 183"}};
  EXPECT_EQ(CapturedReports::Entries(), expected);
}

TEST(CreateFolderWithSddlTest, ReportsBadSddlAndCreatesNothing) {
  ScratchFolder scratch;
  CapturedReports reports;
  EXPECT_FALSE(CreateFolderWithSddl(scratch / L"new", "D:P(this is not SDDL"));
  EXPECT_FALSE(kestrova::test::Exists(scratch / L"new"));
  const Entries expected{{kReportError, "could not parse SDDL for " + WideToUtf8(scratch / L"new")}};
  EXPECT_EQ(CapturedReports::Entries(), expected);
}

TEST(CreateFolderWithSddlTest, FailsSilentlyWhenTheParentCannotBeMade) {
  ScratchFolder scratch;
  kestrova::test::WriteTextFile(scratch / L"file");
  CapturedReports reports;
  EXPECT_FALSE(CreateFolderWithSddl(scratch / L"file\\sub", kAdminOnly));
  EXPECT_EQ(CapturedReports::Entries(), Entries{});
}

TEST(ApplySddlTest, ReportsTextThatDoesNotConvertOrHasNoDacl) {
  ScratchFolder scratch;
  CapturedReports reports;
  const std::string shown = WideToUtf8(scratch.Path());
  EXPECT_FALSE(ApplySddl(nullptr, scratch.Path(), "garbage"));
  EXPECT_FALSE(ApplySddl(nullptr, scratch.Path(), "O:BA"));
  const Entries expected{{kReportError, "could not parse SDDL for " + shown},
                         {kReportError, "could not parse SDDL for " + shown}};
  EXPECT_EQ(CapturedReports::Entries(), expected);
}

TEST(ApplySddlTest, WritesThroughAHandleOrByPath) {
  ScratchFolder scratch;
  CapturedReports reports;
  FileHandle folder(CreateFileW(scratch.Path().c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(folder) << GetLastError();
  EXPECT_TRUE(ApplySddl(folder.get(), scratch.Path(), kAdminOnly));
  EXPECT_TRUE(ApplySddl(nullptr, scratch.Path(), kAdminOnly));
  EXPECT_EQ(CapturedReports::Entries(), Entries{});
}

TEST(ApplySddlTest, WritesTheDaclAloneWhenTheHandleCannotWriteTheOwner) {
  ScratchFolder scratch;
  CapturedReports reports;
  FileHandle folder(CreateFileW(scratch.Path().c_str(), READ_CONTROL | WRITE_DAC,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(folder) << GetLastError();
  EXPECT_TRUE(ApplySddl(folder.get(), scratch.Path(), kAdminOnly));
  const Entries expected{{kReportWarning, "could not take ownership of " + WideToUtf8(scratch.Path()) +
                                              " (5); setting the DACL only"}};
  EXPECT_EQ(CapturedReports::Entries(), expected);
}

TEST(ApplySddlTest, FallsBackToTheDaclAloneThenReportsTheFinalError) {
  ScratchFolder scratch;
  CapturedReports reports;
  const WideString missing = scratch / L"missing";
  const std::string shown = WideToUtf8(missing);
  EXPECT_FALSE(ApplySddl(nullptr, missing, kAdminOnly));
  const Entries expected{{kReportWarning, "could not take ownership of " + shown + " (2); setting the DACL only"},
                         {kReportError, "could not set the DACL of " + shown + ": 2"}};
  EXPECT_EQ(CapturedReports::Entries(), expected);
}

}  // namespace
}  // namespace kestrova::securefs
