// The length and SHA-256 of a file on disk, read front to back through one 1 MiB buffer: pack hashes every file
// before writing its record, extract proves each written file, verify checks the installed ones. Windows only. It
// does not compare against anything; callers decide what a digest means.
#pragma once

#include <cstdint>

#include "core/text.h"
#include "payload/archive_format.h"

namespace kestrova::payload {

// Holds the 1 MiB read buffer so that a command hashing many files allocates it once.
class FileHasher {
 public:
  FileHasher();
  FileHasher(const FileHasher&) = delete;
  FileHasher& operator=(const FileHasher&) = delete;

  // Opens the long-path form of `path` for reading (sharing read only, open existing, sequential scan) and reads it
  // to its end. False when the buffer could not be allocated, the open or a read fails, or the hash provider is
  // unavailable; *length and *sha256 are then unspecified. The file is closed on every path. `expected`, the length
  // the caller believes the file has, only sizes the first read (one byte more, so that a file of that length takes
  // one read); the file is read to its end whatever its length.
  bool Hash(const WideString& path, uint64_t* length, Sha256Digest* sha256, uint64_t expected = UINT64_MAX);

 private:
  ZeroedBuffer buffer_;
};

// FileHasher().Hash for a single file.
bool HashFile(const WideString& path, uint64_t* length, Sha256Digest* sha256);

}  // namespace kestrova::payload
