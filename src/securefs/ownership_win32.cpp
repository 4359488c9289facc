#include "securefs/secure_folders.h"

#include <aclapi.h>
#include <sddl.h>

#include "core/report.h"
#include "securefs/folders.h"
#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

constexpr wchar_t kTrustedInstallerSid[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsAdminPrincipal(PSID owner) {
  if (owner == nullptr) return false;
  if (IsWellKnownSid(owner, WinLocalSystemSid) || IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return true;
  // TrustedInstaller is a service SID, not a well-known one, so it is compared by value.
  PSID trustedInstaller = nullptr;
  if (!ConvertStringSidToSidW(kTrustedInstallerSid, &trustedInstaller)) return false;
  LocalMemory ownedTrustedInstaller(trustedInstaller);
  return EqualSid(owner, trustedInstaller) != FALSE;
}

}  // namespace

bool IsOwnedByAdmins(const WideString& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error = GetNamedSecurityInfoW(LongPath(path).c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                            &owner, nullptr, nullptr, nullptr, &descriptor);
  LocalMemory ownedDescriptor(descriptor);
  return error == ERROR_SUCCESS && IsAdminPrincipal(owner);
}

bool IsOwnedByAdmins(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD error =
      GetSecurityInfo(object, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr, &descriptor);
  LocalMemory ownedDescriptor(descriptor);
  return error == ERROR_SUCCESS && IsAdminPrincipal(owner);
}

OwnershipPrivileges::OwnershipPrivileges() {
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token_.put())) return;
  const wchar_t* const names[3] = {SE_TAKE_OWNERSHIP_NAME, SE_RESTORE_NAME, SE_BACKUP_NAME};
  ThreePrivileges wanted{};
  wanted.PrivilegeCount = 3;
  for (int index = 0; index < 3; ++index) {
    if (!LookupPrivilegeValueW(nullptr, names[index], &wanted.Privileges[index].Luid)) return;
    wanted.Privileges[index].Attributes = SE_PRIVILEGE_ENABLED;
  }
  // TOKEN_PRIVILEGES declares one entry; ThreePrivileges has the same layout with room for three. The call succeeds
  // (with ERROR_NOT_ALL_ASSIGNED) when the account lacks some of them, and the previous state then lists only those
  // it changed, which is exactly what must be put back.
  DWORD returned = 0;
  adjusted_ = AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&wanted),
                                    sizeof previous_, reinterpret_cast<PTOKEN_PRIVILEGES>(&previous_),
                                    &returned) != FALSE;
}

OwnershipPrivileges::~OwnershipPrivileges() {
  if (adjusted_) {
    AdjustTokenPrivileges(token_.get(), FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&previous_), 0, nullptr, nullptr);
  }
}

bool RepairInPlace(const WideString& path) {
  OwnershipPrivileges privileges;
  const std::string shown = WideToUtf8(path);
  // Opened as itself: a link planted since the last judgement is not followed, and the descriptor is written to the
  // very object that was checked to be a plain folder.
  FileHandle folder(CreateFileW(LongPath(path).c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) {
    const DWORD error = GetLastError();
    Report(kReportError, "could not open %s to repair it: %lu", shown.c_str(), error);
    return false;
  }
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &info, sizeof info) &&
      IsPlainFolder(info.FileAttributes)) {
    return ApplySddl(folder.get(), path, kSharedFolderSddl);
  }
  Report(kReportError, "%s is no longer a plain directory; not repairing it", shown.c_str());
  return false;
}

}  // namespace kestrova::securefs
