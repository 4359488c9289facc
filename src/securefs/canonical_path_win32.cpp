#include "securefs/canonical_path.h"

#include <windows.h>

#include "securefs/paths.h"

namespace kestrova::securefs {

WideString CanonicalPath(const WideString& path) {
  // The system calls read the path up to its first NUL; judging that shorter path while the caller keeps the longer
  // one would judge another entry than the one used.
  if (HasEmbeddedNul(path)) return {};
  // Only a drive-letter path and a share lose their long-path prefix. Without it, "\\?\Volume{...}\x" or
  // "\\?\GLOBALROOT\..." would read as a relative path and be judged below the current directory instead.
  if (IsOtherDeviceForm(path)) return {};
  const WideString stripped = DisplayPath(path);
  // Size first, then fill: the current directory may change between the calls, which the second length catches.
  const DWORD needed = GetFullPathNameW(stripped.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  WideString full(needed, L'\0');
  const DWORD written = GetFullPathNameW(stripped.c_str(), needed, full.data(), nullptr);
  if (written == 0 || written >= needed) return {};
  full.resize(written);

  // GetLongPathNameW expands 8.3 names only where every component exists; for a missing tail it fails and the full
  // path stands. The long-path form lifts the MAX_PATH limit; a share needs "\\?\UNC\", not "\\?\" in front of "\\".
  // Wine 8 answers a prefixed short path with the path unchanged, so there 8.3 names stay as given; the walk's
  // final-path comparison then reports such a prefix as resolving to its long name instead of passing it.
  const WideString longForm = OpenFormOf(full);
  const DWORD longNeeded = GetLongPathNameW(longForm.c_str(), nullptr, 0);
  if (longNeeded != 0) {
    WideString expanded(longNeeded, L'\0');
    const DWORD longWritten = GetLongPathNameW(longForm.c_str(), expanded.data(), longNeeded);
    if (longWritten != 0 && longWritten < longNeeded) {
      expanded.resize(longWritten);
      full = DisplayPath(expanded);
    }
  }
  return TrimTrailingSeparators(full);
}

}  // namespace kestrova::securefs
