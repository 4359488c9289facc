#include "securefs/recreate_folder_win32.h"

#include "core/report.h"
#include "securefs/folders.h"
#include "securefs/nt_native_win32.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"

namespace kestrova::securefs {
namespace {

// DELETE to rename the folder through its own handle and to remove it once empty; listing and attributes for the
// entries; traverse for the opens relative to it. Read and write are shared, delete is not: nobody else gets a handle
// that could rename or delete the folder while it is held, and an attempt fails with a sharing violation (32).
constexpr DWORD kHeldFolderAccess = DELETE | SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr DWORD kHeldFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// An entry is opened only to be renamed. Its sharing is full (see OpenRelative); one that another process holds
// without delete sharing cannot be opened with DELETE and stays where it is (32).
constexpr DWORD kEntryAccess = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;

// Opens a folder by its long path as itself, never through a link, and keeps the handle only for a plain folder.
DWORD OpenHeldFolder(const WideString& path, FileHandle& held) {
  held.reset(CreateFileW(LongPath(path).c_str(), kHeldFolderAccess, kHeldFolderSharing, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!held) return GetLastError();
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(held.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    const DWORD error = GetLastError();
    held.reset();
    return error;
  }
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    held.reset();
    return nt::kErrorReparsePointEncountered;
  }
  if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    held.reset();
    return ERROR_DIRECTORY;
  }
  return ERROR_SUCCESS;
}

// Entry names come from a listing, but a name with a separator (or "." and "..") would reach past the folder whose
// handle it is opened relative to, so it is refused outright.
bool IsBareName(const WideString& name) {
  return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/") == WideString::npos;
}

}  // namespace

uint32_t Win32RecreateFileOps::OpenOld(const WideString& path) { return OpenHeldFolder(path, old_); }

bool Win32RecreateFileOps::CreateNew(const WideString& path) {
  if (!CreateFolderWithSddl(path, kSharedFolderSddl)) return false;
  const DWORD error = OpenHeldFolder(path, new_);
  if (error == ERROR_SUCCESS) return true;
  Report(kReportError, "could not open %s: %lu", WideToUtf8(path).c_str(), error);
  // Made empty a moment ago; RemoveDirectoryW removes nothing that holds an entry, and a link only as itself.
  RemoveDirectoryW(LongPath(path).c_str());
  return false;
}

bool Win32RecreateFileOps::ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) {
  names.clear();
  const FileHandle& held = Held(folder);
  if (!held) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  DWORD code = ERROR_SUCCESS;
  if (ListNamesByHandle(held.get(), listing_, names, code)) return true;
  error = code;
  return false;
}

uint32_t Win32RecreateFileOps::MoveEntry(FolderRole from, FolderRole to, const WideString& name) {
  const FileHandle& source = Held(from);
  const FileHandle& target = Held(to);
  if (!source || !target) return ERROR_INVALID_HANDLE;
  if (!IsBareName(name)) return ERROR_INVALID_NAME;
  KernelHandle entry;
  NTSTATUS status = OpenRelative(source.get(), name, kEntryAccess, entry);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  // The target is the other folder's handle and the bare name, so the entry lands in that folder object wherever it
  // stands now. Windows checks the caller's right to add an entry there by opening the folder anew for the rename.
  status = RenameByHandle(entry.get(), target.get(), name);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  return ERROR_SUCCESS;
}

uint32_t Win32RecreateFileOps::RenameFolder(FolderRole folder, const WideString& path) {
  const FileHandle& held = Held(folder);
  if (!held) return ERROR_INVALID_HANDLE;
  // The folder renames itself through its own handle. The new name is a full NT path ("\??\C:\..." or
  // "\??\UNC\..."), which names the parent the callers have judged admin-only: Windows would also take a bare name
  // without RootDirectory as a rename within the same folder, but Wine 8 refuses that with
  // STATUS_OBJECT_PATH_SYNTAX_BAD (checked).
  WideString target = LongPath(path);
  if (target.compare(0, 4, L"\\\\?\\") != 0) return ERROR_INVALID_NAME;
  target[1] = L'?';
  const NTSTATUS status = RenameByHandle(held.get(), nullptr, target);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  return ERROR_SUCCESS;
}

uint32_t Win32RecreateFileOps::RemoveEmptyFolder(FolderRole folder) {
  FileHandle& held = Held(folder);
  if (!held) return ERROR_INVALID_HANDLE;
  DWORD code = ERROR_SUCCESS;
  if (!DeleteByHandle(held.get(), code)) return code;
  // Where only the classic disposition works (Wine), the name goes when this last handle of ours closes.
  held.reset();
  return ERROR_SUCCESS;
}

bool RecreateAdminOnly(const WideString& path) {
  Win32RecreateFileOps ops;
  return RecreateFolder(ops, path, RecreateSuffix(GetCurrentProcessId(), GetTickCount64()));
}

RecreateLock::RecreateLock(DWORD waitMs) : mutex_(CreateMutexW(nullptr, FALSE, kRecreateLockName)) {
  if (!mutex_) return;
  // WAIT_ABANDONED hands over the lock of a holder that died; the folder is judged again under it anyway.
  const DWORD waited = WaitForSingleObject(mutex_.get(), waitMs);
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

RecreateLock::~RecreateLock() {
  if (held_) ReleaseMutex(mutex_.get());
}

}  // namespace kestrova::securefs
