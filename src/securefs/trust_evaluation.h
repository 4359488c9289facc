// The public face of trust evaluation: whether a folder, and every folder above it, can be changed by administrators
// only. A verdict is a UTF-8 text, empty when admin-only, otherwise naming the offending folder and the reason;
// callers log it unchanged. Nothing is reported or logged here, and nothing is repaired.
#pragma once

#include <string>

#include "core/text.h"
#include "securefs/trust_walk.h"

namespace kestrova::securefs {

#ifdef _WIN32
// Judges the canonical form of `path` and every prefix above it, drive root first. A path that is not absolute on a
// drive letter ("\\server\share\x" among them) gives "<path as passed> is not an absolute path on a drive letter".
// Every prefix is opened as itself and must be a directory, not a reparse point, whose final path is its own name;
// then, from the root down, its owner and DACL are judged (DELETE does not count on a drive root). A missing tail
// below an existing folder is an error with ExistingOnly, accepted with MissingAllowed, and with MissingJudged judged
// as the folder an administrator would create there ("<first missing> (to be created): <reason>").
std::string CheckPathAndParents(const WideString& path, WalkMode mode);

// Judges that one folder: opened as itself, a directory and not a reparse point, its owner and DACL admin-only
// (DELETE not counted on a drive root). No parent is looked at and the final path is not compared.
// "<path as passed> is not a valid path" when it cannot be made absolute.
std::string CheckFolder(const WideString& path);

// For a folder whose names the tool must keep to itself (the one in which the install folder is renamed, one the tool
// takes code or trust from): CheckPathAndParents(path, ExistingOnly), and besides it
// whether anyone but SYSTEM, Administrators or TrustedInstaller may create entries in that folder itself ("<account>
// may create folders in <path>" or "... may create files in <path>"), read through the handle the walk holds. The
// two texts are joined by "; " when both are non-empty; either alone otherwise; empty when the folder is safe.
std::string CheckTrustedFolder(const WideString& path);

// For a file the tool runs, or whose content it trusts: CheckTrustedFolder on its folder, then the file itself opened
// as itself, a regular file that only SYSTEM, Administrators or TrustedInstaller may write, re-secure or delete.
std::string CheckTrustedFile(const WideString& path);

// Only the create rule of CheckTrustedFolder, on that one folder: "<account> may create folders in <canonical folder>"
// (or "files"), empty when only trusted principals may create entries or when the folder cannot be opened as a
// directory or its security read.
std::string CreateRightsText(const WideString& folder);
#endif

}  // namespace kestrova::securefs
