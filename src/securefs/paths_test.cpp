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

}  // namespace
}  // namespace kestrova::securefs
