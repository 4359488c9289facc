// Constants and little-endian helpers shared by the XPRESS Huffman encoder, decoder and container code.
// Owns nothing but the numbers of the byte format, so both directions agree on them by construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrova::xpress {

inline constexpr size_t kBlockOutput = 65536;      // output bytes a block covers before the next table
inline constexpr uint32_t kMaxOffset = 65535;      // farthest back reference the offset field can express
inline constexpr uint32_t kMinMatch = 3;
inline constexpr int kSymbolCount = 512;           // 256 literals + 16 lengths x 16 offset slots
inline constexpr int kMaxCodeLength = 15;
inline constexpr size_t kTableBytes = kSymbolCount / 2;  // two 4-bit code lengths per byte
inline constexpr int kEndSymbol = 256;

inline constexpr size_t kContainerHeader = 24;
inline constexpr uint8_t kContainerMagic[4] = {0x0A, 0x51, 0xE5, 0xC0};
inline constexpr uint8_t kAlgorithmXpressHuff = 4;
inline constexpr size_t kStoredInputLimit = 300;  // Windows stores inputs this short inside the container
inline constexpr uint64_t kMaxChunk = 64ull << 20;

inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // every target of this project is little-endian
}
inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Index of the highest set bit; v must not be 0. Also the offset slot of a match offset.
inline int HighBit(uint32_t v) { return 31 - __builtin_clz(v); }

}  // namespace kestrova::xpress
