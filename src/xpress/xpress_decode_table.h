// The decoder's lookup table for one block's Huffman code: a 2^11-entry first level indexed by the next bits of
// the stream, with second-level tables for the longer codes. Building it is also where a block's 256-byte length
// table is validated (complete code, nothing over 15 bits by construction of 4-bit fields).
#pragma once

#include <cstdint>

namespace kestrova::xpress {

// One entry holds all the decoder's inner loop needs, so that literals and short matches take the same
// branch-free path:
//   bits 0..4    stream bits to take: the code plus, for a short match, its offset bits
//   bits 5..8    a match's offset slot; for literals the first code's own length; for a link the second
//                level's index width
//   bits 9..13   output bytes: 1 or 2 literals, 3..16 for a short match (length field below 14)
//   bit 14       a match (otherwise literals or a link)
//   bit 15       special: a link (no match bit) or a slow match, whose bits 0..4 count the code only: length
//                17 (bits 9..13) or a length field of 15 (bits 9..13 zero; extra length bytes follow)
//   bits 16..31  the literals, first in 16..23; for a link, where its second level starts
class DecodeTable {
 public:
  static constexpr int kRootBits = 11;
  static constexpr uint32_t kMatch = 1u << 14;
  static constexpr uint32_t kSpecial = 1u << 15;

  static uint32_t Bits(uint32_t entry) { return entry & 31; }
  static uint32_t Aux(uint32_t entry) { return (entry >> 5) & 15; }
  static uint32_t Output(uint32_t entry) { return (entry >> 9) & 31; }
  static bool IsSlowMatch(uint32_t entry) { return (entry & (kSpecial | kMatch)) == (kSpecial | kMatch); }

  // Reads the 512 4-bit lengths from table[0, 256). False when they do not form a complete prefix code.
  bool Build(const uint8_t* table);

  // First-level entry for the next bits of a left-aligned 64-bit buffer; may be a link.
  uint32_t Root(uint64_t bits) const { return entries_[bits >> (64 - kRootBits)]; }
  // The entry a link leads to for the same bits.
  uint32_t Follow(uint32_t link, uint64_t bits) const {
    return entries_[(link >> 16) + ((bits << kRootBits) >> (64 - Aux(link)))];
  }
  uint32_t Lookup(uint64_t bits) const {
    uint32_t entry = Root(bits);
    return (entry & (kSpecial | kMatch)) == kSpecial ? Follow(entry, bits) : entry;
  }

 private:
  void PairLiterals(const uint16_t* sorted, const uint8_t* lengths, uint32_t short_codes);

  // First level plus the worst case of every first-level slot owning a full 2^(15-11) second level.
  uint32_t entries_[(1u << kRootBits) + (1u << 15)];
};

}  // namespace kestrova::xpress
