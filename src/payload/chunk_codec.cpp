#include "payload/chunk_codec.h"

#include <thread>

#include "xpress/xpress_huff.h"

namespace kestrova::payload {
namespace {

class PortableChunkCompressor final : public ChunkCompressor {
 public:
  bool Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    const size_t n = encoder_.Compress(in, length, out, capacity);
    if (n == 0) return false;
    *produced = n;
    return true;
  }

 private:
  xpress::XpressHuffEncoder encoder_;
};

class PortableChunkDecompressor final : public ChunkDecompressor {
 public:
  bool Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    return decoder_.Decompress(in, length, out, capacity, produced);
  }

 private:
  xpress::XpressHuffDecoder decoder_;
};

}  // namespace

std::unique_ptr<ChunkCompressor> CreatePortableChunkCompressor() {
  return std::make_unique<PortableChunkCompressor>();
}

std::unique_ptr<ChunkDecompressor> CreatePortableChunkDecompressor() {
  return std::make_unique<PortableChunkDecompressor>();
}

unsigned CodecWorkers() {
  const unsigned processors = std::thread::hardware_concurrency();
  if (processors == 0) return 1;
  return processors < 4 ? processors : 4;
}

// The Windows build defines the factories in chunk_codec_win32.cpp, where the Compression API may be used.
#if !defined(_WIN32)
std::unique_ptr<ChunkCompressor> CreateChunkCompressor() { return CreatePortableChunkCompressor(); }
std::unique_ptr<ChunkDecompressor> CreateChunkDecompressor() { return CreatePortableChunkDecompressor(); }
#endif

}  // namespace kestrova::payload
