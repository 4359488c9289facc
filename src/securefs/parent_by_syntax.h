// The folder above a path, found by its text alone: what securing a folder judges before it creates anything.
// Portable and pure; it neither makes a path absolute nor looks at the disk (LongPath and ParentFolderOf in paths.h
// do that).
#pragma once

#include "core/text.h"

namespace kestrova::securefs {

// The path without its last element. Both "\" and "/" separate elements. A separator that follows a drive colon
// stays, so the parent of "C:\a" is "C:\" and the parent of "\\?\C:\a" is "\\?\C:\"; a trailing separator ends an
// empty last element, so the parent of "C:\a\b\" is "C:\a\b". Empty when the path holds no separator.
WideString ParentBySyntax(WideView path);

}  // namespace kestrova::securefs
