// Removal of a whole tree that never follows a link: every entry is opened relative to its folder's handle without
// following reparse points, so junctions and symbolic links are deleted as themselves and no path length limit
// applies. Windows only. Reports nothing; the callers word the failure (RemoveTree gives them the usual text).
#pragma once

#include <windows.h>

#include <string>

#include "core/text.h"

namespace kestrova::securefs {

// Folders nested this deep below the removed root are refused with ERROR_BUFFER_OVERFLOW (111).
constexpr unsigned kMaxDeleteDepth = 256;

// Deletes `path` and everything below it. A path beginning "X:\" is opened in its "\\?\" form. `first`, when not
// empty, names one entry directly below the root that is deleted before any other entry is touched (a missing one
// is passed over). True if the path no longer exists, also when it never did (`code` 0). On false `code` is the Win32
// error of the first failure, which ends the removal; whatever was deleted before stays deleted.
bool DeleteTreeByHandle(const WideString& path, DWORD& code, WideView first = {});

// DeleteTreeByHandle without a first entry. On false, when `text` is given, it becomes
// "could not remove <path>: <code>" with the path as passed, in UTF-8.
bool RemoveTree(const WideString& path, std::string* text = nullptr);

}  // namespace kestrova::securefs
