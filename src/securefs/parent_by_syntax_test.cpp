#include "securefs/parent_by_syntax.h"

#include <gtest/gtest.h>

namespace kestrova::securefs {
namespace {

TEST(ParentBySyntaxTest, DropsTheLastElement) {
  struct Case {
    const wchar_t* path;
    const wchar_t* parent;
  };
  const Case cases[] = {
      {L"C:\\ProgramData\\Kestrova\\Updates", L"C:\\ProgramData\\Kestrova"},
      {L"C:\\ProgramData\\Kestrova", L"C:\\ProgramData"},
      {L"C:\\a", L"C:\\"},
      {L"C:/a", L"C:/"},
      {L"C:\\a\\b\\", L"C:\\a\\b"},
      {L"C:\\", L"C:\\"},
      {L"\\\\?\\C:\\a", L"\\\\?\\C:\\"},
      {L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a"},
      {L"\\\\server\\share\\x", L"\\\\server\\share"},
      {L"D:\\u/logs", L"D:\\u"},
      {L"name", L""},
      {L"", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ParentBySyntax(c.path), c.parent) << WideToUtf8(c.path);
}

}  // namespace
}  // namespace kestrova::securefs
