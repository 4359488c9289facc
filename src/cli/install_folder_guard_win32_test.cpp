#include "cli/install_folder_guard.h"

#include <gtest/gtest.h>

#include "support/scratch_folder_win32.h"

// Under Wine the Wine user holds full control of every folder, so each existing parent names that user; what
// matters here is which folder is judged for an install folder.
namespace kestrova {
namespace {

using kestrova::test::ScratchFolder;

TEST(InstallFolderCreateRightsTest, JudgesTheExistingParentOfTheInstallFolder) {
  const std::string root = InstallFolderCreateRights(L"C:\\Corvella");
  EXPECT_TRUE(root.ends_with(" may create folders in C:\\")) << root;

  ScratchFolder scratch;
  const std::string below = InstallFolderCreateRights(scratch / L"Corvella");
  EXPECT_TRUE(below.ends_with(" may create folders in " + WideToUtf8(scratch.Path()))) << below;
  EXPECT_EQ(InstallFolderCreateRights(scratch / L"missing\\Corvella"), "");
  EXPECT_EQ(InstallFolderCreateRights(L"\\\\?\\C:"), "");
  EXPECT_EQ(InstallFolderCreateRights(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\Corvella"), "");
}

}  // namespace
}  // namespace kestrova
