#include "appdirswap/foreign_entries.h"

namespace kestrova::appdirswap {
namespace {

void AddIfForeign(const WideString& path, FolderState state, const std::string& verdict, std::vector<GcItem>& items) {
  if (IsForeign(state, verdict)) items.push_back(GcItem{path, IsEntryOnly(state), kForeignReason, verdict});
}

}  // namespace

bool HasUsableCopy(const LayoutSnapshot& snapshot) {
  return IsUsable(snapshot.staging_state, snapshot.staging_admin_owned) ||
         IsUsable(snapshot.lkg_state, snapshot.lkg_admin_owned);
}

std::vector<GcItem> ForeignItems(const LayoutSnapshot& snapshot) {
  std::vector<GcItem> items;
  if (!snapshot.valid) return items;
  const LayoutPaths& paths = snapshot.paths;
  AddIfForeign(paths.rejected, snapshot.rejected_state, snapshot.rejected_verdict, items);
  AddIfForeign(paths.partial, snapshot.partial_state, snapshot.partial_verdict, items);
  AddIfForeign(paths.staging, snapshot.staging_state, snapshot.staging_verdict, items);
  // A file or a link at .lkg is never a copy, so it may go at any time.
  if (IsAppdirPresent(snapshot) || IsEntryOnly(snapshot.lkg_state)) {
    AddIfForeign(paths.lkg, snapshot.lkg_state, snapshot.lkg_verdict, items);
  }
  if (HasUsableCopy(snapshot)) AddIfForeign(paths.appdir, snapshot.appdir_state, snapshot.appdir_verdict, items);
  return items;
}

bool RemoveForeignEntries(const Remover& remover, SwapResult& result) {
  if (!remover) return false;
  const std::vector<GcItem> items = ForeignItems(result.snapshot);
  for (const GcItem& item : items) {
    if (!remover(item)) result.foreign_left.push_back(ForeignEntry{item.path, item.verdict});
  }
  return !items.empty();
}

}  // namespace kestrova::appdirswap
