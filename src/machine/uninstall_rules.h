// What uninstall may remove, decided on names alone: the folders beside APPDIR it looks for, the folders APPDIR may
// never be (a drive root, one of the machine's known folders) and what becomes of an APPDIR the update engine
// rejects. Whether APPDIR is recognisably the product's folder (its manifest.json) and the removals themselves are
// uninstall_win32.cpp's.
#pragma once

#include <string>
#include <vector>

#include "appdirswap/layout.h"
#include "core/text.h"
#include "securefs/system_folders.h"

namespace kestrova::machine {

// The folders beside APPDIR in the order uninstall removes them: .staging.partial, .staging, .lkg, .rejected (the
// engine's layout) and .updateui.
std::vector<WideString> AppDirSiblings(const appdirswap::LayoutPaths& paths);

// Whether the display form of APPDIR names a folder uninstall must never remove: with every trailing "\" and "/"
// dropped it has at most three characters (a drive or a drive root), or it equals one of `knownFolders` (each
// taken without trailing separators; empty ones are skipped) under `equal`.
bool IsProtectedAppDirName(WideView display, const std::vector<WideString>& knownFolders,
                           securefs::EqualIgnoringCase equal);

// What uninstall does with an APPDIR that ParseAppdir rejects. A path that depends on a current folder (a relative
// path, a path rooted on the current drive, a bare drive or a drive-relative one such as "C:", "C:." or "C:x") is
// refused: nothing at all is removed and `reason` completes "APPDIR <path> ...". Any other shape (a drive root, a
// network or device path, a folder name that is empty, ends in a dot or a space, or holds a character Windows does
// not allow) keeps APPDIR and the folders beside it, and `reason` says why. Meant for rejected paths only; an
// accepted one comes back kept, with the folder-name reason.
struct RejectedAppDir {
  bool refuse = false;
  std::string reason;
};
RejectedAppDir JudgeRejectedAppDir(WideView appdir);

}  // namespace kestrova::machine
