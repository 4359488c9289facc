// Folder creation and the writing of a fixed security descriptor given as SDDL text (revision 1), plus the removal of
// one entry that may be a link. Windows only. Nothing here decides whether a folder is trustworthy or repairs one;
// problems are reported through Report (level 1 warning, 2 error) with the path as the caller passed it.
#pragma once

#include <windows.h>

#include "core/text.h"
#include "core/unique_handle_win32.h"

namespace kestrova::securefs {

// A directory that is neither a junction nor a symbolic link nor any other reparse point.
bool IsPlainFolder(DWORD attributes);

// Creates the folder and every missing folder above it (a drive such as "C:" is never created), each inheriting its
// security from its parent. True if the path is a plain folder afterwards, also when another process created it
// meanwhile; false when any level that is tested is a link or a file. Reports nothing.
bool CreateFolderTree(const WideString& path);

// Removes the entry itself, never what a link points to: clears its attributes, then RemoveDirectoryW when
// `attributes` (as last read) contain FILE_ATTRIBUTE_DIRECTORY, else DeleteFileW. On false the Win32 last error is
// that of the removal. Reports nothing.
bool Unlink(const WideString& path, DWORD attributes);

// Writes the DACL of `sddl`, marked protected, and the owner Administrators. Through `handle` when there is one (it
// must carry WRITE_DAC, and WRITE_OWNER for the owner), else by `path`, which also names the entry in messages. When
// the owner cannot be written, warns "could not take ownership of <path> (<code>); setting the DACL only" and writes
// the DACL alone. True if at least the protected DACL was written; otherwise reports "could not parse SDDL for <path>"
// or "could not set the DACL of <path>: <code>" and returns false.
bool ApplySddl(HANDLE handle, const WideString& path, const char* sddl);

// Opens an entry as itself (a reparse point is opened as the link, never followed) to judge and write its security:
// READ_CONTROL, WRITE_DAC, WRITE_OWNER and FILE_READ_ATTRIBUTES (without WRITE_OWNER where that is denied, so that
// ApplySddl can still write the DACL alone), full sharing. Whatever is renamed or swapped in at
// that name afterwards, the handle stays on the object opened here. Empty, with the Win32 last error, on failure.
FileHandle OpenForSecuring(const WideString& path);

// Whether the opened object is a plain folder, by FileAttributeTagInfo; false when that cannot be read.
bool IsPlainFolderHandle(HANDLE object);

// Creates a folder that must not exist yet with the descriptor of `sddl`, after creating its parent with
// CreateFolderTree (false without a message when that fails), then applies it again with ApplySddl for the owner and
// the protection, through a handle opened on the created folder. Reports "could not parse SDDL for <path>",
// "could not create <path>: <code>" (183 when it exists), "could not open <path>: <code>" or
// "<path> is no longer a plain directory; not securing it".
bool CreateFolderWithSddl(const WideString& path, const char* sddl);

}  // namespace kestrova::securefs
