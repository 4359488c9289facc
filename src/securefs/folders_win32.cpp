#include "securefs/folders.h"

#include <sddl.h>
#include <aclapi.h>

#include "core/report.h"
#include "core/unique_handle_win32.h"
#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

bool IsPlainFolderPath(const WideString& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && IsPlainFolder(attributes);
}

bool ConvertSddl(const char* sddl, LocalMemory& descriptor) {
  PSECURITY_DESCRIPTOR converted = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &converted, nullptr)) return false;
  descriptor.reset(converted);
  return true;
}

// One write of the protected DACL, with the owner when `owner` is given. Returns 0 or the Win32 error.
DWORD WriteSecurity(HANDLE handle, const WideString& path, PACL dacl, PSID owner) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    SECURITY_DESCRIPTOR absolute;
    if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION)) return GetLastError();
    if (!SetSecurityDescriptorDacl(&absolute, TRUE, dacl, FALSE)) return GetLastError();
    if (!SetSecurityDescriptorControl(&absolute, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) return GetLastError();
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
    if (owner != nullptr) {
      if (!SetSecurityDescriptorOwner(&absolute, owner, FALSE)) return GetLastError();
      what |= OWNER_SECURITY_INFORMATION;
    }
    if (!SetKernelObjectSecurity(handle, what, &absolute)) return GetLastError();
    return ERROR_SUCCESS;
  }
  SECURITY_INFORMATION what = PROTECTED_DACL_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  if (owner != nullptr) what |= OWNER_SECURITY_INFORMATION;
  // SetNamedSecurityInfoW takes a non-const name; it does not write to it.
  WideString name = path;
  return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, what, owner, nullptr, dacl, nullptr);
}

}  // namespace

bool IsPlainFolder(DWORD attributes) {
  return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY;
}

bool CreateFolderTree(const WideString& path) {
  if (IsDriveRootForm(path)) {
    // A drive root is never created, and in the "\\?\C:" form (what the folder part of "\\?\C:\x" is) it names the
    // volume device, not its root folder, so it is asked for by "X:\".
    const WideString root{path[path.size() >= 4 && path[2] == L'?' ? 4 : 0], L':', L'\\'};
    const DWORD attributes = GetFileAttributesW(root.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
  if (IsPlainFolderPath(path)) return true;
  const size_t last = path.find_last_of(L'\\');
  if (last != WideString::npos && last >= 1 && !CreateFolderTree(path.substr(0, last))) return false;
  if (CreateDirectoryW(path.c_str(), nullptr)) return true;
  // Another process may have created the folder between the test above and our own creation.
  return IsPlainFolderPath(path);
}

bool Unlink(const WideString& path, DWORD attributes) {
  // A read-only entry cannot be removed; the attributes are those of the link itself, not of its target.
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveDirectoryW(path.c_str()) != FALSE;
  return DeleteFileW(path.c_str()) != FALSE;
}

bool ApplySddl(HANDLE handle, const WideString& path, const char* sddl) {
  const std::string shown = WideToUtf8(path);
  LocalMemory descriptor;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!ConvertSddl(sddl, descriptor) ||
      !GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present || dacl == nullptr) {
    Report(kReportError, "could not parse SDDL for %s", shown.c_str());
    return false;
  }

  BYTE sidBuffer[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof sidBuffer;
  PSID administrators = nullptr;
  if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sidBuffer, &sidSize)) administrators = sidBuffer;

  DWORD error = WriteSecurity(handle, path, dacl, administrators);
  if (error != ERROR_SUCCESS && administrators != nullptr) {
    // Taking ownership needs SeTakeOwnershipPrivilege or SeRestorePrivilege unless the caller already owns the
    // folder; the protected DACL is what keeps others out, so it is still worth writing alone.
    Report(kReportWarning, "could not take ownership of %s (%lu); setting the DACL only", shown.c_str(), error);
    error = WriteSecurity(handle, path, dacl, nullptr);
  }
  if (error != ERROR_SUCCESS) {
    Report(kReportError, "could not set the DACL of %s: %lu", shown.c_str(), error);
    return false;
  }
  return true;
}

bool CreateFolderWithSddl(const WideString& path, const char* sddl) {
  const size_t last = path.find_last_of(L'\\');
  const WideString parent = last == WideString::npos ? path : path.substr(0, last);
  if (!CreateFolderTree(parent)) return false;

  const std::string shown = WideToUtf8(path);
  LocalMemory descriptor;
  if (!ConvertSddl(sddl, descriptor)) {
    Report(kReportError, "could not parse SDDL for %s", shown.c_str());
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (!CreateDirectoryW(path.c_str(), &attributes)) {
    const DWORD error = GetLastError();
    Report(kReportError, "could not create %s: %lu", shown.c_str(), error);
    return false;
  }
  // The descriptor given at creation leaves the owner to the creator's token default and the DACL open to
  // inheritance; applying it again makes Administrators the owner and protects the DACL. It is written through a
  // handle on the folder just made, so a link put in its place meanwhile is never followed.
  FileHandle folder = OpenForSecuring(path);
  if (!folder) {
    const DWORD error = GetLastError();
    Report(kReportError, "could not open %s: %lu", shown.c_str(), error);
    return false;
  }
  if (!IsPlainFolderHandle(folder.get())) {
    Report(kReportError, "%s is no longer a plain directory; not securing it", shown.c_str());
    return false;
  }
  return ApplySddl(folder.get(), path, sddl);
}

FileHandle OpenForSecuring(const WideString& path) {
  const auto open = [&](DWORD access) {
    return FileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
  };
  constexpr DWORD kAccess = READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES;
  FileHandle folder = open(kAccess | WRITE_OWNER);
  // An owner may change the DACL but, without SeTakeOwnershipPrivilege or a grant, not the owner; ApplySddl then
  // reports that and writes the DACL alone, as it would by name.
  if (!folder && GetLastError() == ERROR_ACCESS_DENIED) folder = open(kAccess);
  return folder;
}

bool IsPlainFolderHandle(HANDLE object) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  return GetFileInformationByHandleEx(object, FileAttributeTagInfo, &info, sizeof info) &&
         IsPlainFolder(info.FileAttributes);
}

}  // namespace kestrova::securefs
