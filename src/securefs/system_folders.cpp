#include "securefs/system_folders.h"

#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

bool AsciiEqualIgnoringCase(WideView a, WideView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

bool IsAtOrAbove(WideView path, WideView knownFolder, EqualIgnoringCase equal) {
  const WideString trimmedPath = TrimTrailingSeparators(path);
  const WideString trimmedKnown = TrimTrailingSeparators(knownFolder);
  const size_t n = trimmedPath.size();
  if (n == 0 || trimmedKnown.size() < n) return false;
  if (!equal(WideView(trimmedKnown).substr(0, n), trimmedPath)) return false;
  // Without the boundary check "C:\Program" would count as above "C:\Program Files".
  return trimmedKnown.size() == n || trimmedPath.back() == L'\\' || trimmedKnown[n] == L'\\';
}

bool IsDirectlyInside(WideView path, WideView folder, EqualIgnoringCase equal) {
  const WideString trimmedPath = TrimTrailingSeparators(path);
  const WideString trimmedFolder = TrimTrailingSeparators(folder);
  const size_t separator = trimmedPath.find_last_of(L"\\/");
  if (separator == WideString::npos || separator + 1 == trimmedPath.size()) return false;
  const WideView parent = WideView(trimmedPath).substr(0, separator);
  return parent.size() == trimmedFolder.size() && equal(parent, trimmedFolder);
}

bool IsDriveOrShareRoot(WideView path) {
  const WideString trimmed = TrimTrailingSeparators(path);
  if (trimmed.size() >= 2 && trimmed.size() <= 3 && IsDriveLetter(trimmed[0]) && trimmed[1] == L':') {
    return trimmed.size() == 2 || IsSeparator(trimmed[2]);
  }
  if (trimmed.size() < 3 || !IsSeparator(trimmed[0]) || !IsSeparator(trimmed[1])) return false;
  // "\\server" or "\\server\share": at most one separator after the server name, and no empty component.
  const WideView rest = WideView(trimmed).substr(2);
  const size_t separator = rest.find_first_of(L"\\/");
  if (separator == 0) return false;
  if (separator == WideView::npos) return true;
  const WideView share = rest.substr(separator + 1);
  return !share.empty() && share.find_first_of(L"\\/") == WideView::npos;
}

}  // namespace kestrova::securefs
