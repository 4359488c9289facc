#include "recovery/task_scheduler.h"

#include <gtest/gtest.h>

namespace kestrova::recovery {
namespace {

TEST(TaskRemovalTest, HresultsAreEightUpperCaseHexDigits) {
  EXPECT_EQ(FormatHresult(0), "0x00000000");
  EXPECT_EQ(FormatHresult(kHresultFileNotFound), "0x80070002");
  EXPECT_EQ(FormatHresult(static_cast<HResult>(0x8007000Eu)), "0x8007000E");
  EXPECT_EQ(FormatHresult(static_cast<HResult>(0x80010106u)), "0x80010106");
  EXPECT_EQ(FormatHresult(1), "0x00000001");
}

TEST(TaskRemovalTest, MessagesByOutcome) {
  struct Case {
    const char* name;
    TaskRemoval removal;
    const char* info;
    const char* warning;
  };
  const Case cases[] = {
      {"deleted", {true, 0, 0}, "recovery: delete task: ok", ""},
      {"task missing in the folder", {true, 0, kHresultFileNotFound}, "recovery: delete task: 0x80070002", ""},
      {"access denied on delete", {true, 0, static_cast<HResult>(0x80070005u)}, "recovery: delete task: 0x80070005",
       ""},
      {"no task folder", {false, kHresultPathNotFound, 0}, "", ""},
      {"file not found on the way", {false, kHresultFileNotFound, 0}, "", ""},
      {"scheduler unreachable", {false, static_cast<HResult>(0x80070005u), 0}, "",
       "recovery: could not open the task folder: 0x80070005"},
      {"COM not started", {false, static_cast<HResult>(0x8007000Eu), 0}, "",
       "recovery: could not open the task folder: 0x8007000E"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeleteTaskMessage(c.removal), c.info) << c.name;
    EXPECT_EQ(OpenFolderWarning(c.removal), c.warning) << c.name;
  }
}

}  // namespace
}  // namespace kestrova::recovery
