// In-memory ByteSource and ByteSink for the archive tests, the fuzz target and the benchmark, with the faults
// the tests inject (a failing read or write after so many bytes). Not part of the product: the real file and
// installer-record streams live elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "payload/byte_stream.h"

namespace kestrova::payload {

// Reads from a borrowed byte range. A Read asking for bytes at or beyond offset `failAt` fails instead.
class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t length) : data_(data), length_(length) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes) : MemorySource(bytes.data(), bytes.size()) {}

  void FailReadsBeyond(size_t offset) { failAt_ = offset; }
  size_t position() const { return position_; }

  // Starts over on another range, with no failure set.
  void Reset(const uint8_t* data, size_t length) {
    data_ = data;
    length_ = length;
    position_ = 0;
    failAt_ = std::numeric_limits<size_t>::max();
  }

  bool Read(void* buffer, size_t length, size_t* bytesGot) override {
    *bytesGot = 0;
    if (position_ + length > failAt_) return false;
    const size_t available = length_ - position_;
    const size_t n = length < available ? length : available;
    if (n > 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    *bytesGot = n;
    return true;
  }

  bool Rewind() override {
    position_ = 0;
    return rewindable_;
  }
  void RefuseRewind() { rewindable_ = false; }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;
  size_t failAt_ = std::numeric_limits<size_t>::max();
  bool rewindable_ = true;
};

// Collects everything written. A Write that would take the total past `failAt` bytes fails and keeps nothing.
class MemorySink final : public ByteSink {
 public:
  void FailWritesBeyond(size_t offset) { failAt_ = offset; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t writes() const { return writes_; }

  bool Write(const void* data, size_t length) override {
    if (bytes_.size() + length > failAt_) return false;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + length);
    ++writes_;
    return true;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t failAt_ = std::numeric_limits<size_t>::max();
  size_t writes_ = 0;
};

}  // namespace kestrova::payload
