// Opening the archive a command reads: the file named by --from-file, or the Data stream of one row of the Binary
// table of a Windows Installer package (--db, --row), read in place without a temporary copy. Windows only.
// Option parsing stays with the command line: callers hand over the values and which options were present.
#pragma once

#include <memory>
#include <string>

#include "core/text.h"
#include "payload/byte_stream.h"

namespace kestrova::payload {

// The archive options of one command line. A present option may have an empty value.
struct ArchiveLocation {
  bool hasFromFile = false;
  WideString fromFile;
  bool hasDb = false;
  WideString db;
  bool hasRow = false;
  WideString row;
  bool hasDigest = false;  // --archive-sha256
  std::string digest;
};

// The archive's source: OpenFileSource(fromFile) when --from-file is present, whatever else is given (the package
// is then not touched); else OpenMsiRowSource(db, row) when both are present; else null with
// "give --db and --row, or --from-file". On failure *error holds the opener's text and nothing stays open.
// With a digest, the file the archive lies in (the package, or the --from-file file) is held open without sharing
// write or delete for the source's whole life, the archive is hashed once through and checked by
// CheckPinnedArchive, and the source handed back starts over at its first byte. Further failures:
//   "--archive-sha256 '<text>' is not a SHA-256 digest (64 hexadecimal digits)",
//   "<file> is open for writing by another process; not reading an archive that could change",
//   "could not open <file>: <code>", and those of CheckPinnedArchive.
std::unique_ptr<ByteSource> OpenArchiveSource(const ArchiveLocation& location, std::string* error);

// Opens `package` read-only (the path passed to the installer service unchanged, not in long-path form) and the
// Data stream of the Binary row named `row`; Read then delivers the stream from its start, up to 1 GiB per call.
// Failures, with the texts in UTF-8 and r the installer's result in decimal:
//   "MsiOpenDatabase(<package>) failed: <r>"           (1627 for a file that is not a package),
//   "MsiDatabaseOpenView failed: <r>",
//   "Binary row '<row>' not found in <package>: <r>"   (259 when the table has no such row).
std::unique_ptr<ByteSource> OpenMsiRowSource(const WideString& package, const WideString& row, std::string* error);

}  // namespace kestrova::payload
