#include "payload/wine_detect_win32.h"

#include <windows.h>

namespace kestrova::payload {

bool IsRunningUnderWine() {
  // ntdll is mapped into every process, so GetModuleHandleW cannot fail here and nothing needs freeing.
  static const bool wine = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return wine;
}

}  // namespace kestrova::payload
