#include "securefs/paths.h"

#include <windows.h>

namespace kestrova::securefs {

WideString LongPath(const WideString& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  // GetFullPathNameW is asked for the size first: the result may be longer than MAX_PATH, and the current directory
  // may change between the calls, which the second length check catches.
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  WideString full(needed, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return path;
  full.resize(written);
  if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

WideString ParentFolderOf(const WideString& path) {
  const WideString display = DisplayPath(LongPath(path));
  const size_t last = display.find_last_of(L"\\/");
  if (last == WideString::npos) return {};
  return display.substr(0, last);
}

}  // namespace kestrova::securefs
