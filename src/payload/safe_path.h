// The one rule for which relative paths the archive accepts: used by the Writer before a record is written,
// by the Reader before an entry is handed out, and by the manifest parser. Pure byte logic; it does not touch
// the file system and knows nothing of a destination folder.
#pragma once

#include <string_view>

namespace kestrova::payload {

// True only when `path` is 1 to 1024 bytes of well-formed UTF-8 (no overlong forms, no surrogates, nothing
// above U+10FFFF); has no control byte (below 0x20 or 0x7F) and none of  " * : < > ? \ | ; and, split at "/",
// every component is non-empty, not "." or "..", does not end in "." or a space, and is not a reserved device
// name (stem before the first "." equal, ignoring ASCII case, to CON, PRN, AUX, NUL, or COM1-9 / LPT1-9).
bool IsSafeRelativePath(std::string_view path);

}  // namespace kestrova::payload
