#include "appdirswap/staging_commands.h"

#include <windows.h>
#include <winternl.h>

#include "appdirswap/cleanup.h"
#include "appdirswap/holders.h"
#include "appdirswap/layout.h"
#include "appdirswap/staging_moves.h"
#include "appdirswap/win32_file_system.h"
#include "core/elevation.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::appdirswap {
namespace {

std::string Shown(const WideString& path) { return WideToUtf8(securefs::DisplayPath(path)); }

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
  Win32FileSystem fs;
  return CommitStagingWith(appdir, version, fs, fs);
}

int CommitStagingWith(const WideString& appdir, const std::string& version, Win32FileSystem& real, IFileSystem& fs) {
  // The same paths stage accepts: a drive root, a share or a relative path has no siblings to commit ("C:" would
  // name drive C's current folder).
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) {
    LogError("commit: %s is not a usable APPDIR", WideToUtf8(securefs::DisplayPath(appdir)).c_str());
    return 0;
  }
  const WideString& base = paths.appdir;
  const WideString staging = ToLongPathForm(paths.staging);
  const WideString partial = ToLongPathForm(paths.partial);

  // Held as itself, never through a link, with DELETE and without sharing delete, so that nobody else can rename or
  // delete it: the folder that is judged, marked and moved below is this one, whatever happens to names meanwhile.
  uint32_t open_error = 0;
  const MoveResult held = real.HoldForMove(paths.partial, open_error);
  if (held != MoveResult::Ok &&
      (open_error == ERROR_FILE_NOT_FOUND || open_error == ERROR_PATH_NOT_FOUND || open_error == ERROR_DIRECTORY)) {
    LogInfo("commit: no %s; nothing to commit", Shown(partial).c_str());
    return 0;
  }
  if (held != MoveResult::Ok) {
    // In use (a process has it as its current folder, 32) or unreadable: something is there and stays uncommitted.
    LogError("commit: could not open %s: %u; leaving it uncommitted", Shown(partial).c_str(), open_error);
    return 0;
  }
  if (!IsCommitVersion(version)) {
    LogError("commit: '%s' is not a version; leaving %s uncommitted", version.c_str(), Shown(partial).c_str());
    return 0;
  }
  // An elevated commit makes the folder a copy that a swap may put in APPDIR's place: it must be one no stranger can
  // have filled or can change. An unelevated run cannot harm what administrators own and is not asked.
  if (!IsKnownUnelevated()) {
    const std::string verdict = fs.AdminOnlyVerdict(paths.partial);
    if (!verdict.empty()) {
      LogError("commit: SECURITY: %s is not admin-only (%s); leaving it uncommitted", Shown(partial).c_str(),
               verdict.c_str());
      return 0;
    }
  }
  if (const DWORD error = WriteMarker(real.HeldHandle(paths.partial), version); error != 0) {
    LogError("commit: could not write %s\\.complete: %lu", Shown(partial).c_str(), static_cast<unsigned long>(error));
    return 0;
  }

  // Removals other than a foreign entry at the lock's name stay quiet: the outcome line below tells what happened.
  uint32_t removal_error = 0;
  const Remover remover = [&removal_error](const GcItem& item) {
    if (!item.verdict.empty()) return LoggingRemover("commit")(item);
    return RemoveGcItem(item, removal_error);
  };
  const StagingMoveResult result = CommitUnderLock(base, fs, RetryBudgets{}, remover);
  switch (result.step) {
    case StagingStep::Done:
      LogInfo("commit: %s is complete (version %s)", Shown(staging).c_str(), version.c_str());
      break;
    case StagingStep::BadPath:  // ParseAppdir accepted it above
    case StagingStep::LockNotTaken:
      LogError("commit: could not take the swap lock (error %u); leaving %s uncommitted", result.error,
               Shown(partial).c_str());
      if (result.error == kErrorSharingViolation) LogHolders("commit", {paths.lock});
      break;
    case StagingStep::OldStagingKept:
      LogError("commit: could not replace the old %s: could not remove %s: %u", Shown(staging).c_str(),
               Shown(staging).c_str(), removal_error);
      break;
    case StagingStep::Held:
    case StagingStep::RenameFailed:
      LogError("commit: could not rename %s to %s: %u", Shown(partial).c_str(), Shown(staging).c_str(), result.error);
      break;
  }
  return 0;
}

}  // namespace kestrova::appdirswap
