// The two commands that prepare a new version beside APPDIR for a swap: `stage` extracts the payload into
// APPDIR.staging.partial (or, for a reinstall that finds APPDIR healthy, stages nothing and drops a stale .staging),
// and `commit-staging` marks that folder complete with its version and, under the swap lock, makes it APPDIR.staging.
// Option parsing and the install-folder guard stay with the command line, which hands them in.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/text.h"

#ifdef _WIN32
#include "appdirswap/win32_file_system.h"
#include "payload/archive_source.h"
#endif

namespace kestrova::appdirswap {

// A version as commit-staging accepts it: 3 or 4 groups of one or more ASCII digits joined by single dots, nothing
// else (no sign, letter, space, empty group, leading or trailing dot). Group lengths are not limited here.
bool IsCommitVersion(std::string_view text);

#ifdef _WIN32
// What `stage` reads from its command line: where the payload archive is, and the --reinstall value (empty when
// absent).
struct StageRequest {
  payload::ArchiveLocation archive;
  std::string reinstall;
};

// The install-folder guard of the command line: true when `command` may write next to `folder`; on false it has
// logged why.
using InstallFolderGuardFn = std::function<bool(const char* command, const WideString& folder)>;

// The stage command, for an APPDIR already cleaned up by the command line. Exit 1 when the guard refuses (a missing
// guard refuses too), when the payload cannot be opened, or when a stale .staging cannot be deleted; 0 when a
// reinstall found APPDIR healthy; otherwise the exit code of the extraction into PartialStagingPath(appdir).
int Stage(const StageRequest& request, const WideString& appdir, const InstallFolderGuardFn& guard);

// The commit-staging command (its guard has run): the version is checked, written as the marker into
// APPDIR.staging.partial, and under the swap lock an old APPDIR.staging is removed and the partial folder renamed to
// it. Always 0; each message says what was left uncommitted, and every step can simply be repeated.
int CommitStaging(const WideString& appdir, const std::string& version);

// CommitStaging with the file systems handed in: `real` holds the partial folder for its move, `fs` (`real` itself,
// or a test's decorator of it) answers the admin-only question and runs the locked steps.
int CommitStagingWith(const WideString& appdir, const std::string& version, Win32FileSystem& real, IFileSystem& fs);
#endif

}  // namespace kestrova::appdirswap
