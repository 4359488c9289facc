// The pack command on a Linux build host: the exe's walk, exclusions, order, writer and codec over POSIX folders and
// files, so that a pipeline without Windows produces the archive the exe's pack produces under Wine. Host build only;
// the option parsing and the log line belong to the kestrova-pack program.
#pragma once

#if !defined(_WIN32)

#include <memory>
#include <string>
#include <vector>

#include "payload/pack_walk.h"

namespace kestrova::payload {

// Lists a folder with opendir/readdir, judging each entry by fstatat without following links. A symbolic link, and
// anything that is neither a folder nor a regular file (a FIFO, a socket, a device), is marked as a link: neither
// entered nor packed, as the exe passes over links. A name that is not well-formed UTF-8 can name no Windows file and
// fails the listing with EILSEQ. Errors are errno values.
std::unique_ptr<FolderLister> CreatePosixFolderLister();

// RunPack over POSIX paths (`src` and `out` as UTF-8 bytes, `src` already normalised): the same steps, the same
// archive bytes, the same log texts, reported through Report (level 0 for the closing INFO line, 2 for the error).
// Where the exe puts the system's words or code for a failure, this puts strerror's words or the errno value. Names
// that differ only in case are refused before the archive is created: "pack failed: '<a>' and '<b>' differ only in
// case". Returns 0 on success, 1 on any failure; a failure after `out` was created deletes it.
// With a `base` archive (a UTF-8 path, empty for none) the archive is a delta update against it (delta_pack.h), and
// a second INFO line tells "delta against <base>: <r> files taken from it, <p> patched, <w> whole".
int RunPackPosix(const std::string& src, const std::string& out, const std::vector<std::string>& excludes,
                 const std::string& base = {});

}  // namespace kestrova::payload

#endif
