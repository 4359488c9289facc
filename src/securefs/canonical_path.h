// The canonical form of a path that the trust walk judges, and the textual rules the walk applies to it: whether it
// is an absolute path on a drive letter, whether it is a drive root, the chain of prefixes from the root down, and
// the long-path form a prefix is opened by. Only CanonicalPath asks the system; nothing here opens an entry.
#pragma once

#include <vector>

#include "core/text.h"

namespace kestrova::securefs {

// Letter, ':' and '\' at the start ("C:\", "c:\x"); the letter is an ASCII letter.
bool IsDriveAbsolute(WideView canonical);

// Exactly three characters: a letter, ':' and '\'. DELETE held by others does not count on such a folder.
bool IsDriveRoot(WideView canonical);

// The prefixes of a drive-absolute canonical path, root first: the first three characters, then the text before
// each later backslash (a backslash right after another adds nothing), last the whole path unless it is already
// listed. "C:\a\b" gives C:\, C:\a, C:\a\b; "C:\" gives C:\ alone. Empty when the path is not drive-absolute.
std::vector<WideString> PathPrefixes(WideView canonical);

// The form a canonical path is opened by: "\\?\UNC\" + the rest for a share ("\\server\share\x"), "\\?\" in front of
// anything else.
WideString OpenFormOf(WideView canonical);

// Whether the text holds a NUL character, which the system's string calls would silently treat as its end.
bool HasEmbeddedNul(WideView path);

#ifdef _WIN32
// The long-path prefix removed as DisplayPath does, made absolute with GetFullPathNameW, short 8.3 names expanded with
// GetLongPathNameW where the path exists (it stays as it is where it does not), trailing "\" and "/" removed while
// longer than 3 characters. Empty when the path cannot be made absolute (the empty path among them), holds a NUL, or is
// another device-namespace form than a drive-letter or share path (IsOtherDeviceForm of paths.h).
WideString CanonicalPath(const WideString& path);
#endif

}  // namespace kestrova::securefs
