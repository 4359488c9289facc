// The file-backed byte streams of the archive code: a ByteSource that reads a file front to back and a ByteSink
// that writes to a file handle its creator owns and closes. Windows only. Where an archive comes from (a file or
// an installer package row) is decided in archive_source.h; what the bytes mean is the archive code's business.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/text.h"
#include "payload/byte_stream.h"

namespace kestrova::payload {

// The most any stream moves in one ReadFile, WriteFile or MsiRecordReadStream call (1 GiB).
inline constexpr size_t kMaxBytesPerCall = 1073741824;

// A ByteSink that also tells how many bytes reached its file (pack reports it as the archive size).
class CountingSink : public ByteSink {
 public:
  // The total of every byte WriteFile accepted through this sink.
  virtual uint64_t bytesWritten() const = 0;
};

// Opens the long-path form of `path` for reading (sharing read only, open existing, sequential scan) as a source
// that owns and closes the handle. Read returns true with fewer bytes than asked only at the end of the file.
// On failure returns null and sets *error to "could not open <path>: <code>", the path as given, in UTF-8.
std::unique_ptr<ByteSource> OpenFileSource(const WideString& path, std::string* error);

// A sink writing to `file` at its current position, 1 GiB at most per WriteFile. It does not own the handle: the
// caller closes it after the sink is gone. A failed or short WriteFile fails the Write (never retried); a Write
// of 0 bytes succeeds without a system call.
std::unique_ptr<CountingSink> CreateFileSink(HANDLE file);

}  // namespace kestrova::payload
