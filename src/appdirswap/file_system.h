// The one door through which the APPDIR engine reaches the machine: path attributes, a small-file read, holds on
// folders and the renames made through them, the swap-lock file, the system-folder and trust questions, the installer
// probe, the ActiveVersion write and the clock. Snapshot, repair and clean-up logic is written against IFileSystem
// only, so a scripted double can drive it; Win32FileSystem (win32_file_system.h) is what the commands use. The retrying
// calls live in retry.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"

namespace kestrova::appdirswap {

// The numbers are fixed.
enum class PathKind : uint32_t { Absent = 0, File = 1, Directory = 2, Error = 3 };

struct PathInfo {
  PathKind kind = PathKind::Absent;
  bool is_reparse_point = false;  // meaningful only for File and Directory
};

// Result of Rename and TryLock. Busy means the Win32 error was 32, 33 or 5 and another attempt may succeed.
enum class MoveResult : uint32_t { Ok = 0, Busy = 1, Failed = 2 };

// Busy for 32 (sharing violation), 33 (lock violation) and 5 (access denied); Failed for any other error.
MoveResult ClassifyMoveError(uint32_t error);
// For the lock file only a sharing violation (32) is another holder; anything else, access denied included (a folder
// squatting the lock's name gives 5), is Failed and worth naming.
MoveResult ClassifyLockError(uint32_t error);

inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorLockViolation = 33;
inline constexpr uint32_t kErrorAlreadyExists = 183;
inline constexpr uint32_t kErrorDirectory = 267;

// What the budget of every command of this program is, for renames and for the lock alike.
inline constexpr uint32_t kDefaultBudgetMs = 10000;

struct RetryBudgets {
  uint32_t rename_ms = kDefaultBudgetMs;
  uint32_t lock_ms = kDefaultBudgetMs;
};

// One retried rename, hold or lock, as the swap and repair logs print it.
struct AttemptRecord {
  WideString from;  // the folder renamed or held; empty for a lock
  WideString to;    // the rename's target; empty for a hold and for a lock
  MoveResult result = MoveResult::Failed;
  uint32_t attempts = 0;
  uint32_t last_error = 0;  // of the latest attempt that did not succeed; kept when a later attempt succeeds
  uint64_t elapsed_ms = 0;
};

// "\\?\" in front of a drive path ("X:\...", at least 3 characters) not already so prefixed; anything else unchanged.
WideString ToLongPathForm(WideView path);

// The virtual slots come in this order, after the destructor; doubles and the Windows implementation keep it.
// No operation throws; failures are the results described at each.
class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  // Absent for "file or path not found", Error for any other failure to read the attributes.
  virtual PathInfo GetPathInfo(const WideString& path) = 0;
  // `out` is cleared, then holds at most `max_bytes` bytes read from the front of the file (not through a link).
  // False when the open or the read fails.
  virtual bool ReadSmallFile(const WideString& path, size_t max_bytes, std::string& out) = 0;
  // Renames without replacing an existing target. An entry held by HoldForMove is renamed through its held handle,
  // which then holds it under its new name. `error` is 0 on Ok, else the Win32 error.
  virtual MoveResult Rename(const WideString& from, const WideString& to, uint32_t& error) = 0;
  // Opens the lock file exclusively and delete-on-close; on Ok the lock is held (an earlier one is released).
  // Another holder's open handle gives Busy with a sharing violation; every other error is Failed.
  virtual MoveResult TryLock(const WideString& lock_path, uint32_t& error) = 0;
  // Releases the held lock, if any.
  virtual void Unlock() = 0;
  // True for one of the machine's well-known system folders or a folder above one.
  virtual bool IsSystemFolder(const WideString& path) = 0;
  // Empty when the entry itself (a link is judged as the link, never its target) is a plain folder owned by SYSTEM,
  // Administrators or TrustedInstaller whose DACL gives nobody else DELETE, WRITE_DAC, WRITE_OWNER or
  // FILE_DELETE_CHILD; otherwise the verdict that says why (a file or a link is never admin-only).
  virtual std::string AdminOnlyVerdict(const WideString& path) = 0;
  // Empty when the folder and every folder above it are admin-only and nobody else may create entries in the folder
  // itself; otherwise the verdict naming the first offender, and who may create entries there.
  virtual std::string UnsafeAncestorReason(const WideString& path) = 0;
  // Whether the Windows Installer is running an installation (probed, never waited for).
  virtual bool IsInstallerRunning() = 0;
  // Records the version now in APPDIR in the machine's registry; false when it could not.
  virtual bool WriteActiveVersion(const WideString& version) = 0;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
  // Opens the folder itself (never through a link) with DELETE and without sharing delete, and keeps the handle until
  // ReleaseHolds: while it is held nobody else can rename or delete the folder, and Rename moves it through this
  // handle. Busy when someone else holds it in a way that excludes this open (32, 33, 5); Failed for any other
  // error, and with ERROR_DIRECTORY (267) for an entry that is not a plain folder.
  virtual MoveResult HoldForMove(const WideString& path, uint32_t& error) = 0;
  // Closes every held handle.
  virtual void ReleaseHolds() = 0;
};

}  // namespace kestrova::appdirswap
