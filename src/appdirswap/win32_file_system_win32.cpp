#include "appdirswap/win32_file_system.h"

#include <algorithm>

#include "appdirswap/layout.h"
#include "appdirswap/retry.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/system_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::appdirswap {
PathInfo Win32FileSystem::GetPathInfo(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(ToLongPathForm(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {PathKind::Absent, false};
    return {PathKind::Error, false};
  }
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return {directory ? PathKind::Directory : PathKind::File, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

bool Win32FileSystem::ReadSmallFile(const WideString& path, size_t max_bytes, std::string& out) {
  out.clear();
  FileHandle file(CreateFileW(ToLongPathForm(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  const DWORD wanted = static_cast<DWORD>(std::min<size_t>(max_bytes, 1u << 20));
  out.resize(wanted);
  DWORD read = 0;
  if (!ReadFile(file.get(), out.data(), wanted, &read, nullptr)) {
    out.clear();
    return false;
  }
  out.resize(read);
  return true;
}

MoveResult Win32FileSystem::Rename(const WideString& from, const WideString& to, uint32_t& error) {
  const auto held = holds_.find(from);
  if (held != holds_.end()) {
    // Through the held handle: the folder that moves is the one that was opened, whatever happened to its name.
    // The target is named by its NT path; nothing is replaced.
    const NTSTATUS status =
        securefs::RenameByHandle(held->second.get(), nullptr, L"\\??\\" + ToLongPathForm(to).substr(4));
    if (!securefs::nt::IsSuccess(status)) {
      error = RtlNtStatusToDosError(status);
      return ClassifyMoveError(error);
    }
    auto node = holds_.extract(held);
    node.key() = to;
    holds_.insert(std::move(node));
    error = 0;
    return MoveResult::Ok;
  }
  // No MOVEFILE_REPLACE_EXISTING: a sibling that appeared meanwhile is never overwritten.
  if (MoveFileExW(ToLongPathForm(from).c_str(), ToLongPathForm(to).c_str(), 0)) {
    error = 0;
    return MoveResult::Ok;
  }
  error = GetLastError();
  return ClassifyMoveError(error);
}

MoveResult Win32FileSystem::TryLock(const WideString& lock_path, uint32_t& error) {
  // No sharing makes a second open fail with a sharing violation while this handle lives, in any process;
  // delete-on-close removes the file when the holder closes it or dies, so a crash never leaves a stale lock.
  FileHandle lock(CreateFileW(ToLongPathForm(lock_path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              OPEN_ALWAYS,
                              FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT | FILE_ATTRIBUTE_HIDDEN,
                              nullptr));
  if (!lock) {
    error = GetLastError();
    return ClassifyLockError(error);
  }
  lock_ = std::move(lock);
  error = 0;
  return MoveResult::Ok;
}

void Win32FileSystem::Unlock() { lock_.reset(); }

bool Win32FileSystem::IsSystemFolder(const WideString& path) { return securefs::IsSystemFolder(path); }

std::string Win32FileSystem::AdminOnlyVerdict(const WideString& path) {
  // Opened as itself: a junction is judged as a junction (never admin-only), whoever owns its target.
  return securefs::CheckFolder(path);
}

std::string Win32FileSystem::UnsafeAncestorReason(const WideString& path) {
  // The engine's parent also counts who may create entries in it: a stranger who may create a folder there can take
  // a sibling's name, or APPDIR's, the moment it is free.
  return securefs::CheckTrustedFolder(path);
}

bool Win32FileSystem::IsInstallerRunning() {
  KernelHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kInstallerMutexName));
  const DWORD error = mutex ? ERROR_SUCCESS : GetLastError();
  // The installer's mutex may deny SYNCHRONIZE to callers outside its service; that it exists is all we ask.
  return mutex || error == ERROR_ACCESS_DENIED;
}

bool Win32FileSystem::WriteActiveVersion(const WideString& version) {
  RegKey key;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kActiveVersionKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                      key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD bytes = static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), kActiveVersionValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                        bytes) == ERROR_SUCCESS;
}

uint64_t Win32FileSystem::NowMs() { return GetTickCount64(); }

void Win32FileSystem::SleepMs(uint32_t ms) { Sleep(ms); }

MoveResult Win32FileSystem::HoldForMove(const WideString& path, uint32_t& error) {
  if (holds_.count(path) != 0) {
    error = 0;
    return MoveResult::Ok;
  }
  // DELETE without FILE_SHARE_DELETE: no other process can rename or delete the folder while this handle lives, and
  // the open itself fails with a sharing violation while anyone else has the folder open without sharing delete.
  // FILE_LIST_DIRECTORY as well: a command that holds a folder may create an entry inside it through the hold.
  FileHandle folder(CreateFileW(ToLongPathForm(path).c_str(),
                                FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) {
    error = GetLastError();
    return ClassifyMoveError(error);
  }
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    error = GetLastError();
    return MoveResult::Failed;
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = ERROR_DIRECTORY;
    return MoveResult::Failed;
  }
  holds_[path] = std::move(folder);
  error = 0;
  return MoveResult::Ok;
}

void Win32FileSystem::ReleaseHolds() { holds_.clear(); }

HANDLE Win32FileSystem::HeldHandle(const WideString& path) const {
  const auto held = holds_.find(path);
  return held == holds_.end() ? nullptr : held->second.get();
}

SwapLock::SwapLock(const WideString& appdir, const Remover& remover) {
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) return;
  const AttemptRecord record = TakeSwapLock(fs_, paths.lock, kDefaultBudgetMs, remover);
  held = record.result == MoveResult::Ok;
  lock_error = held ? 0 : record.last_error;
}

SwapLock::~SwapLock() { fs_.Unlock(); }

}  // namespace kestrova::appdirswap
