#include "securefs/canonical_path.h"

namespace kestrova::securefs {
namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

bool IsDriveAbsolute(WideView canonical) {
  return canonical.size() >= 3 && IsAsciiLetter(canonical[0]) && canonical[1] == L':' && canonical[2] == L'\\';
}

bool IsDriveRoot(WideView canonical) { return canonical.size() == 3 && IsDriveAbsolute(canonical); }

std::vector<WideString> PathPrefixes(WideView canonical) {
  std::vector<WideString> prefixes;
  if (!IsDriveAbsolute(canonical)) return prefixes;
  prefixes.emplace_back(canonical.substr(0, 3));
  for (size_t i = 3; i < canonical.size(); ++i) {
    if (canonical[i] != L'\\' || canonical[i - 1] == L'\\') continue;
    prefixes.emplace_back(canonical.substr(0, i));
  }
  if (prefixes.back() != canonical) prefixes.emplace_back(canonical);
  return prefixes;
}

WideString OpenFormOf(WideView canonical) {
  if (canonical.size() >= 2 && canonical[0] == L'\\' && canonical[1] == L'\\') {
    return L"\\\\?\\UNC\\" + WideString(canonical.substr(2));
  }
  return L"\\\\?\\" + WideString(canonical);
}

bool HasEmbeddedNul(WideView path) { return path.find(L'\0') != WideView::npos; }

}  // namespace kestrova::securefs
