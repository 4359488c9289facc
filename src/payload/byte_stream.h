// The two byte-stream interfaces the archive code works on: a ByteSource the Reader pulls from and a ByteSink
// the Writer pushes to. Only the contracts live here; the concrete file and installer-record streams are
// elsewhere, and the archive code never owns the stream it is given.
#pragma once

#include <cstddef>

namespace kestrova::payload {

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Delivers up to `length` bytes into `buffer` and stores in *bytesGot how many arrived. A source delivers
  // fewer than `length` bytes only at the end of its data (then possibly 0); that is not a failure. Returns
  // false only when the underlying read fails.
  virtual bool Read(void* buffer, size_t length, size_t* bytesGot) = 0;

  // Starts the source over from its first byte, with the same underlying file or record; false when it cannot.
  virtual bool Rewind() { return false; }
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Writes all `length` bytes, or returns false.
  virtual bool Write(const void* data, size_t length) = 0;
};

}  // namespace kestrova::payload
