// The folder family of APPDIR and what the engine reads from it: the sibling paths derived from APPDIR by syntax,
// the ".complete" marker and the version inside it, the state of each sibling and the snapshot of the whole family.
// Reads only, through IFileSystem; deciding what a snapshot allows is transaction.h's, changing it repair.h's and
// cleanup.h's.
#pragma once

#include <cstdint>
#include <string_view>

#include "appdirswap/file_system.h"

namespace kestrova::appdirswap {

inline constexpr wchar_t kMarkerName[] = L".complete";
// A marker is judged on this many bytes from its front.
inline constexpr size_t kMarkerReadLimit = 64;

// Plain drive paths, without "\\?\"; IFileSystem adds the long-path form itself.
struct LayoutPaths {
  WideString appdir;    // normalised APPDIR
  WideString parent;    // the folder holding APPDIR; "C:\" for a folder directly under a drive root
  WideString staging;   // appdir + ".staging"
  WideString partial;   // appdir + ".staging.partial"
  WideString lkg;       // appdir + ".lkg"
  WideString rejected;  // appdir + ".rejected"
  WideString lock;      // appdir + ".swap.lock"
};

// The numbers are fixed; FolderStateName gives the log names.
enum class FolderState : uint32_t {
  Absent = 0,
  Incomplete = 1,
  Complete = 2,
  ReparsePoint = 3,
  NotADirectory = 4,
  Unreadable = 5,
};

// "absent", "incomplete", "complete", "reparse_point", "not_a_directory", "unreadable"; "unknown" otherwise.
const char* FolderStateName(FolderState state);

struct LayoutSnapshot {
  bool valid = false;  // ParseAppdir accepted the path; when false every other field keeps its empty value
  LayoutPaths paths;
  PathKind parent_kind = PathKind::Absent;
  bool parent_is_reparse_point = false;
  FolderState appdir_state = FolderState::Absent;
  FolderState staging_state = FolderState::Absent;
  FolderState partial_state = FolderState::Absent;
  FolderState lkg_state = FolderState::Absent;
  FolderState rejected_state = FolderState::Absent;
  bool staging_admin_owned = false;  // complete and admin-only (owner and DACL)
  bool lkg_admin_owned = false;      // complete and admin-only (owner and DACL)
  WideString appdir_version;
  WideString staging_version;
  WideString lkg_version;
  // AdminOnlyVerdict of each entry that exists and is readable; empty when admin-only (and for an absent entry).
  std::string appdir_verdict;
  std::string staging_verdict;
  std::string partial_verdict;
  std::string lkg_verdict;
  std::string rejected_verdict;
};

// Accepts an absolute drive path below a drive root ("C:\x", "/" taken as "\", a "\\?\" prefix and trailing "\"
// dropped) whose components are neither empty, "." nor "..", do not end in "." or a space and hold no character
// below U+0020 nor any of :*?"<>|. Fills `paths` only when it returns true. A drive root alone, a UNC path and a
// relative path are refused.
bool ParseAppdir(WideView path, LayoutPaths& paths);

// The version in a marker's bytes: an optional UTF-8 byte order mark, then 3 or 4 groups of 1 to 9 ASCII digits
// joined by single dots, then any number of CR and LF bytes. `version` is cleared first and filled only on true.
bool ParseVersionMarker(std::string_view bytes, WideString& version);

// The state of `path`. When `want_version` is set and the folder is complete, `version` receives the marker's version
// (first 64 bytes), or stays empty when the marker cannot be read or parsed; the state stays complete either way.
FolderState ReadFolderState(IFileSystem& fs, const WideString& path, bool want_version, WideString& version);

// Reads the whole family, with the admin-only verdict of every entry that exists. Takes no lock: callers that act on
// the result take a snapshot under the swap lock.
LayoutSnapshot TakeSnapshot(WideView appdir, IFileSystem& fs);

// Complete and admin-only: a copy that may become APPDIR.
inline bool IsUsable(FolderState state, bool admin_owned) { return state == FolderState::Complete && admin_owned; }

// An entry that exists, can be read, and is not admin-only: a stranger may have made it or may change it, so it is
// never used and never counts as present.
inline bool IsForeign(FolderState state, const std::string& verdict) {
  return state != FolderState::Absent && state != FolderState::Unreadable && !verdict.empty();
}

// APPDIR exists as something other than a foreign entry.
inline bool IsAppdirPresent(const LayoutSnapshot& snapshot) {
  return snapshot.appdir_state != FolderState::Absent && !IsForeign(snapshot.appdir_state, snapshot.appdir_verdict);
}

// A reparse point or a plain file: removed as the entry itself, never looked into.
inline bool IsEntryOnly(FolderState state) {
  return state == FolderState::ReparsePoint || state == FolderState::NotADirectory;
}

}  // namespace kestrova::appdirswap
