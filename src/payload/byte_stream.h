// The two byte-stream interfaces the archive code works on: a ByteSource the Reader pulls from and a ByteSink
// the Writer pushes to. Only the contracts live here; the concrete file and installer-record streams are
// elsewhere, and the archive code never owns the stream it is given.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Reads from `source` until `capacity` bytes or its end, the first read asking for one byte more than `expected` (the
// length the caller believes it has), so that content of that length takes one read that also sees the end. False
// when a read fails. Under Wine every page of a read's buffer is touched first, whatever the file's length: asking
// for the whole capacity would cost a small file as much as a large one.
inline bool ReadSized(ByteSource& source, uint8_t* buffer, size_t capacity, uint64_t expected, size_t* got) {
  const size_t first = expected < capacity ? static_cast<size_t>(expected) + 1 : capacity;
  if (!source.Read(buffer, first, got)) return false;
  if (*got < first || first == capacity) return true;
  size_t rest = 0;
  if (!source.Read(buffer + first, capacity - first, &rest)) return false;
  *got += rest;
  return true;
}

class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Writes all `length` bytes, or returns false.
  virtual bool Write(const void* data, size_t length) = 0;
};

}  // namespace kestrova::payload
