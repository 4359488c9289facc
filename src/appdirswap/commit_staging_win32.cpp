#include "appdirswap/staging_commands.h"

#include <windows.h>
#include <winternl.h>

#include "appdirswap/cleanup.h"
#include "appdirswap/layout.h"
#include "appdirswap/win32_file_system.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "securefs/delete_tree.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

std::string Shown(const WideString& path) { return WideToUtf8(securefs::DisplayPath(path)); }

// The partial folder opened as itself, never through a link, with DELETE so that it can later be renamed through
// this very handle: whatever happens to the name meanwhile, the marker goes into, and the rename moves, the folder
// that was judged here. Empty unless it is a plain directory.
FileHandle OpenPlainFolder(const WideString& long_path) {
  FileHandle folder(CreateFileW(long_path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE,
                                securefs::kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return folder;
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    folder.reset();
  }
  return folder;
}

// Creates or truncates ".complete" inside `folder` (relative to its handle, not following a link there) and writes
// `version` in one call. 0 on success, else the Win32 error.
DWORD WriteMarker(HANDLE folder, const std::string& version) {
  UNICODE_STRING name;
  name.Length = static_cast<USHORT>((sizeof kMarkerName / sizeof(wchar_t) - 1) * sizeof(wchar_t));
  name.MaximumLength = name.Length;
  name.Buffer = const_cast<PWSTR>(kMarkerName);
  OBJECT_ATTRIBUTES attributes{};
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &name;
  IO_STATUS_BLOCK io{};
  KernelHandle marker;
  const NTSTATUS status = NtCreateFile(marker.put(), GENERIC_WRITE | SYNCHRONIZE, &attributes, &io, nullptr,
                                       FILE_ATTRIBUTE_NORMAL, 0, FILE_OVERWRITE_IF,
                                       FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                       nullptr, 0);
  if (!securefs::nt::IsSuccess(status)) {
    marker.release();
    return RtlNtStatusToDosError(status);
  }
  DWORD written = 0;
  if (!WriteFile(marker.get(), version.data(), static_cast<DWORD>(version.size()), &written, nullptr)) {
    return GetLastError();
  }
  if (written != version.size()) return ERROR_WRITE_FAULT;
  // The rename that follows says the version is complete; the marker must be on disk before it.
  if (!FlushFileBuffers(marker.get())) return GetLastError();
  return 0;
}

}  // namespace

int CommitStaging(const WideString& appdir, const std::string& version) {
  WideString base = appdir;
  while (!base.empty() && (base.back() == L'\\' || base.back() == L'/')) base.pop_back();
  // Without its separator a drive root is "C:", drive C's current folder, and the siblings would be named against
  // whatever folder that is; a drive root has no siblings to commit.
  if (base.empty() || securefs::IsDriveRootForm(base)) {
    LogError("commit: %s is not a usable APPDIR", WideToUtf8(appdir).c_str());
    return 0;
  }
  const WideString staging = securefs::LongPath(base + L".staging");
  const WideString partial = securefs::LongPath(base + L".staging.partial");

  FileHandle folder = OpenPlainFolder(partial);
  if (!folder) {
    LogInfo("commit: no %s; nothing to commit", Shown(partial).c_str());
    return 0;
  }
  if (!IsCommitVersion(version)) {
    LogError("commit: '%s' is not a version; leaving %s uncommitted", version.c_str(), Shown(partial).c_str());
    return 0;
  }
  if (const DWORD error = WriteMarker(folder.get(), version); error != 0) {
    LogError("commit: could not write %s\\.complete: %lu", Shown(partial).c_str(), static_cast<unsigned long>(error));
    return 0;
  }

  SwapLock lock(base, LoggingRemover("commit"));
  if (!lock.held) {
    LogError("commit: could not take the swap lock (error %u); leaving %s uncommitted", lock.lock_error,
             Shown(partial).c_str());
    return 0;
  }
  std::string error_text;
  if (!securefs::RemoveTree(staging, &error_text)) {
    LogError("commit: could not replace the old %s: %s", Shown(staging).c_str(), error_text.c_str());
    return 0;
  }
  // Through the handle opened above; the target is named by its NT path, since the folder above may hold it by any
  // name the system folds to. No replacement: the old .staging was removed under this same lock.
  const bool long_form = staging.compare(0, 4, L"\\\\?\\") == 0;
  const WideString nt_target = long_form ? L"\\??\\" + staging.substr(4) : staging;
  const NTSTATUS status = securefs::RenameByHandle(folder.get(), nullptr, nt_target);
  if (securefs::nt::IsSuccess(status)) {
    LogInfo("commit: %s is complete (version %s)", Shown(staging).c_str(), version.c_str());
  } else {
    LogError("commit: could not rename %s to %s: %lu", Shown(partial).c_str(), Shown(staging).c_str(),
             static_cast<unsigned long>(RtlNtStatusToDosError(status)));
  }
  return 0;
}

}  // namespace kestrova::appdirswap
