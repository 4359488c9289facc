#include "securefs/recreate_folder_win32.h"

#include "core/report.h"
#include "securefs/folders.h"
#include "securefs/nt_native_win32.h"
#include "securefs/paths.h"
#include "securefs/secure_folders.h"

namespace kestrova::securefs {
namespace {

// Listing and attributes for the entries, traverse for the opens relative to the folder; DELETE only while the folder
// must rename or remove itself (see Grip).
constexpr DWORD kFolderAccess = SYNCHRONIZE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Without delete sharing nobody else gets a handle that could rename or delete the held folder: an attempt fails with
// a sharing violation (32).
constexpr DWORD kHeldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
// An entry is opened only to be renamed. Its sharing is full (see OpenRelative); one that another process holds
// without delete sharing cannot be opened with DELETE and stays where it is (32).
constexpr DWORD kEntryAccess = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES;

// Opens a folder by its long path as itself, never through a link, and keeps the handle only for a plain folder.
DWORD OpenFolder(const WideString& path, DWORD access, FileHandle& held) {
  held.reset(CreateFileW(LongPath(path).c_str(), access, kHeldSharing, nullptr, OPEN_EXISTING,
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

DWORD Win32RecreateFileOps::Regrip(HeldFolder& folder, Grip wanted) {
  if (!folder.handle) return ERROR_INVALID_HANDLE;
  if (folder.grip == wanted) return ERROR_SUCCESS;
  // Neither held grip admits the other: a handle with DELETE refuses a second opener that does not share delete, and
  // one that does not share delete refuses a second opener asking for DELETE. So the change passes through a grip
  // that shares delete and has no DELETE, which admits both; for that instant another process could open the folder
  // for DELETE, but every step here still reaches it by handle, wherever it is moved.
  if (folder.grip != Grip::Passing && wanted != Grip::Passing) {
    const DWORD error = Regrip(folder, Grip::Passing);
    if (error != ERROR_SUCCESS) return error;
  }
  const DWORD access = wanted == Grip::Renaming ? kFolderAccess | DELETE : kFolderAccess;
  const DWORD sharing = wanted == Grip::Passing ? kShareAll : kHeldSharing;
  KernelHandle reopened;
  const NTSTATUS status = ReopenByHandle(folder.handle.get(), access, sharing, reopened);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  folder.handle.reset(reopened.release());
  folder.grip = wanted;
  return ERROR_SUCCESS;
}

uint32_t Win32RecreateFileOps::OpenOld(const WideString& path) {
  // Entries only leave the old folder until it has moved aside, so it is held with DELETE from the start.
  old_.grip = Grip::Renaming;
  return OpenFolder(path, kFolderAccess | DELETE, old_.handle);
}

bool Win32RecreateFileOps::CreateNew(const WideString& path) {
  if (!CreateFolderWithSddl(path, kSharedFolderSddl)) return false;
  new_.grip = Grip::Receiving;
  const DWORD error = OpenFolder(path, kFolderAccess, new_.handle);
  if (error == ERROR_SUCCESS) return true;
  Report(kReportError, "could not open %s: %lu", WideToUtf8(path).c_str(), error);
  // Made empty a moment ago; RemoveDirectoryW removes nothing that holds an entry, and a link only as itself.
  RemoveDirectoryW(LongPath(path).c_str());
  return false;
}

bool Win32RecreateFileOps::ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) {
  names.clear();
  const HeldFolder& held = Held(folder);
  if (!held.handle) {
    error = ERROR_INVALID_HANDLE;
    return false;
  }
  // Every listing goes through a fresh handle on the held folder: Wine 8 reads a folder's names once per handle and
  // answers a restarted scan from that first reading (checked), so a second listing through the held handle would
  // miss the entries that appeared in between.
  KernelHandle lister;
  const NTSTATUS status = ReopenByHandle(held.handle.get(), FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll, lister);
  if (!nt::IsSuccess(status)) {
    error = RtlNtStatusToDosError(status);
    return false;
  }
  DWORD code = ERROR_SUCCESS;
  if (ListNamesByHandle(lister.get(), listing_, names, code)) return true;
  error = code;
  return false;
}

uint32_t Win32RecreateFileOps::MoveEntry(FolderRole from, FolderRole to, const WideString& name) {
  HeldFolder& source = Held(from);
  HeldFolder& target = Held(to);
  if (!source.handle || !target.handle) return ERROR_INVALID_HANDLE;
  if (!IsBareName(name)) return ERROR_INVALID_NAME;
  const DWORD error = Regrip(target, Grip::Receiving);
  if (error != ERROR_SUCCESS) return error;
  KernelHandle entry;
  NTSTATUS status = OpenRelative(source.handle.get(), name, kEntryAccess, entry);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  // The target is the other folder's handle and the bare name, so the entry lands in that folder object wherever it
  // stands now.
  status = RenameByHandle(entry.get(), target.handle.get(), name);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  return ERROR_SUCCESS;
}

uint32_t Win32RecreateFileOps::RenameFolder(FolderRole folder, const WideString& path) {
  HeldFolder& held = Held(folder);
  const DWORD error = Regrip(held, Grip::Renaming);
  if (error != ERROR_SUCCESS) return error;
  // The folder renames itself through its own handle. The new name is a full NT path ("\??\C:\..." or
  // "\??\UNC\..."), which names the parent the callers have judged admin-only: Windows would also take a bare name
  // without RootDirectory as a rename within the same folder, but Wine 8 refuses that with
  // STATUS_OBJECT_PATH_SYNTAX_BAD (checked).
  WideString target = LongPath(path);
  if (target.compare(0, 4, L"\\\\?\\") != 0) return ERROR_INVALID_NAME;
  target[1] = L'?';
  const NTSTATUS status = RenameByHandle(held.handle.get(), nullptr, target);
  if (!nt::IsSuccess(status)) return RtlNtStatusToDosError(status);
  return ERROR_SUCCESS;
}

uint32_t Win32RecreateFileOps::RemoveEmptyFolder(FolderRole folder) {
  HeldFolder& held = Held(folder);
  DWORD code = Regrip(held, Grip::Renaming);
  if (code != ERROR_SUCCESS) return code;
  if (!DeleteByHandle(held.handle.get(), code)) return code;
  // Where only the classic disposition works (Wine), the name goes when this last handle of ours closes.
  held.handle.reset();
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
