#include "securefs/paths.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

struct FormCase {
  const wchar_t* input;
  const wchar_t* expected;
};

TEST(DisplayPathTest, DropsOnlyTheLongPathPrefix) {
  const FormCase cases[] = {
      {L"\\\\?\\UNC\\server\\share\\x", L"\\\\server\\share\\x"},
      {L"\\\\?\\C:\\b", L"C:\\b"},
      {L"C:\\b", L"C:\\b"},
      {L"\\\\server\\share", L"\\\\server\\share"},
      {L"\\\\?\\UNC\\", L"\\\\"},
      {L"\\\\?\\UNC", L"UNC"},
      {L"\\\\?\\", L""},
      {L"\\\\?", L"\\\\?"},
      {L"", L""},
      // The prefix is recognised exactly: neither "/" nor lower-case "unc" nor the device form counts.
      {L"//?/C:/b", L"//?/C:/b"},
      {L"\\\\?\\unc\\s\\x", L"unc\\s\\x"},
      {L"\\\\.\\C:\\b", L"\\\\.\\C:\\b"},
      {L"C:\\a\\..\\b\\", L"C:\\a\\..\\b\\"},
  };
  for (const FormCase& c : cases) EXPECT_EQ(DisplayPath(c.input), c.expected) << "input " << WideToUtf8(c.input);
}

TEST(TrimTrailingSeparatorsTest, StopsAtThreeCharacters) {
  const FormCase cases[] = {
      {L"C:\\x\\", L"C:\\x"},   {L"C:\\x\\/\\", L"C:\\x"}, {L"C:\\", L"C:\\"},  {L"C:\\\\", L"C:\\"},
      {L"C:/", L"C:/"},         {L"\\\\", L"\\\\"},        {L"\\\\\\\\", L"\\\\\\"}, {L"ab/", L"ab/"},
      {L"abcd/", L"abcd"},      {L"", L""},                {L"C:\\x", L"C:\\x"},
  };
  for (const FormCase& c : cases) {
    EXPECT_EQ(TrimTrailingSeparators(c.input), c.expected) << "input " << WideToUtf8(c.input);
  }
}

struct FormFlag {
  const wchar_t* path;
  bool expected;
};

TEST(IsDriveRootFormTest, AcceptsEveryWayOfNamingADriveRootAndNothingBelowIt) {
  const FormFlag cases[] = {
      {L"C:", true},        {L"c:\\", true},       {L"Z:/", true},     {L"\\\\?\\C:", true},   {L"\\\\?\\q:\\", true},
      {L"C:\\x", false},    {L"C:\\\\", false},    {L"\\\\?\\C:\\x", false}, {L"1:", false},   {L"\\\\?\\", false},
      {L"", false},         {L"\\\\.\\C:", false}, {L"//?/C:", false}, {L"CC:", false},  {L"\\\\server\\share", false},
  };
  for (const FormFlag& c : cases) EXPECT_EQ(IsDriveRootForm(c.path), c.expected) << WideToUtf8(c.path);
}

TEST(IsOtherDeviceFormTest, OnlyDriveLetterAndShareFormsPass) {
  const FormFlag cases[] = {
      {L"\\\\?\\C:\\x", false},
      {L"\\\\?\\C:", false},
      {L"\\\\?\\UNC\\server\\share\\x", false},
      {L"C:\\x", false},
      {L"\\\\server\\share\\x", false},
      {L"relative\\x", false},
      {L"", false},
      {L"\\\\?\\Volume{0a1b2c3d-0000-0000-0000-000000000000}\\Apps", true},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x", true},
      {L"\\\\.\\C:\\x", true},
      {L"\\\\.\\PhysicalDrive0", true},
      {L"//?/C:/x", true},
      {L"\\\\?\\unc\\server\\share", true},
      {L"\\\\?\\C:/x", true},
      {L"\\??\\C:\\x", true},
  };
  for (const FormFlag& c : cases) EXPECT_EQ(IsOtherDeviceForm(c.path), c.expected) << WideToUtf8(c.path);
}

}  // namespace
}  // namespace kestrova::securefs
