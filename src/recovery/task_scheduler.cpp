#include "recovery/task_scheduler.h"

#include <cstdio>

namespace kestrova::recovery {

std::string FormatHresult(HResult result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(static_cast<uint32_t>(result)));
  return text;
}

std::string DeleteTaskMessage(const TaskRemoval& removal) {
  if (!removal.opened) return {};
  return "recovery: delete task: " + (removal.delete_result >= 0 ? std::string("ok") : FormatHresult(removal.delete_result));
}

std::string OpenFolderWarning(const TaskRemoval& removal) {
  if (removal.opened || removal.open_result == kHresultFileNotFound || removal.open_result == kHresultPathNotFound) {
    return {};
  }
  return "recovery: could not open the task folder: " + FormatHresult(removal.open_result);
}

}  // namespace kestrova::recovery
