#include "machine/uninstall_rules.h"

#include <algorithm>

#include "securefs/paths.h"

namespace kestrova::machine {
namespace {

WideView DropAllTrailingSeparators(WideView path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return path;
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool IsForbiddenInName(wchar_t c) { return c < 0x20 || WideView(L":*?\"<>|").find(c) != WideView::npos; }

RejectedAppDir Refused(const char* reason) { return {true, reason}; }
RejectedAppDir Kept(const char* reason) { return {false, reason}; }

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

RejectedAppDir JudgeRejectedAppDir(WideView appdir) {
  if (securefs::IsOtherDeviceForm(appdir)) return Kept("it is a device path");
  WideString text(appdir);
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.compare(0, 4, L"\\\\?\\") == 0) {
    // What is left is "UNC\..." or a drive path, since IsOtherDeviceForm took every other long form.
    text.erase(0, 4);
    if (text.compare(0, 4, L"UNC\\") == 0) return Kept("it is a network path");
  }
  if (text.compare(0, 2, L"\\\\") == 0) return Kept("it is a network path");
  // LongPath resolves all of these against a current folder, which is whatever the caller's process happens to have.
  if (text.compare(0, 1, L"\\") == 0) return Refused("names no drive, so it is relative to the current drive");
  if (text.size() < 2 || !IsAsciiLetter(text[0]) || text[1] != L':') return Refused("is a relative path");
  if (text.size() == 2 || text[2] != L'\\') return Refused("is relative to the current folder of its drive");

  const WideView below = DropAllTrailingSeparators(WideView(text).substr(3));
  if (below.empty()) return Kept("it is a drive root");
  if (std::any_of(below.begin(), below.end(), IsForbiddenInName)) {
    return Kept("a folder name in it holds a character Windows does not allow");
  }
  return Kept("a folder name in it is empty or ends in a dot or a space");
}

}  // namespace kestrova::machine
