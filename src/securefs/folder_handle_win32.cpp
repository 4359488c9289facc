#include "securefs/folder_handle_win32.h"

#include <algorithm>
#include <cstring>

namespace kestrova::securefs {

NTSTATUS OpenRelative(HANDLE folder, WideView name, DWORD access, KernelHandle& entry, DWORD sharing) {
  entry.reset();
  if (name.size() * sizeof(wchar_t) > 0xFFFF) return nt::kStatusObjectNameInvalid;
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
  const NTSTATUS status =
      NtCreateFile(entry.put(), access, &attributes, &io, nullptr, 0, sharing, FILE_OPEN,
                   FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  // A failed call may leave anything in the output; only a success hands over a handle.
  if (!nt::IsSuccess(status)) entry.release();
  return status;
}

NTSTATUS ReopenByHandle(HANDLE object, DWORD access, DWORD sharing, KernelHandle& reopened) {
  return OpenRelative(object, WideView(L"", 0), access, reopened, sharing);
}

bool IsMissing(NTSTATUS status) {
  return status == nt::kStatusObjectNameNotFound || status == nt::kStatusObjectPathNotFound;
}

bool ListNamesByHandle(HANDLE folder, ListingBuffer& listing, std::vector<WideString>& names, DWORD& code) {
  BYTE* const buffer = listing.Data();
  constexpr DWORD size = ListingBuffer::kBytes;
  std::memset(buffer, 0, size);
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
    code = error;
    return false;
  }
  return true;
}

NTSTATUS RenameByHandle(HANDLE object, HANDLE targetFolder, WideView name) {
  const size_t nameBytes = name.size() * sizeof(wchar_t);
  if (nameBytes > 0xFFFF) return nt::kStatusObjectNameInvalid;
  // The record ends in a variable-length name; ULONGLONG words keep the handle member aligned. Its length is never
  // below the size of the structure itself, padding included: both Windows and Wine refuse a shorter buffer with
  // STATUS_INFO_LENGTH_MISMATCH or STATUS_INVALID_PARAMETER, which a one-character name would otherwise give.
  const size_t bytes =
      std::max(offsetof(FILE_RENAME_INFORMATION, FileName) + nameBytes, sizeof(FILE_RENAME_INFORMATION));
  std::vector<ULONGLONG> storage((bytes + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
  auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(storage.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = targetFolder;
  rename->FileNameLength = static_cast<ULONG>(nameBytes);
  std::memcpy(rename->FileName, name.data(), nameBytes);
  // The native call, not SetFileInformationByHandle(FileRenameInfo): Wine 8's kernelbase turns the name into a DOS
  // path against the current directory before passing it on, so a bare name relative to RootDirectory fails there
  // with ERROR_FILE_NOT_FOUND (checked). Windows passes the record through unchanged either way.
  IO_STATUS_BLOCK io{};
  return NtSetInformationFile(object, &io, rename, static_cast<ULONG>(bytes), FileRenameInformation);
}

bool DeleteByHandle(HANDLE object, DWORD& code) {
  // POSIX semantics take the name away at once, even while others keep the object open with delete sharing, so
  // the folder above can be removed right after. Windows before 10 1709 does not know the class, and Wine 8 fails
  // it with ERROR_INVALID_PARAMETER (87); both take the classic way below.
  nt::DispositionInfoEx posix{nt::kDispositionDelete | nt::kDispositionPosixSemantics | nt::kDispositionIgnoreReadOnly};
  if (SetFileInformationByHandle(object, nt::kFileDispositionInfoEx, &posix, sizeof posix)) return true;

  // The classic disposition refuses a read-only entry (access denied), so the flag is cleared first; the name goes
  // when the last handle closes.
  FILE_BASIC_INFO basic{};
  if (GetFileInformationByHandleEx(object, FileBasicInfo, &basic, sizeof basic) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    SetFileInformationByHandle(object, FileBasicInfo, &basic, sizeof basic);
  }
  FILE_DISPOSITION_INFO classic{};
  classic.DeleteFile = TRUE;
  if (!SetFileInformationByHandle(object, FileDispositionInfo, &classic, sizeof classic)) {
    code = GetLastError();
    return false;
  }
  return true;
}

}  // namespace kestrova::securefs
