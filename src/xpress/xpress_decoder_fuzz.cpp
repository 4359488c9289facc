// libFuzzer entry for the XPRESS Huffman decoder: the raw stream with an expected size taken from the input's
// first bytes, and the whole container with a 4 MiB capacity.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "xpress/xpress_huff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kestrova::xpress::XpressHuffDecoder decoder;
  static std::vector<uint8_t> out(4u << 20);
  if (size >= 3) {
    // 18 bits of expected size: up to 256 KiB, enough for several blocks.
    size_t expected = (data[0] | (data[1] << 8) | ((data[2] & 3) << 16)) + 1;
    decoder.DecompressRaw(data + 3, size - 3, out.data(), expected);
  }
  size_t produced = 0;
  decoder.Decompress(data, size, out.data(), out.size(), &produced);
  return 0;
}
