#include "machine/uninstall_rules.h"

#include <gtest/gtest.h>

namespace kestrova::machine {
namespace {

TEST(AppDirSiblingsTest, FiveSuffixesInRemovalOrderForAFolderUnderTheDriveRoot) {
  appdirswap::LayoutPaths paths;
  ASSERT_TRUE(appdirswap::ParseAppdir(L"C:\\Corvella\\", paths));
  EXPECT_EQ(AppDirSiblings(paths),
            (std::vector<WideString>{L"C:\\Corvella.staging.partial", L"C:\\Corvella.staging", L"C:\\Corvella.lkg",
                                     L"C:\\Corvella.rejected", L"C:\\Corvella.updateui"}));
}

TEST(AppDirSiblingsTest, NonAsciiAndDeepFoldersKeepTheirName) {
  appdirswap::LayoutPaths paths;
  const WideString deep = L"D:\\Programme\\K\u00e4strova\\" + WideString(200, L'x') + L"\\Corvella";
  ASSERT_TRUE(appdirswap::ParseAppdir(deep, paths));
  const auto siblings = AppDirSiblings(paths);
  ASSERT_EQ(siblings.size(), 5u);
  EXPECT_EQ(siblings.back(), deep + L".updateui");
}

const std::vector<WideString> kKnown = {L"C:\\Program Files",
                                        L"C:\\Program Files (x86)",
                                        L"C:\\ProgramData",
                                        L"C:\\Windows",
                                        L"C:\\Users",
                                        L"C:\\Users\\root\\",
                                        L""};

TEST(IsProtectedAppDirNameTest, DrivesRootsAndKnownFoldersAreProtected) {
  const wchar_t* protectedNames[] = {L"C:",
                                     L"C:\\",
                                     L"d:/",
                                     L"C:\\\\",
                                     L"C:\\Program Files",
                                     L"c:\\program files\\",
                                     L"C:\\PROGRAM FILES (X86)//",
                                     L"C:\\ProgramData",
                                     L"C:\\windows",
                                     L"C:\\Users",
                                     L"C:\\Users\\root",
                                     L""};
  for (const wchar_t* name : protectedNames) {
    EXPECT_TRUE(IsProtectedAppDirName(name, kKnown, securefs::AsciiEqualIgnoringCase)) << WideToUtf8(name);
  }
}

TEST(IsProtectedAppDirNameTest, ProductFoldersAreNot) {
  const wchar_t* names[] = {L"C:\\Corvella",
                            L"C:\\Program Files\\Corvella",
                            L"C:\\Program Files\\Corvella\\",
                            L"C:\\Program",
                            L"C:\\Users\\root\\Corvella",
                            L"D:\\Program Files",  // another drive's folder of the same name is not the known one
                            L"C:\\x"};
  for (const wchar_t* name : names) {
    EXPECT_FALSE(IsProtectedAppDirName(name, kKnown, securefs::AsciiEqualIgnoringCase)) << WideToUtf8(name);
  }
  // An empty list of known folders (the shell gave none) protects the roots still.
  EXPECT_TRUE(IsProtectedAppDirName(L"Z:\\", {}, securefs::AsciiEqualIgnoringCase));
  EXPECT_FALSE(IsProtectedAppDirName(L"Z:\\Corvella", {}, securefs::AsciiEqualIgnoringCase));
}

}  // namespace
}  // namespace kestrova::machine
