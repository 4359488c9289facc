#include <windows.h>

#include <shlobj.h>
// After shlobj.h, which defines what its declarations need.
#include <knownfolders.h>

#include "appdirswap/layout.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "machine/commands.h"
#include "machine/state_key.h"
#include "machine/uninstall_rules.h"
#include "securefs/delete_tree.h"
#include "securefs/paths.h"
#include "securefs/system_folders.h"

namespace kestrova::machine {
namespace {

bool EqualOrdinalIgnoringCase(WideView a, WideView b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::vector<WideString> KnownFoldersAppDirMayNotBe() {
  const KNOWNFOLDERID* const ids[] = {&FOLDERID_ProgramFiles, &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramData,
                                      &FOLDERID_Windows,      &FOLDERID_UserProfiles,    &FOLDERID_Profile};
  std::vector<WideString> folders;
  for (const KNOWNFOLDERID* id : ids) {
    TaskMemory path;
    // A folder the shell cannot give counts as empty and protects nothing; the drive-root rule still holds.
    if (SUCCEEDED(SHGetKnownFolderPath(*id, 0, nullptr, path.put())) && path) {
      folders.emplace_back(path.get());
    } else {
      folders.emplace_back();
    }
  }
  return folders;
}

bool IsRealFolder(const WideString& longPath) {
  const DWORD attributes = GetFileAttributesW(longPath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::string Shown(const WideString& longPath) { return WideToUtf8(securefs::DisplayPath(longPath)); }

void DeleteUpdateKey(const StateLocation& location) {
  if (NamesHiveRoot(location)) {
    LogWarn("uninstall: the state key is empty; leaving the registry alone");
    return;
  }
  RegKey key;
  if (OpenStateKey(location, location.key, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    return;
  }
  const LSTATUS status = RegDeleteTreeW(key.get(), L"Update");
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
    LogError("uninstall: could not delete %s: %ld", UpdateKeyPath(location).c_str(), static_cast<long>(status));
  }
}

}  // namespace

void RemoveIfPresent(const WideString& longPath) {
  if (GetFileAttributesW(longPath.c_str()) == INVALID_FILE_ATTRIBUTES) return;
  // RemoveTree's own text would name the long form it was given; messages show the path as the user knows it.
  DWORD code = 0;
  if (securefs::DeleteTreeByHandle(longPath, code)) {
    LogInfo("uninstall: removed %s", Shown(longPath).c_str());
  } else {
    LogError("uninstall: could not remove %s: %lu", Shown(longPath).c_str(), static_cast<unsigned long>(code));
  }
}

bool IsRemovableAppDir(const WideString& longPath) {
  const WideString display = securefs::DisplayPath(longPath);
  if (IsProtectedAppDirName(display, KnownFoldersAppDirMayNotBe(), EqualOrdinalIgnoringCase)) return false;
  // Beyond the six: the Public profile, System32, Common Files, a share root and every folder above one of them.
  if (!securefs::RemovalRefusal(display).empty()) return false;
  if (!IsRealFolder(longPath)) return false;
  const DWORD manifest = GetFileAttributesW((longPath + L"\\manifest.json").c_str());
  return manifest != INVALID_FILE_ATTRIBUTES && !(manifest & FILE_ATTRIBUTE_DIRECTORY) &&
         !(manifest & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool RefusesAppDir(const WideString& appdir) {
  appdirswap::LayoutPaths paths;
  if (appdirswap::ParseAppdir(appdir, paths)) return false;
  const RejectedAppDir judged = JudgeRejectedAppDir(appdir);
  if (!judged.refuse) return false;
  LogError("uninstall: APPDIR %s %s; nothing is removed", WideToUtf8(appdir).c_str(), judged.reason.c_str());
  return true;
}

int Uninstall(const StateLocation& location, const WideString& appdir, const WideString& updates) {
  if (RefusesAppDir(appdir)) return 0;
  appdirswap::LayoutPaths paths;
  if (appdirswap::ParseAppdir(appdir, paths)) {
    for (const WideString& sibling : AppDirSiblings(paths)) RemoveIfPresent(securefs::LongPath(sibling));
    const WideString longAppdir = securefs::LongPath(paths.appdir);
    if (IsRemovableAppDir(longAppdir)) {
      RemoveIfPresent(longAppdir);
    } else if (IsRealFolder(longAppdir)) {
      LogWarn("uninstall: leaving %s, which has no manifest.json or is a system folder", Shown(longAppdir).c_str());
    }
  } else {
    // The update engine never installs to a path it rejects, so whatever is there (even with a manifest.json) was
    // not put there by the product. The system would also read such a path differently from its text: a trailing
    // dot or space is dropped, so "C:\Corvella." opens C:\Corvella.
    LogWarn("uninstall: leaving %s and the folders beside it: %s", WideToUtf8(appdir).c_str(),
            JudgeRejectedAppDir(appdir).reason.c_str());
  }

  if (!updates.empty()) {
    const std::string refusal = securefs::RemovalRefusal(updates);
    if (refusal.empty()) {
      RemoveIfPresent(securefs::LongPath(updates));
    } else {
      LogError("uninstall: refusing to remove %s: %s", WideToUtf8(updates).c_str(), refusal.c_str());
    }
  }

  DeleteUpdateKey(location);
  return 0;
}

}  // namespace kestrova::machine
