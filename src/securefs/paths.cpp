#include "securefs/paths.h"

namespace kestrova::securefs {

WideString DisplayPath(WideView path) {
  if (path.size() >= 8 && path.substr(0, 8) == L"\\\\?\\UNC\\") return L"\\\\" + WideString(path.substr(8));
  if (path.size() >= 4 && path.substr(0, 4) == L"\\\\?\\") return WideString(path.substr(4));
  return WideString(path);
}

WideString TrimTrailingSeparators(WideView path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return WideString(path);
}

}  // namespace kestrova::securefs
