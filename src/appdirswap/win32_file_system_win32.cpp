#include "appdirswap/win32_file_system.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include "appdirswap/layout.h"
#include "appdirswap/retry.h"
#include "securefs/system_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::appdirswap {
namespace {

constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

}  // namespace

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
    return ClassifyMoveError(error);
  }
  lock_ = std::move(lock);
  error = 0;
  return MoveResult::Ok;
}

void Win32FileSystem::Unlock() { lock_.reset(); }

bool Win32FileSystem::IsSystemFolder(const WideString& path) { return securefs::IsSystemFolder(path); }

bool Win32FileSystem::IsAdminOwned(const WideString& path) {
  // Opened as itself: a junction is judged by its own owner, whoever owns its target.
  FileHandle entry(CreateFileW(ToLongPathForm(path).c_str(), READ_CONTROL,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!entry) return false;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetSecurityInfo(entry.get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                       nullptr, nullptr, &descriptor);
  LocalMemory owned_descriptor(descriptor);
  entry.reset();
  if (status != ERROR_SUCCESS || owner == nullptr) return false;
  if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  // TrustedInstaller is a service SID, which IsWellKnownSid does not know.
  PSID trusted_installer = nullptr;
  if (!ConvertStringSidToSidW(kTrustedInstallerSid, &trusted_installer)) return false;
  LocalMemory owned_trusted_installer(trusted_installer);
  return EqualSid(owner, trusted_installer) != FALSE;
}

std::string Win32FileSystem::UnsafeAncestorReason(const WideString& path) {
  return securefs::CheckPathAndParents(path, securefs::WalkMode::ExistingOnly);
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

SwapLock::SwapLock(const WideString& appdir) {
  LayoutPaths paths;
  if (!ParseAppdir(appdir, paths)) return;
  const AttemptRecord record = LockWithRetry(fs_, paths.lock, kDefaultBudgetMs);
  held = record.result == MoveResult::Ok;
  lock_error = held ? 0 : record.last_error;
}

SwapLock::~SwapLock() { fs_.Unlock(); }

}  // namespace kestrova::appdirswap
