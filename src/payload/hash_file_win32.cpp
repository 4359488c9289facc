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

bool FileHasher::Hash(const WideString& path, uint64_t* length, Sha256Digest* sha256) {
  if (!buffer_) return false;
  FileHandle file(CreateFileW(securefs::LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return false;
  Sha256 accumulator;
  *length = 0;
  // A disk file's read comes back short only at its end, so a small file costs one read, not a second one for the
  // end-of-file answer.
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer_.get(), kHashBufferLength, &got, nullptr)) return false;
    accumulator.Add(buffer_.get(), got);
    *length += got;
    if (got < kHashBufferLength) break;
  }
  return accumulator.Finish(sha256);
}

bool HashFile(const WideString& path, uint64_t* length, Sha256Digest* sha256) {
  FileHasher hasher;
  return hasher.Hash(path, length, sha256);
}

}  // namespace kestrova::payload
