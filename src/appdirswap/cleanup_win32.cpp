#include "appdirswap/cleanup.h"

#include "core/log.h"
#include "securefs/delete_tree.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {

bool RemoveGcItem(const GcItem& item, uint32_t& error) {
  DWORD code = 0;
  // The marker goes first: a removal cut short leaves a folder that the next pass sees as incomplete, never one that
  // still reads complete with half of its files gone.
  const bool removed =
      securefs::DeleteTreeByHandle(ToLongPathForm(item.path), code,
                                   item.entry_only ? WideView() : WideView(kMarkerName));
  error = removed ? 0 : code;
  return removed;
}

Remover LoggingRemover(const char* prefix) {
  return [prefix](const GcItem& item) {
    const std::string shown = WideToUtf8(securefs::DisplayPath(item.path));
    if (!item.verdict.empty()) {
      LogWarn("%s: %s is not admin-only (%s); removing it", prefix, shown.c_str(), item.verdict.c_str());
    }
    uint32_t error = 0;
    const bool removed = RemoveGcItem(item, error);
    if (removed) {
      LogInfo("%s: removed %s (%s)", prefix, shown.c_str(), item.reason);
    } else {
      LogWarn("%s: could not remove %s (%s): %u", prefix, shown.c_str(), item.reason, error);
    }
    return removed;
  };
}

bool RemoveAndLog(const GcItem& item) { return LoggingRemover("swap")(item); }

}  // namespace kestrova::appdirswap
