#include "payload/hash_file.h"

#include <windows.h>

#include "core/unique_handle_win32.h"
#include "payload/sha256.h"
#include "securefs/paths.h"

namespace kestrova::payload {

namespace {

constexpr DWORD kHashBufferLength = 1048576;

}  // namespace

FileHasher::FileHasher() : buffer_(AllocateZeroed(kHashBufferLength)) {}

bool FileHasher::Hash(const WideString& path, uint64_t* length, Sha256Digest* sha256, uint64_t expected) {
  if (!buffer_) return false;
  FileHandle file(CreateFileW(securefs::LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  Sha256 accumulator;
  *length = 0;
  // A disk file's read comes back short only at its end, so a small file costs one read, not a second one for the
  // end-of-file answer. Under Wine every page of a read's buffer is touched before the read, whatever the file's
  // length: a read sized to the file spares a small one touching the whole megabyte.
  DWORD ask = expected < kHashBufferLength ? static_cast<DWORD>(expected) + 1 : kHashBufferLength;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer_.get(), ask, &got, nullptr)) return false;
    accumulator.Add(buffer_.get(), got);
    *length += got;
    if (got < ask) break;
    ask = kHashBufferLength;
  }
  return accumulator.Finish(sha256);
}

bool HashFile(const WideString& path, uint64_t* length, Sha256Digest* sha256) {
  FileHasher hasher;
  return hasher.Hash(path, length, sha256);
}

}  // namespace kestrova::payload
