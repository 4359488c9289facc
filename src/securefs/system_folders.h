// The one place that refuses dangerous removals: a drive or share root, and a folder that is one of the machine's
// system folders (Windows, Program Files, ProgramData, the profiles, ...) or lies above one. It decides only whether
// a folder may be removed; it removes nothing and judges nothing about who may change a folder.
#pragma once

#include <string>

#include "core/text.h"

namespace kestrova::securefs {

// Compares two texts of equal length, ignoring case.
using EqualIgnoringCase = bool (*)(WideView a, WideView b);

// Folds ASCII letters only; what the host build has in place of CompareStringOrdinal.
bool AsciiEqualIgnoringCase(WideView a, WideView b);

// Whether `path` is `knownFolder` itself or a folder above it, both taken without trailing separators (as
// TrimTrailingSeparators): the known folder's first characters equal the whole path under `equal`, and either both are
// equally long, or the path ends in "\" (a drive root), or the known folder goes on with "\". So "C:\Program Files",
// "C:\program files\", "C:\" and "C:" are at or above "C:\Program Files"; "C:\Program" and
// "C:\Program Files\Corvella" are not. The empty path is above nothing.
bool IsAtOrAbove(WideView path, WideView knownFolder, EqualIgnoringCase equal);

// Whether `path` lies directly inside `folder`, both taken without trailing separators: "C:\Users\someone" and
// "c:\users\someone\" are directly inside "C:\Users"; "C:\Users" itself and "C:\Users\a\b" are not.
bool IsDirectlyInside(WideView path, WideView folder, EqualIgnoringCase equal);

// Whether the display form of a folder, trailing separators dropped down to 3 characters, is a drive root ("C:\",
// "d:/", or the bare "C:") or a share root ("\\server\share", or "\\server" alone).
bool IsDriveOrShareRoot(WideView path);

#ifdef _WIN32
// Whether the folder, by its long name, is at or above (IsAtOrAbove, compared with CompareStringOrdinal ignoring
// case) one of the known folders Windows, System, SystemX86, ProgramFiles, ProgramFilesX86, ProgramFilesCommon,
// ProgramFilesCommonX86, ProgramData, UserProfiles, Profile and Public, or lies directly inside UserProfiles (any
// user's profile, not only the running account's). A known folder the shell cannot give is skipped; a path whose long
// name cannot be read is taken as written.
bool IsSystemFolder(const WideString& path);

// Empty when the folder may be removed; otherwise the reason in UTF-8: "it is not a path on a drive letter or a share"
// for a volume or device path (IsOtherDeviceForm), "it is a drive root" when the display form of its long path is a
// drive or share root (IsDriveOrShareRoot), else "it is a system folder or holds one" (IsSystemFolder).
std::string RemovalRefusal(const WideString& folder);
#endif

}  // namespace kestrova::securefs
