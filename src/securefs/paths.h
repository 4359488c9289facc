// The textual forms of a path: the long-path form handed to every file function ("\\?\" or "\\?\UNC\" in front of
// the absolute path), the display form written to messages, and the folder part of a path. Pure text apart from
// the current directory that LongPath consults; nothing here touches an entry on disk or judges a folder.
#pragma once

#include "core/text.h"

namespace kestrova::securefs {

// The display form: "\\?\UNC\server\share\x" becomes "\\server\share\x", "\\?\C:\b" becomes "C:\b", anything else
// comes back unchanged. Nothing else is normalised.
WideString DisplayPath(WideView path);

// The path without trailing "\" and "/", dropped only while it is longer than 3 characters, so "C:\" and "\\" keep
// theirs and "C:\x\\" becomes "C:\x".
WideString TrimTrailingSeparators(WideView path);

// Whether the path names a drive root and nothing below it: "X:", "X:\", "X:/", "\\?\X:" or "\\?\X:\" for an ASCII
// letter X. A drive root exists or it does not; it is never created.
bool IsDriveRootForm(WideView path);

// Whether the path is in the device namespace without naming a drive-letter path or a share the way DisplayPath
// expects: "\\?\Volume{...}\x", "\\?\GLOBALROOT\Device\...", "\\.\C:\x", "//?/C:/x", "\\?\unc\s\x", "\??\C:\x".
// Only "\\?\" followed by a drive letter and colon, and "\\?\UNC\", are the long-path forms of ordinary paths; the
// others reach volumes and devices past every check that reads a drive letter, so the tool refuses them.
bool IsOtherDeviceForm(WideView path);

#ifdef _WIN32
// The long-path form of the absolute, folded path ("." and ".." resolved against the current directory, a trailing
// separator kept), whatever its length. A path already beginning with "\\?\" comes back unchanged, and so does a path
// the system cannot make absolute (the empty path among them). Never fails.
WideString LongPath(const WideString& path);

// The display form of LongPath(path) up to its last "\" or "/": "C:\ProgramData\Kestrova" for
// "C:\ProgramData\Kestrova\Updates", "C:" for "C:\x", the current directory for a bare name. Empty when that form
// holds no separator.
WideString ParentFolderOf(const WideString& path);
#endif

}  // namespace kestrova::securefs
