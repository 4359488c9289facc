#include "xpress/xpress_decode_table.h"

#include "xpress/xpress_format.h"

namespace kestrova::xpress {

bool DecodeTable::Build(const uint8_t* table) {
  uint8_t lengths[kSymbolCount];
  for (size_t i = 0; i < kTableBytes; ++i) {
    lengths[2 * i] = table[i] & 15;
    lengths[2 * i + 1] = table[i] >> 4;
  }
  uint32_t per_length[16] = {};
  for (int s = 0; s < kSymbolCount; ++s) ++per_length[lengths[s]];
  // A complete code fills the 2^15 code space exactly; anything else leaves holes or overlaps, and an all-zero
  // table has no codes at all.
  uint32_t space = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) space += per_length[length] << (kMaxCodeLength - length);
  if (space != (1u << kMaxCodeLength)) return false;

  uint32_t next[16] = {};
  uint32_t code = 0;
  per_length[0] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    code = (code + per_length[length - 1]) << 1;
    next[length] = code;
  }
  uint16_t codes[kSymbolCount];
  for (int s = 0; s < kSymbolCount; ++s) codes[s] = lengths[s] != 0 ? static_cast<uint16_t>(next[lengths[s]]++) : 0;

  // Longest code under each first-level prefix decides that prefix's second-level size.
  uint8_t longest[1u << kRootBits] = {};
  for (int s = 0; s < kSymbolCount; ++s) {
    int length = lengths[s];
    if (length > kRootBits) {
      uint32_t prefix = codes[s] >> (length - kRootBits);
      if (longest[prefix] < length) longest[prefix] = static_cast<uint8_t>(length);
    }
  }
  uint32_t next_free = 1u << kRootBits;
  for (uint32_t prefix = 0; prefix < (1u << kRootBits); ++prefix) {
    if (longest[prefix] == 0) continue;
    uint32_t sub_bits = longest[prefix] - kRootBits;
    entries_[prefix] = (next_free << 16) | kSpecial | (sub_bits << 5);
    next_free += 1u << sub_bits;
  }
  for (int s = 0; s < kSymbolCount; ++s) {
    uint32_t length = lengths[s];
    if (length == 0) continue;
    uint32_t leaf;
    if (s < 256) {
      leaf = (static_cast<uint32_t>(s) << 16) | (1u << 9) | (length << 5) | length;
    } else {
      uint32_t field = (s - 256) & 15;
      uint32_t slot = (s - 256) >> 4;
      leaf = field == 15 ? kSpecial | kMatch | (slot << 5) | length
                         : kMatch | ((field + kMinMatch) << 9) | (slot << 5) | (length + slot);
    }
    if (length <= kRootBits) {
      uint32_t first = static_cast<uint32_t>(codes[s]) << (kRootBits - length);
      for (uint32_t i = 0; i < (1u << (kRootBits - length)); ++i) entries_[first + i] = leaf;
    } else {
      uint32_t prefix = codes[s] >> (length - kRootBits);
      uint32_t link = entries_[prefix];
      uint32_t sub_bits = Aux(link);
      uint32_t tail_bits = length - kRootBits;
      uint32_t tail = codes[s] & ((1u << tail_bits) - 1);
      uint32_t first = (link >> 16) + (tail << (sub_bits - tail_bits));
      for (uint32_t i = 0; i < (1u << (sub_bits - tail_bits)); ++i) entries_[first + i] = leaf;
    }
  }
  PairLiterals();
  return true;
}

// Literal runs dominate the decoder's time on machine code; two literals per lookup halve the dependent table
// loads there. A slot's second code may sit in a slot already paired, so the single entries come from a copy.
void DecodeTable::PairLiterals() {
  constexpr uint32_t kMask = (1u << kRootBits) - 1;
  constexpr uint32_t kKind = kSpecial | kMatch;
  uint32_t single[1u << kRootBits];
  for (uint32_t i = 0; i <= kMask; ++i) single[i] = entries_[i];
  for (uint32_t i = 0; i <= kMask; ++i) {
    uint32_t first = single[i];
    if (first & kKind) continue;
    uint32_t first_length = Bits(first);
    if (first_length >= kRootBits) continue;
    // The bits after the first code, padded with zeros: their entry is exact if its code fits in them.
    uint32_t second = single[(i << first_length) & kMask];
    uint32_t second_length = Bits(second);
    if ((second & kKind) || first_length + second_length > kRootBits) continue;
    entries_[i] = (first & 0x00FF0000u) | ((second & 0x00FF0000u) << 8) | (2u << 9) | (first_length << 5) |
                  (first_length + second_length);
  }
}

}  // namespace kestrova::xpress
