#include "core/elevation.h"

#include <windows.h>

#include "core/unique_handle_win32.h"

namespace kestrova {

bool IsKnownUnelevated() {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) return false;
  return elevation.TokenIsElevated == 0;
}

}  // namespace kestrova
