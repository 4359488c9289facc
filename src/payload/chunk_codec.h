// The seam between the archive code and whoever compresses a chunk: the Windows Compression API where it
// exists, our XpressHuff codec elsewhere. Both produce and accept the same buffer-mode XPRESS_HUFF container.
// Chunk framing, codec numbers and the stored fallback stay with the Writer and Reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrova::payload {

class ChunkCompressor {
 public:
  virtual ~ChunkCompressor() = default;

  // Compresses in[0, length) into out[0, capacity). True with *produced set on success; false when the data
  // does not fit or the compressor fails (the caller then stores the chunk).
  virtual bool Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) = 0;
};

class ChunkDecompressor {
 public:
  virtual ~ChunkDecompressor() = default;

  // Decodes one container from in[0, length) into out[0, capacity). True with *produced set on success;
  // false for malformed data or a result larger than capacity. Never touches memory outside the ranges.
  virtual bool Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) = 0;
};

// The product's choice: the Windows Compression API on Windows, our codec under Wine and in the native
// build. Null when the chosen one cannot be created (the Writer/Reader then report the missing codec).
std::unique_ptr<ChunkCompressor> CreateChunkCompressor();
std::unique_ptr<ChunkDecompressor> CreateChunkDecompressor();

// Codec threads for a pack, and for an extract, stage or verify: one per processor, at most four (each keeps
// 8 to 12 MiB of buffers); 1 when unknown.
unsigned CodecWorkers();

// Our codec, whatever the platform (the factories' fallback; tests use it to build chunks by hand).
std::unique_ptr<ChunkCompressor> CreatePortableChunkCompressor();
std::unique_ptr<ChunkDecompressor> CreatePortableChunkDecompressor();

}  // namespace kestrova::payload
