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

TEST(JudgeRejectedAppDirTest, PathsThatDependOnACurrentFolderAreRefusedTheRestKept) {
  const std::pair<std::vector<const wchar_t*>, RejectedAppDir> groups[] = {
      // "@", "[", "`" and "{" lie beside the drive letters.
      {{L"app", L"..\\x", L"", L"@:\\x", L"[:\\x", L"`:\\x", L"{:\\x"}, {true, "is a relative path"}},
      {{L"\\app", L"/app"}, {true, "names no drive, so it is relative to the current drive"}},
      {{L"A:", L"z:.", L"Z:app", L"a:..\\x", L"\\\\?\\C:"}, {true, "is relative to the current folder of its drive"}},
      {{L"C:\\", L"z:/", L"\\\\?\\C:\\"}, {false, "it is a drive root"}},
      {{L"\\\\s\\share\\x", L"//s/share/x", L"\\\\?\\UNC\\s\\share\\x"}, {false, "it is a network path"}},
      {{L"\\\\.\\C:\\x", L"\\??\\C:\\x"}, {false, "it is a device path"}},
      // A space (0x20) inside a name is allowed; the dot after it is not.
      {{L"C:\\x.", L"C:\\x ", L"C:\\..\\x", L"C:\\x\\\\y", L"C:\\x y."},
       {false, "a folder name in it is empty or ends in a dot or a space"}},
      {{L"C:\\x:y", L"C:\\x|y", L"C:\\x\x1fy"}, {false, "a folder name in it holds a character Windows does not allow"}},
  };
  for (const auto& [paths, expected] : groups) {
    for (const wchar_t* path : paths) {
      const RejectedAppDir judged = JudgeRejectedAppDir(path);
      EXPECT_EQ(judged.refuse, expected.refuse) << WideToUtf8(path);
      EXPECT_EQ(judged.reason, expected.reason) << WideToUtf8(path);
    }
  }
}

}  // namespace
}  // namespace kestrova::machine
