// The recovery script on its way into the updates folder: read whole from where the installer put it, within fixed
// size bounds, and written beside the task as an admin-only file that readers see either old or complete. The size
// rule is portable; the file work is the Windows side's. Which folder is safe to write into is decided by the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"

namespace kestrova::recovery {

// A script has at least 1 and at most 1048576 bytes (1 MiB).
inline constexpr uint64_t kMaxScriptBytes = 1048576;

// Empty when `size` is within the bounds; otherwise "size <size> is out of range".
std::string ScriptSizeProblem(uint64_t size);

#ifdef _WIN32
// Protected DACL: SYSTEM and Administrators full control, OWNER RIGHTS only READ_CONTROL, nobody else anything.
inline constexpr char kAdminFileSddl[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;RC;;;OW)";

// Reads the whole file at LongPath(path), opened as itself (a link is never followed) with read sharing only, so
// nobody writes it meanwhile. False with the UTF-8 error "open failed: <code>", "not a regular file" (the opened
// object is a link or a folder), "size unreadable: <code>", ScriptSizeProblem's text, or "read failed: <code>";
// `bytes` is then unspecified.
bool ReadBoundedFile(const WideString& path, std::vector<unsigned char>* bytes, std::string* error);

// Makes the file at LongPath(path) hold exactly `bytes`, carrying kAdminFileSddl: a fresh file path + ".new-<pid>" is
// created beside it with that descriptor (whatever stood at that name is deleted first, never followed), written,
// flushed to disk and renamed over the target (replacing, written through). A reader of the target sees the old file
// or the complete new one. False with the Win32 last error saying why; the temporary file is then removed.
bool WriteFileAtomically(const WideString& path, const std::vector<unsigned char>& bytes);
#endif

}  // namespace kestrova::recovery
