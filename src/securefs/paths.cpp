#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:" alone or followed by one separator.
bool IsBareDriveRoot(WideView path) {
  if (path.size() < 2 || path.size() > 3 || !IsAsciiLetter(path[0]) || path[1] != L':') return false;
  return path.size() == 2 || IsSeparator(path[2]);
}

}  // namespace

WideString DisplayPath(WideView path) {
  if (path.size() >= 8 && path.substr(0, 8) == L"\\\\?\\UNC\\") return L"\\\\" + WideString(path.substr(8));
  if (path.size() >= 4 && path.substr(0, 4) == L"\\\\?\\") return WideString(path.substr(4));
  return WideString(path);
}

WideString TrimTrailingSeparators(WideView path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return WideString(path);
}

bool IsDriveRootForm(WideView path) {
  if (path.size() >= 4 && path.substr(0, 4) == L"\\\\?\\") path.remove_prefix(4);
  return IsBareDriveRoot(path);
}

bool IsOtherDeviceForm(WideView path) {
  if (path.size() >= 4 && path.substr(0, 4) == L"\\??\\") return true;
  if (path.size() < 4 || !IsSeparator(path[0]) || !IsSeparator(path[1]) || (path[2] != L'?' && path[2] != L'.') ||
      !IsSeparator(path[3])) {
    return false;
  }
  if (path.substr(0, 4) != L"\\\\?\\") return true;
  const WideView rest = path.substr(4);
  if (rest.size() >= 4 && rest.substr(0, 4) == L"UNC\\") return false;
  const bool driveLetter = rest.size() >= 2 && IsAsciiLetter(rest[0]) && rest[1] == L':' &&
                           (rest.size() == 2 || rest[2] == L'\\');
  return !driveLetter;
}

}  // namespace kestrova::securefs
