#include "machine/uninstall_rules.h"

namespace kestrova::machine {
namespace {

WideView DropAllTrailingSeparators(WideView path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return path;
}

}  // namespace

std::vector<WideString> AppDirSiblings(const appdirswap::LayoutPaths& paths) {
  return {paths.partial, paths.staging, paths.lkg, paths.rejected, paths.appdir + L".updateui"};
}

bool IsProtectedAppDirName(WideView display, const std::vector<WideString>& knownFolders,
                           securefs::EqualIgnoringCase equal) {
  const WideView folder = DropAllTrailingSeparators(display);
  if (folder.size() <= 3) return true;
  for (const WideString& known : knownFolders) {
    const WideView trimmed = DropAllTrailingSeparators(known);
    if (!trimmed.empty() && trimmed.size() == folder.size() && equal(trimmed, folder)) return true;
  }
  return false;
}

}  // namespace kestrova::machine
