// libFuzzer entry for the XPRESS Huffman decoder: the raw stream with an expected size taken from the input's
// first bytes, and the whole container with a 4 MiB capacity. The raw stream's output buffer is allocated at
// exactly the expected size, so that a write or read a byte outside it is the sanitizer's finding.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "xpress/xpress_huff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kestrova::xpress::XpressHuffDecoder decoder;
  static std::vector<uint8_t> out(4u << 20);
  if (size >= 3) {
    // 18 bits of expected size: up to 256 KiB, enough for several blocks.
    size_t expected = (data[0] | (data[1] << 8) | ((data[2] & 3) << 16)) + 1;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[expected]);
    decoder.DecompressRaw(data + 3, size - 3, exact.get(), expected);
  }
  size_t produced = 0;
  decoder.Decompress(data, size, out.data(), out.size(), &produced);
  return 0;
}
