// The registry places of the tool's own state that this folder writes: the state key itself (the port mark) and
// its "Update" subkey (the managed-install record), under the root the state location names and always in the
// 64-bit view. Names only, plus the opening of those keys on the Windows side; what is stored there belongs to
// the commands.
#pragma once

#include <string>

#include "core/state_location.h"

#ifdef _WIN32
#include "core/unique_handle_win32.h"
#endif

namespace kestrova::machine {

// The Win32 code of a missing key or value, which a deletion treats as done.
constexpr long kErrorFileNotFound = 2;

// The state key followed by "\Update", UTF-8, as messages name it.
std::string UpdateKeyPath(const StateLocation& location);

// An empty state key names the root of the hive itself; the commands that would write or delete below it refuse
// to (a root is never the product's key).
inline bool NamesHiveRoot(const StateLocation& location) { return location.key.empty(); }

#ifdef _WIN32
// HKEY_CURRENT_USER when `current_user`, else HKEY_LOCAL_MACHINE.
HKEY StateRoot(const StateLocation& location);

// RegOpenKeyExW / RegCreateKeyExW (non-volatile) of `path` (UTF-8) under the location's root with `access` and
// KEY_WOW64_64KEY added. 0 or the Win32 error; a path that is not valid UTF-8 is ERROR_INVALID_PARAMETER rather
// than the root that its empty conversion would name.
long OpenStateKey(const StateLocation& location, const std::string& path, REGSAM access, RegKey* key);
long CreateStateKey(const StateLocation& location, const std::string& path, REGSAM access, RegKey* key);
#endif

}  // namespace kestrova::machine
