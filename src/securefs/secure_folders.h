// Making the tool's own folders admin-only and keeping them so: creating them with a fixed protected descriptor,
// re-securing them on every run, removing a link planted where one belongs, recreating a folder a non-administrator
// owns and taking back a folder whose rights were widened. Windows only. Whether a folder is admin-only is decided by
// trust_evaluation.h; every step is reported through Report (0 information, 1 warning, 2 error), paths as received.
#pragma once

#include <windows.h>

#include "core/text.h"
#include "core/unique_handle_win32.h"

namespace kestrova::securefs {

// SYSTEM and Administrators full control, Users read and execute, OWNER RIGHTS held to READ_CONTROL; protected.
// For the updates folder and its logs folder.
inline constexpr char kAdminFolderSddl[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)(A;OICI;RC;;;OW)";
// As above without OWNER RIGHTS, plus CREATOR OWNER full control on what is created inside and Users allowed to add
// entries (0x116) but not to delete, rename or re-secure what others own. For folders taken back or recreated.
inline constexpr char kSharedFolderSddl[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)(A;CI;0x116;;;BU)";

// The machine-wide lock that serialises recreations across every running instance, and how long one waits for it.
inline constexpr wchar_t kRecreateLockName[] = L"Global\\KestrovaSecureFsRecreate";
inline constexpr DWORD kRecreateLockWaitMs = 3000;

// The common application data folder followed by "\Kestrova\Updates" (SHGetFolderPathW, CSIDL_COMMON_APPDATA);
// "C:\ProgramData\Kestrova\Updates" when the shell cannot give the folder. Reports nothing.
WideString DefaultUpdatesFolder();

// True if the owner of `path` (as named, links followed) is SYSTEM, Administrators or TrustedInstaller; false also
// when the owner cannot be read.
bool IsOwnedByAdmins(const WideString& path);
// The same for an opened object; the handle needs READ_CONTROL.
bool IsOwnedByAdmins(HANDLE object);

// While it lives, SeTakeOwnershipPrivilege, SeRestorePrivilege and SeBackupPrivilege are enabled in the process
// token, as far as the account holds them (silently not otherwise); the previous state is put back when it ends.
class OwnershipPrivileges {
 public:
  OwnershipPrivileges();
  ~OwnershipPrivileges();
  OwnershipPrivileges(const OwnershipPrivileges&) = delete;
  OwnershipPrivileges& operator=(const OwnershipPrivileges&) = delete;

  // Whether the adjustment was made (and will be undone); not whether every privilege was held.
  bool Adjusted() const { return adjusted_; }

 private:
  struct ThreePrivileges {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[3];
  };
  KernelHandle token_;
  ThreePrivileges previous_{};
  bool adjusted_ = false;
};

// The recreate lock, created or opened and waited for up to `waitMs`. Held when the wait gave the lock, also when its
// previous holder died holding it; released and closed when the scope ends.
class RecreateLock {
 public:
  explicit RecreateLock(DWORD waitMs = kRecreateLockWaitMs);
  ~RecreateLock();
  RecreateLock(const RecreateLock&) = delete;
  RecreateLock& operator=(const RecreateLock&) = delete;

  bool Held() const { return held_; }

 private:
  KernelHandle mutex_;
  bool held_ = false;
};

// Rewrites owner (Administrators) and the protected kSharedFolderSddl DACL through a handle opened on the folder
// itself (never through a link), with OwnershipPrivileges enabled meanwhile. False with "could not open <path> to
// repair it: <code>" or "<path> is no longer a plain directory; not repairing it", or when ApplySddl fails. Handles
// others opened before keep the access they were granted.
bool RepairInPlace(const WideString& path);

// Replaces the folder by a new kSharedFolderSddl folder holding all its entries (recreate_folder.h says how nothing is
// lost on the way), so handles opened on the old folder object lose their grip. Both folders are held by handle from
// the first step on (recreate_folder_win32.h); the temporary names are made beside the folder, whose parent must be
// admin-only. Takes no lock; callers hold RecreateLock. True if the new folder stands in place.
bool RecreateAdminOnly(const WideString& path);

// Makes `path` exist as a plain folder owned by Administrators with kAdminFolderSddl. The folders above it must be
// admin-only (judged before and after the missing ones are created); a link in its place is removed, a folder that a
// non-administrator owns is removed with its whole tree and made anew (never a drive root, system folder or profile:
// "not removing <path>: <reason>"), and an existing administrator-owned folder has its owner and protected DACL
// written again. The owner is read from, and the descriptor written through, one handle opened on the folder as
// itself. False with a report when any of that fails.
bool SecureCreateFolder(const WideString& path);

// Makes the folder admin-only by CheckFolder, creating it with kSharedFolderSddl when missing, unlinking a link in its
// place, recreating it under RecreateLock, and repairing it in place when recreation fails and an administrator owns
// it. A folder a non-administrator owns that cannot be recreated is left untouched. True if it ends admin-only.
bool TakeBackFolder(const WideString& path);

// For the default updates folder only (compared without regard to case or trailing separators): the maker's folder
// above it (C:\ProgramData\Kestrova) is taken back once the folder above that is judged admin-only. True when there
// is nothing to secure or the maker's folder is admin-only; otherwise false after the error
// "recovery: SECURITY: <maker's folder> stays writable by standard users, ...".
bool SecureUpdatesParent(const WideString& updates);

// Everything that must hold before a file is put into the updates folder: the folder is neither a drive root nor a
// system folder nor a profile (else "<updates> cannot be the updates folder: <reason>" and nothing is touched), then
// SecureUpdatesParent, SecureCreateFolder of the folder and SecureCreateFolder of its "logs" folder, stopping at the
// first false.
bool SecureUpdatesFolder(const WideString& updates);

}  // namespace kestrova::securefs
