// The few native NT declarations the handle-based folder work needs: NtCreateFile for opening an entry relative to
// its folder's handle, NtSetInformationFile for renaming by handle, RtlNtStatusToDosError, and the status values told
// apart. All come from ntdll; mingw-w64's winternl.h declares the functions and structures, the status values are
// defined here so that <ntstatus.h> (which clashes with <windows.h>) stays out. mingw-w64 hides the
// FileDispositionInfoEx class behind a version test that _WIN32_WINNT=0x0A00 does not pass, so the class and its flags
// are spelled out here as well, like ERROR_REPARSE_POINT_ENCOUNTERED, which its winerror.h lacks.
#pragma once

#include <windows.h>
#include <winternl.h>

namespace kestrova::securefs::nt {

constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr NTSTATUS kStatusObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusSharingViolation = static_cast<NTSTATUS>(0xC0000043);

constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;
struct DispositionInfoEx {
  DWORD Flags;
};

constexpr DWORD kErrorReparsePointEncountered = 4395;

inline bool IsSuccess(NTSTATUS status) { return status >= 0; }

}  // namespace kestrova::securefs::nt
