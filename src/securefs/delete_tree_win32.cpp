#include "securefs/delete_tree.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "core/unique_handle_win32.h"
#include "securefs/folders.h"
#include "securefs/nt_native_win32.h"

namespace kestrova::securefs {
namespace {

constexpr DWORD kEntryAccess = SYNCHRONIZE | DELETE | FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES | FILE_LIST_DIRECTORY;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kListingBytes = 65536;

// One removal: where the first failure's code goes, and the listing buffer every folder reuses (the names are
// copied out of it before anything below is entered).
struct Removal {
  DWORD& code;
  std::vector<ULONGLONG> listing = std::vector<ULONGLONG>(kListingBytes / sizeof(ULONGLONG));
};

NTSTATUS OpenOnce(HANDLE folder, WideView name, DWORD access, KernelHandle& entry) {
  if (name.size() * sizeof(wchar_t) > 0xFFFF) return static_cast<NTSTATUS>(0xC0000033);  // STATUS_OBJECT_NAME_INVALID
  UNICODE_STRING counted;
  counted.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  counted.MaximumLength = counted.Length;
  // The native call takes a non-const buffer but only reads the name.
  counted.Buffer = const_cast<PWSTR>(name.data());
  OBJECT_ATTRIBUTES attributes;
  attributes.Length = sizeof attributes;
  attributes.RootDirectory = folder;
  attributes.ObjectName = &counted;
  attributes.Attributes = 0;
  attributes.SecurityDescriptor = nullptr;
  attributes.SecurityQualityOfService = nullptr;
  IO_STATUS_BLOCK io{};
  return NtCreateFile(entry.put(), access, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
                      FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

// Opens an entry by its name relative to the folder's handle, never following a reparse point. Listing access is
// dropped on a sharing violation: a process that holds a file open without read sharing still lets it be deleted
// as long as it shares delete, and a file needs no listing.
NTSTATUS OpenRelative(HANDLE folder, WideView name, KernelHandle& entry) {
  NTSTATUS status = OpenOnce(folder, name, kEntryAccess, entry);
  if (status == nt::kStatusSharingViolation) status = OpenOnce(folder, name, kEntryAccess & ~FILE_LIST_DIRECTORY, entry);
  if (!nt::IsSuccess(status)) entry.reset();
  return status;
}

bool IsMissing(NTSTATUS status) {
  return status == nt::kStatusObjectNameNotFound || status == nt::kStatusObjectPathNotFound;
}

bool DeleteByHandle(HANDLE object, Removal& removal) {
  // POSIX semantics take the name away at once, even while others keep the object open with delete sharing, so
  // the folder above can be removed right after. Windows before 10 1709 does not know the class, and Wine 8 fails
  // it with ERROR_INVALID_PARAMETER (87); both take the classic way below.
  nt::DispositionInfoEx posix{nt::kDispositionDelete | nt::kDispositionPosixSemantics | nt::kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(object, nt::kFileDispositionInfoEx, &posix, sizeof posix)) return true;

  // The classic disposition refuses a read-only entry (access denied), so the flag is cleared first; the name goes
  // when the last handle closes, which for entries below the root is right after this returns.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(object, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO classic{};
  classic.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(object, FileDispositionInfo, &classic, sizeof classic)) {
    removal.code = GetLastError();
    return false;
  }
  return true;
}

bool ListNames(HANDLE folder, Removal& removal, std::vector<WideString>& names) {
  BYTE* const buffer = reinterpret_cast<BYTE*>(removal.listing.data());
  const DWORD size = static_cast<DWORD>(removal.listing.size() * sizeof(ULONGLONG));
  std::fill(removal.listing.begin(), removal.listing.end(), 0);
  FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(folder, kind, buffer, size)) {
    kind = FileIdBothDirectoryInfo;
    size_t offset = 0;
    for (;;) {
      if (offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName) > size) break;
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + offset);
      const size_t nameOffset = offset + offsetof(FILE_ID_BOTH_DIR_INFO, FileName);
      if (nameOffset + record->FileNameLength > size) break;
      const WideView name(record->FileName, record->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") names.emplace_back(name);
      if (record->NextEntryOffset == 0) break;
      offset += record->NextEntryOffset;
    }
  }
  const DWORD error = GetLastError();
  if (error != ERROR_NO_MORE_FILES) {
    removal.code = error;
    return false;
  }
  return true;
}

bool DeleteOpened(HANDLE object, unsigned depth, WideView first, Removal& removal) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(object, FileAttributeTagInfo, &tag, sizeof tag)) {
    removal.code = GetLastError();
    return false;
  }
  // A file, or a junction or link of any kind: removed as itself, its target never entered.
  if (!IsPlainFolder(tag.FileAttributes)) return DeleteByHandle(object, removal);
  if (depth >= kMaxDeleteDepth) {
    removal.code = ERROR_BUFFER_OVERFLOW;
    return false;
  }

  if (!first.empty()) {
    KernelHandle entry;
    const NTSTATUS status = OpenRelative(object, first, entry);
    if (!IsMissing(status)) {
      if (!nt::IsSuccess(status)) {
        removal.code = RtlNtStatusToDosError(status);
        return false;
      }
      if (!DeleteOpened(entry.get(), depth + 1, {}, removal)) return false;
    }
  }

  std::vector<WideString> names;
  if (!ListNames(object, removal, names)) return false;
  for (const WideString& name : names) {
    KernelHandle entry;
    const NTSTATUS status = OpenRelative(object, name, entry);
    // Another process may have removed it since the listing.
    if (IsMissing(status)) continue;
    if (!nt::IsSuccess(status)) {
      removal.code = RtlNtStatusToDosError(status);
      return false;
    }
    if (!DeleteOpened(entry.get(), depth + 1, {}, removal)) return false;
  }
  return DeleteByHandle(object, removal);
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
  Removal removal{code};
  return DeleteOpened(root.get(), 0, first, removal);
}

bool RemoveTree(const WideString& path, std::string* text) {
  DWORD code = 0;
  if (DeleteTreeByHandle(path, code)) return true;
  if (text != nullptr) *text = "could not remove " + WideToUtf8(path) + ": " + std::to_string(code);
  return false;
}

}  // namespace kestrova::securefs
