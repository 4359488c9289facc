#include "recovery/script_file.h"

#include <gtest/gtest.h>

namespace kestrova::recovery {
namespace {

TEST(ScriptFileTest, SizeFromOneByteToOneMebibyte) {
  EXPECT_EQ(ScriptSizeProblem(0), "size 0 is out of range");
  EXPECT_EQ(ScriptSizeProblem(1), "");
  EXPECT_EQ(ScriptSizeProblem(1048575), "");
  EXPECT_EQ(ScriptSizeProblem(1048576), "");
  EXPECT_EQ(ScriptSizeProblem(1048577), "size 1048577 is out of range");
  EXPECT_EQ(ScriptSizeProblem(5368709120ull), "size 5368709120 is out of range");
  EXPECT_EQ(ScriptSizeProblem(UINT64_MAX), "size 18446744073709551615 is out of range");
}

}  // namespace
}  // namespace kestrova::recovery
