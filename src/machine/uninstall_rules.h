// What uninstall may remove, decided on names alone: the folders beside APPDIR it looks for, and the folders APPDIR
// may never be (a drive root, one of the machine's known folders). Whether APPDIR is recognisably the product's
// folder (its manifest.json) and the removals themselves are uninstall_win32.cpp's.
#pragma once

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

}  // namespace kestrova::machine
