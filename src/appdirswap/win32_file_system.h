// The Windows implementation of IFileSystem that every command of the APPDIR engine uses, and SwapLock, the scoped
// holder of the swap lock for the commands that take it outside a transaction. A Win32FileSystem holds at most one
// lock handle; closing it (Unlock, destruction, or the process dying) releases the lock and deletes the lock file.
#pragma once

#include <windows.h>

#include <map>

#include "appdirswap/file_system.h"
#include "appdirswap/transaction.h"
#include "core/unique_handle_win32.h"

namespace kestrova::appdirswap {

// Where ActiveVersion lives, always in the machine's 64-bit view.
inline constexpr wchar_t kActiveVersionKey[] = L"SOFTWARE\\Kestrova\\Corvella\\Update";
inline constexpr wchar_t kActiveVersionValue[] = L"ActiveVersion";
// The Windows Installer's execution mutex, probed and never held.
inline constexpr wchar_t kInstallerMutexName[] = L"Global\\_MSIExecute";

// Every path is put into the long-path form (ToLongPathForm) before it reaches the system.
class Win32FileSystem : public IFileSystem {
 public:
  Win32FileSystem() = default;
  ~Win32FileSystem() override = default;
  Win32FileSystem(const Win32FileSystem&) = delete;
  Win32FileSystem& operator=(const Win32FileSystem&) = delete;

  PathInfo GetPathInfo(const WideString& path) override;
  bool ReadSmallFile(const WideString& path, size_t max_bytes, std::string& out) override;
  MoveResult Rename(const WideString& from, const WideString& to, uint32_t& error) override;
  MoveResult TryLock(const WideString& lock_path, uint32_t& error) override;
  void Unlock() override;
  bool IsSystemFolder(const WideString& path) override;
  std::string AdminOnlyVerdict(const WideString& path) override;
  std::string UnsafeAncestorReason(const WideString& path) override;
  bool IsInstallerRunning() override;
  bool WriteActiveVersion(const WideString& version) override;
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
  MoveResult HoldForMove(const WideString& path, uint32_t& error) override;
  void ReleaseHolds() override;

  // The handle of the folder held under the name `path` (not owned; null when none is): the folder as it was opened,
  // whatever happens to names meanwhile. It may list the folder and create entries inside it.
  HANDLE HeldHandle(const WideString& path) const;

 private:
  FileHandle lock_;
  std::map<WideString, FileHandle> holds_;  // by the name each held folder has now
};

// Takes the swap lock of an APPDIR for its lifetime: ParseAppdir, then TakeSwapLock on the lock path for 10000 ms
// (a foreign entry at the lock's name goes to `remover`). A rejected path leaves `held` false and `lock_error` 0;
// otherwise `lock_error` is the last attempt's error.
class SwapLock {
 public:
  SwapLock(const WideString& appdir, const Remover& remover);
  ~SwapLock();
  SwapLock(const SwapLock&) = delete;
  SwapLock& operator=(const SwapLock&) = delete;

  bool held = false;
  uint32_t lock_error = 0;

 private:
  Win32FileSystem fs_;
};

}  // namespace kestrova::appdirswap
