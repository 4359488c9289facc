// The handlers of the pack, extract and verify commands, as the dispatcher and the stage command call them: each
// logs its own outcome (LogInfo, LogWarn, LogError) and returns the exit code, 0 on success and 1 on failure.
// Option parsing, opening the archive source and the install-folder guard stay with the callers. Windows only.
#pragma once

#include <string>
#include <vector>

#include "core/text.h"
#include "payload/byte_stream.h"

namespace kestrova::payload {

// Packs every regular file below `src` (links neither followed nor packed), minus the exclusions (relative paths
// with "/", exact bytes; a folder excludes what lies below it), sorted by path, into a new archive at `out`. Any
// failure after `out` was created deletes it, so no partial archive is ever left.
// With a `base` archive, a delta update against it (delta_pack.h), with a second INFO line "delta against <base>: <r>
// files taken from it, <p> patched, <w> whole".
int RunPack(const WideString& src, const WideString& out, const std::vector<std::string>& excludes,
            const WideString& base = {});

// Empties `out` (refusing a drive root or a system folder, or a folder above one), recreates it with
// kExtractedTreeDescriptor, writes and proves every entry of the archive read from `source`, then writes
// manifest.json. A failure leaves what was written so far, and no new manifest.json. An archive whose header cannot
// be read leaves `out` untouched.
// With a `base` folder (stage's APPDIR) a delta update is applied against it: before `out` is touched, every base
// file must lie there with its content, else ERROR "stage: <base> does not hold the base of this update: <reason>;
// a full package is needed" (MissingBase's reason) and 1. The result is the tree, manifest.json included, that the
// full archive of the same version extracts. Without one, a delta is refused ("extract: a delta update, ...").
int RunExtract(ByteSource& source, const WideString& out, const WideString& base = {});

// Compares the files under `dir` with the archive read from `source`. With `repair`, every missing or different file
// is rewritten through a ".kvtmp" file moved over it (the folder is created when it is missing), and manifest.json is
// rewritten; returns 0 only when no file was damaged, or every damaged one was repaired.
int RunVerify(ByteSource& source, const WideString& dir, bool repair);

}  // namespace kestrova::payload
