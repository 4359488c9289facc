#include <windows.h>

#include <compressapi.h>

#include "core/unique_handle_win32.h"
#include "payload/chunk_codec.h"
#include "payload/wine_detect_win32.h"

namespace kestrova::payload {
namespace {

class WindowsChunkCompressor final : public ChunkCompressor {
 public:
  explicit WindowsChunkCompressor(CompressorHandle handle) : handle_(std::move(handle)) {}

  bool Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    SIZE_T written = 0;
    // The API takes non-const pointers but does not write to the input.
    if (!::Compress(handle_.get(), const_cast<uint8_t*>(in), length, out, capacity, &written)) return false;
    *produced = written;
    return true;
  }

 private:
  CompressorHandle handle_;
};

class WindowsChunkDecompressor final : public ChunkDecompressor {
 public:
  explicit WindowsChunkDecompressor(DecompressorHandle handle) : handle_(std::move(handle)) {}

  bool Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    SIZE_T written = 0;
    if (!::Decompress(handle_.get(), const_cast<uint8_t*>(in), length, out, capacity, &written)) return false;
    *produced = written;
    return true;
  }

 private:
  DecompressorHandle handle_;
};

}  // namespace

// Wine's cabinet.dll exports CreateCompressor as an unimplemented stub, and calling such a stub makes Wine
// abort the whole process ("unimplemented function Cabinet.dll.CreateCompressor") instead of returning an
// error. So under Wine the API is never touched, not even to find out whether it works; our codec writes and
// reads the same container instead.
std::unique_ptr<ChunkCompressor> CreateChunkCompressor() {
  if (IsRunningUnderWine()) return CreatePortableChunkCompressor();
  CompressorHandle handle;
  // Buffer mode (no COMPRESS_RAW) and default settings: the chunk payload is exactly what this call produces.
  if (!CreateCompressor(COMPRESS_ALGORITHM_XPRESS_HUFF, nullptr, handle.put())) return nullptr;
  return std::make_unique<WindowsChunkCompressor>(std::move(handle));
}

std::unique_ptr<ChunkDecompressor> CreateChunkDecompressor() {
  if (IsRunningUnderWine()) return CreatePortableChunkDecompressor();
  DecompressorHandle handle;
  if (!CreateDecompressor(COMPRESS_ALGORITHM_XPRESS_HUFF, nullptr, handle.put())) return nullptr;
  return std::make_unique<WindowsChunkDecompressor>(std::move(handle));
}

}  // namespace kestrova::payload
