// A ByteSink that gathers small writes into one buffer before passing them on: an archive's record and chunk headers
// are a few bytes each, and a file sink makes a system call per write. It owns the buffer, not the sink it feeds.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/byte_stream.h"

namespace kestrova::payload {

class BufferedSink final : public ByteSink {
 public:
  BufferedSink(ByteSink& inner, size_t capacity) : inner_(inner) { buffer_.reserve(capacity); }

  // A write at least as long as the buffer goes straight through, after what is gathered.
  bool Write(const void* data, size_t length) override {
    if (buffer_.size() + length > buffer_.capacity() && !Flush()) return false;
    if (length >= buffer_.capacity()) return inner_.Write(data, length);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + length);
    return true;
  }

  // Passes on what is gathered; the owner calls it after the last Write.
  bool Flush() {
    if (buffer_.empty()) return true;
    const bool written = inner_.Write(buffer_.data(), buffer_.size());
    buffer_.clear();
    return written;
  }

 private:
  ByteSink& inner_;
  std::vector<uint8_t> buffer_;
};

}  // namespace kestrova::payload
