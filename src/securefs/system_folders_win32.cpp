#include "securefs/system_folders.h"

#include <windows.h>
#include <shlobj.h>
#include <knownfolders.h>

#include "core/unique_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

bool OrdinalEqualIgnoringCase(WideView a, WideView b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// The long name resolves 8.3 short names ("C:\PROGRA~1"), which would otherwise slip past the comparison. Only
// an existing path has one; anything else is compared as written.
WideString LongNameOf(const WideString& path) {
  const WideString full = LongPath(path);
  const DWORD needed = GetLongPathNameW(full.c_str(), nullptr, 0);
  if (needed == 0) return path;
  WideString name(needed, L'\0');
  const DWORD written = GetLongPathNameW(full.c_str(), name.data(), needed);
  if (written == 0 || written >= needed) return path;
  name.resize(written);
  if (name.compare(0, 4, L"\\\\?\\") == 0) name.erase(0, 4);
  return name;
}

}  // namespace

bool IsSystemFolder(const WideString& path) {
  static const KNOWNFOLDERID* const kKnownFolders[] = {
      &FOLDERID_Windows,           &FOLDERID_System,          &FOLDERID_SystemX86,
      &FOLDERID_ProgramFiles,      &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramFilesCommon,
      &FOLDERID_ProgramFilesCommonX86, &FOLDERID_ProgramData, &FOLDERID_UserProfiles,
      &FOLDERID_Profile,           &FOLDERID_Public,
  };
  const WideString name = TrimTrailingSeparators(LongNameOf(path));
  for (const KNOWNFOLDERID* id : kKnownFolders) {
    TaskMemory known;
    // The shell allocates the text even when the call fails; the owner frees it either way.
    if (FAILED(SHGetKnownFolderPath(*id, 0, nullptr, known.put()))) continue;
    if (IsAtOrAbove(name, known.get(), OrdinalEqualIgnoringCase)) return true;
    // Every profile holds what its user runs at logon, not only the profile of the account running the tool.
    if (id == &FOLDERID_UserProfiles && IsDirectlyInside(name, known.get(), OrdinalEqualIgnoringCase)) return true;
  }
  return false;
}

std::string RemovalRefusal(const WideString& folder) {
  // A volume or device path may name a whole volume, and none of the checks below can read it.
  if (IsOtherDeviceForm(folder)) return "it is not a path on a drive letter or a share";
  // A bare "C:" is the current directory of drive C, whatever that is; typed as a folder it means the drive.
  if (IsDriveRootForm(folder) || IsDriveOrShareRoot(DisplayPath(LongPath(folder)))) return "it is a drive root";
  if (IsSystemFolder(folder)) return "it is a system folder or holds one";
  return {};
}

}  // namespace kestrova::securefs
