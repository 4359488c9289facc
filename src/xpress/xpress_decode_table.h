// The decoder's lookup table for one block's Huffman code: a 2^11-entry first level indexed by the next bits of
// the stream, with second-level tables for the longer codes. Building it is also where a block's 256-byte length
// table is validated (complete code, nothing over 15 bits by construction of 4-bit fields).
#pragma once

#include <cstdint>

namespace kestrova::xpress {

class DecodeTable {
 public:
  static constexpr int kRootBits = 11;
  static constexpr uint32_t kLinkFlag = 0x10;
  static constexpr uint32_t kPairFlag = 0x20;

  // Reads the 512 4-bit lengths from table[0, 256). False when they do not form a complete prefix code.
  bool Build(const uint8_t* table);

  // Entry for the next bits of a left-aligned 64-bit buffer: symbol in bits 16..31, code length in bits 0..3.
  uint32_t Lookup(uint64_t bits) const { return Follow(entries_[bits >> (64 - kRootBits)], bits); }

  // Like Lookup, but when the next bits hold two literal codes within kRootBits, one entry with kPairFlag:
  // both lengths summed in bits 0..3, the first literal in bits 16..23, the second in bits 8..15.
  uint32_t LookupPair(uint64_t bits) const { return Follow(pairs_[bits >> (64 - kRootBits)], bits); }

 private:
  uint32_t Follow(uint32_t entry, uint64_t bits) const {
    if (entry & kLinkFlag) {
      uint32_t sub_bits = (entry >> 8) & 15;
      entry = entries_[(entry >> 16) + ((bits << kRootBits) >> (64 - sub_bits))];
    }
    return entry;
  }
  void BuildPairs();

  uint32_t pairs_[1u << kRootBits];
  // First level plus the worst case of every first-level slot owning a full 2^(15-11) second level.
  uint32_t entries_[(1u << kRootBits) + (1u << 15)];
};

}  // namespace kestrova::xpress
