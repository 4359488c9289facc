// Putting one archive entry on disk and proving it there: the per-entry step that extract runs for every entry and
// verify --repair for every damaged one, the check of a file against its entry, and the security descriptor of an
// extracted tree. Windows only. Clearing and creating the target folder and the manifest belong to the commands.
#pragma once

#include <functional>
#include <string>

#include "core/text.h"
#include "payload/archive_format.h"
#include "payload/archive_reader.h"
#include "payload/hash_file.h"
#include "payload/write_session.h"

namespace kestrova::payload {

// The folder extract creates (and verify --repair recreates): a protected DACL, inherited by everything below, giving
// SYSTEM, Administrators and Owner Rights full control and Users and both application-package groups read and execute.
inline constexpr const char* kExtractedTreeDescriptor =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;OW)(A;OICI;0x1200a9;;;BU)(A;OICI;0x1200a9;;;AC)"
    "(A;OICI;0x1200a9;;;S-1-15-2-2)";

// Writes the data of `entry`, which `reader` has just returned from NextRecord, to `target` (long-path form), then
// reads the file back and compares it with the entry. Creates the folders above `target` as needed and replaces an
// existing file. Failures, with <t> the display form of `target` and <code> the Win32 error:
//   "could not create the directory of <t>: <code>", "could not create <t>: <code>",
//   any ReadData text ("SHA-256 mismatch in '<path>'", "could not write '<path>'", ...): the partly written file stays,
//   "<t> does not match the archive after writing".
bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, std::string* error);
// The same, hashing the written file with the caller's buffer. With `flush`, the data is flushed to the disk
// (FlushFileBuffers) before the file is closed, for a file that is about to replace another under its name: a power
// cut after that rename must not leave a file of zeros in its place. A failed flush is
// "could not flush <t>: <code>".
bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, FileHasher& hasher, std::string* error,
                bool flush = false);

// WriteEntry for a command that writes a whole tree: a folder is made sure of once for the files that follow each
// other into it, and the file is proven by the session's thread after it returns: the session reports a file that
// fails its proof (Failed, Finish), not this call.
bool WriteEntry(Reader& reader, const Entry& entry, const WideString& target, WriteSession& session,
                std::string* error);

// Produces an entry's content into `onData` and proves it; false with *error when it cannot or the proof fails.
using ContentProducer = std::function<bool(const DataCallback& onData, std::string* error)>;
// WriteEntry with the content from `produce` instead of the Reader: a delta's file taken from or patched against an
// installed file.
bool WriteEntryFrom(const ContentProducer& produce, const Entry& entry, const WideString& target,
                    WriteSession& session, std::string* error);

// Whether `path` names an existing file that is neither a folder nor a reparse point and whose length and SHA-256
// equal the entry's.
bool FileMatchesEntry(const WideString& path, const Entry& entry);
bool FileMatchesEntry(const WideString& path, const Entry& entry, FileHasher& hasher);

// The name under which the file system knows an entry's file: the path upper-cased as Windows compares names, so two
// entries with equal keys would land in the same file.
WideString EntryFileKey(const std::string& entryPath);

}  // namespace kestrova::payload
