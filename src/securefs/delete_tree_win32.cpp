#include "securefs/delete_tree.h"

#include <vector>

#include "core/unique_handle_win32.h"
#include "securefs/folder_handle_win32.h"
#include "securefs/folders.h"

namespace kestrova::securefs {
namespace {

constexpr DWORD kEntryAccess = SYNCHRONIZE | DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY;

// One removal: where the first failure's code goes, and the listing buffer every folder reuses (the names are
// copied out of it before anything below is entered).
struct Removal {
  DWORD& code;
  ListingBuffer listing;
};

// Opens an entry by its name relative to the folder's handle, never following a reparse point. Listing access is
// dropped on a sharing violation: a process that holds a file open without read sharing still lets it be deleted
// as long as it shares delete, and a file needs no listing.
NTSTATUS OpenEntry(HANDLE folder, WideView name, KernelHandle& entry) {
  NTSTATUS status = OpenRelative(folder, name, kEntryAccess, entry);
  if (status == nt::kStatusSharingViolation) {
    status = OpenRelative(folder, name, kEntryAccess & ~FILE_LIST_DIRECTORY, entry);
  }
  return status;
}

bool DeleteOpened(HANDLE object, unsigned depth, WideView first, Removal& removal) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag)) {
    removal.code = GetLastError();
    return false;
  }
  // A file, or a junction or link of any kind: removed as itself, its target never entered.
  if (!IsPlainFolder(tag.FileAttributes)) return DeleteByHandle(object, removal.code);
  if (depth >= kMaxDeleteDepth) {
    removal.code = ERROR_BUFFER_OVERFLOW;
    return false;
  }

  if (!first.empty()) {
    KernelHandle entry;
    const NTSTATUS status = OpenEntry(object, first, entry);
    if (!IsMissing(status)) {
      if (!nt::IsSuccess(status)) {
        removal.code = RtlNtStatusToDosError(status);
        return false;
      }
      if (!DeleteOpened(entry.get(), depth + 1, {}, removal)) return false;
    }
  }

  std::vector<WideString> names;
  if (!ListNamesByHandle(object, removal.listing, names, removal.code)) return false;
  for (const WideString& name : names) {
    KernelHandle entry;
    const NTSTATUS status = OpenEntry(object, name, entry);
    // Another process may have removed it since the listing.
    if (IsMissing(status)) continue;
    if (!nt::IsSuccess(status)) {
      removal.code = RtlNtStatusToDosError(status);
      return false;
    }
    if (!DeleteOpened(entry.get(), depth + 1, {}, removal)) return false;
  }
  return DeleteByHandle(object, removal.code);
}

}  // namespace

bool DeleteTreeByHandle(const WideString& path, DWORD& code, WideView first) {
  code = 0;
  WideString target = path;
  const bool hasPrefix = path.size() > 3 && path.compare(0, 4, L"\\\\?\\") == 0;
  if (!hasPrefix && path.size() >= 3 && path[1] == L':' && path[2] == L'\\') target = L"\\\\?\\" + path;

  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  FileHandle root(CreateFileW(target.c_str(), kEntryAccess, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
  DWORD error = root ? ERROR_SUCCESS : GetLastError();
  if (error == ERROR_SHARING_VIOLATION) {
    root.reset(CreateFileW(target.c_str(), kEntryAccess & ~FILE_LIST_DIRECTORY, kShareAll, nullptr, OPEN_EXISTING,
                           flags, nullptr));
    error = root ? ERROR_SUCCESS : GetLastError();
  }
  if (!root) {
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    code = error;
    return false;
  }
  Removal removal{code, {}};
  return DeleteOpened(root.get(), 0, first, removal);
}

bool RemoveTree(const WideString& path, std::string* text) {
  DWORD code = 0;
  if (DeleteTreeByHandle(path, code)) return true;
  if (text != nullptr) *text = "could not remove " + WideToUtf8(path) + ": " + std::to_string(code);
  return false;
}

}  // namespace kestrova::securefs
