#include "cli/run_context.h"

namespace kestrova {

StateLocation ResolveStateLocation(const Options& options) {
  StateLocation location;
  location.current_user = options.GetOption("--state-root") == "hkcu";
  if (options.HasOption("--state-key")) location.key = options.GetOption("--state-key");
  return location;
}

PolicyLocation ResolvePolicyLocation(const Options& options) {
  PolicyLocation location;
  location.current_user = options.GetOption("--policy-root") == "hkcu";
  location.key = options.GetOptionWide("--policy-key");
  return location;
}

WideString ResolveUpdatesFolder(const Options& options, const WideString& defaultFolder) {
  if (options.HasOption("--updates-dir")) return NormalizeFolderArgument(options.GetOptionWide("--updates-dir"));
  return defaultFolder;
}

WideString InstallFolderParent(WideView display) {
  const size_t last = display.rfind(L'\\');
  if (last == WideView::npos || last < 2) return {};
  // A backslash right after the drive letter is part of the parent: the root C:\, not the bare drive C:.
  return WideString(display.substr(0, last == 2 ? 3 : last));
}

}  // namespace kestrova
