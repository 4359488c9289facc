// Work on the entries of a folder through the folder's own handle: an entry is opened by its bare name relative to
// that handle without following reparse points, names are listed by handle, and an opened object is renamed or
// deleted by its handle. Windows only; shared by the tree removal and the recreation of a folder. Nothing here opens a
// path by name or decides what may be touched; failures come back as NT statuses or Win32 codes, never as reports.
#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "securefs/nt_native_win32.h"

namespace kestrova::securefs {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// NtCreateFile of `name` (a bare name, no separators) relative to the handle `folder`: disposition FILE_OPEN, the
// given sharing, FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT | FILE_SYNCHRONOUS_IO_NONALERT, so a junction
// or link is opened as itself. One attempt; on success `entry` owns the new handle, otherwise it is empty.
NTSTATUS OpenRelative(HANDLE folder, WideView name, DWORD access, KernelHandle& entry, DWORD sharing = kShareAll);

// A second handle on the very object behind `object` (an open relative to it with the empty name), with other access
// and sharing; the usual sharing rules apply against every handle already open on it, `object` included.
NTSTATUS ReopenByHandle(HANDLE object, DWORD access, DWORD sharing, KernelHandle& reopened);

// The entry did not exist when it was opened (STATUS_OBJECT_NAME_NOT_FOUND or STATUS_OBJECT_PATH_NOT_FOUND).
bool IsMissing(NTSTATUS status);

// A listing buffer of 64 KiB, aligned for the records it receives; one can serve many listings in turn.
class ListingBuffer {
 public:
  static constexpr size_t kBytes = 65536;
  BYTE* Data() { return reinterpret_cast<BYTE*>(words_.data()); }

 private:
  std::vector<ULONGLONG> words_ = std::vector<ULONGLONG>(kBytes / sizeof(ULONGLONG));
};

// Appends the names inside the folder whose handle (with FILE_LIST_DIRECTORY) is given, without "." and "..", in
// listing order (FileIdBothDirectoryRestartInfo, then FileIdBothDirectoryInfo until the calls end). True when the
// listing ended normally (ERROR_NO_MORE_FILES); otherwise `code` is the error that cut it short and the names are
// incomplete.
bool ListNamesByHandle(HANDLE folder, ListingBuffer& buffer, std::vector<WideString>& names, DWORD& code);

// Renames the object behind `object` (opened with DELETE) with FileRenameInformation, never replacing an existing
// entry: with a `targetFolder` handle, `name` is a bare name inside that folder; without one, `name` must be a full NT
// path ("\??\C:\..."). Returns the NT status.
NTSTATUS RenameByHandle(HANDLE object, HANDLE targetFolder, WideView name);

// Deletes the object behind `object` (opened with DELETE): POSIX semantics where the system has them, else the
// classic disposition after clearing a read-only attribute (which needs FILE_WRITE_ATTRIBUTES; without it a read-only
// entry stays). A folder must be empty (ERROR_DIR_NOT_EMPTY, 145). With the classic disposition the name goes when the
// last handle closes. On false `code` is the Win32 error.
bool DeleteByHandle(HANDLE object, DWORD& code);

}  // namespace kestrova::securefs
