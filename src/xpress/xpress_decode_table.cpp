#include "xpress/xpress_decode_table.h"

#include "xpress/xpress_format.h"

namespace kestrova::xpress {
namespace {

uint32_t LeafEntry(uint32_t symbol, uint32_t length) {
  if (symbol < 256) return (symbol << 16) | (1u << 9) | (length << 5) | length;
  uint32_t field = (symbol - 256) & 15;
  uint32_t slot = (symbol - 256) >> 4;
  // The decoder's common path copies one 16-byte piece: the two longest length fields go the other way.
  if (field == 15) return DecodeTable::kSpecial | DecodeTable::kMatch | (slot << 5) | length;
  if (field == 14) return DecodeTable::kSpecial | DecodeTable::kMatch | (17u << 9) | (slot << 5) | length;
  return DecodeTable::kMatch | ((field + kMinMatch) << 9) | (slot << 5) | (length + slot);
}

}  // namespace

// Canonical codes are handed out in order of (length, symbol), so in that order the codes of up to kRootBits
// bits fill the first level from its start without gaps, each over 2^(kRootBits - length) entries, and the
// longer codes follow under the remaining first-level slots. Building in that order touches each entry once.
bool DecodeTable::Build(const uint8_t* table) {
  uint8_t lengths[kSymbolCount];
  uint32_t per_length[16] = {};
  for (size_t i = 0; i < kTableBytes; ++i) {
    lengths[2 * i] = table[i] & 15;
    lengths[2 * i + 1] = table[i] >> 4;
    ++per_length[table[i] & 15];
    ++per_length[table[i] >> 4];
  }
  // A complete code fills the 2^15 code space exactly; anything else leaves holes or overlaps, and an all-zero
  // table has no codes at all.
  uint32_t space = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) space += per_length[length] << (kMaxCodeLength - length);
  if (space != (1u << kMaxCodeLength)) return false;

  uint32_t first_of_length[17];
  first_of_length[1] = 0;
  for (int length = 1; length <= kMaxCodeLength; ++length) {
    first_of_length[length + 1] = first_of_length[length] + per_length[length];
  }
  uint16_t sorted[kSymbolCount];
  uint32_t cursor[16];
  for (int length = 1; length <= kMaxCodeLength; ++length) cursor[length] = first_of_length[length];
  for (int s = 0; s < kSymbolCount; ++s) {
    if (lengths[s] != 0) sorted[cursor[lengths[s]]++] = static_cast<uint16_t>(s);
  }
  const uint32_t used = first_of_length[kMaxCodeLength + 1];

  // Short codes: consecutive runs of the first level.
  uint32_t at = 0;
  uint32_t i = 0;
  for (; i < used && lengths[sorted[i]] <= kRootBits; ++i) {
    uint32_t length = lengths[sorted[i]];
    uint32_t leaf = LeafEntry(sorted[i], length);
    uint32_t* run = entries_ + at;
    uint32_t count = 1u << (kRootBits - length);
    for (uint32_t k = 0; k < count; ++k) run[k] = leaf;
    at += count;
  }
  PairLiterals(sorted, lengths, i);

  // Long codes, in the remaining first-level slots: each slot's second level is as wide as its longest code,
  // which in canonical order is the last code under that slot.
  uint32_t next_free = 1u << kRootBits;
  uint32_t code = at << (kMaxCodeLength - kRootBits);  // the next code, as if every code were 15 bits long
  while (i < used) {
    uint32_t prefix = code >> (kMaxCodeLength - kRootBits);
    uint32_t end = i;
    uint32_t span = 0;
    uint32_t longest = 0;
    while (end < used && span < (1u << (kMaxCodeLength - kRootBits))) {
      longest = lengths[sorted[end]];
      span += 1u << (kMaxCodeLength - longest);
      ++end;
    }
    uint32_t sub_bits = longest - kRootBits;
    entries_[prefix] = (next_free << 16) | kSpecial | (sub_bits << 5);
    uint32_t* sub = entries_ + next_free;
    for (; i < end; ++i) {
      uint32_t length = lengths[sorted[i]];
      uint32_t leaf = LeafEntry(sorted[i], length);
      uint32_t count = 1u << (longest - length);
      for (uint32_t k = 0; k < count; ++k) sub[k] = leaf;
      sub += count;
    }
    next_free += 1u << sub_bits;
    code += 1u << (kMaxCodeLength - kRootBits);
  }
  return true;
}

// Literal runs dominate the decoder's time on machine code; two literals per lookup halve the dependent table
// loads there. Within the first-level run of a literal of length la, the next kRootBits - la bits are the
// start of the following code, so a second literal of length lb <= kRootBits - la owns a run of
// 2^(kRootBits - la - lb) entries in it, at its own run's start shifted down by la bits.
void DecodeTable::PairLiterals(const uint16_t* sorted, const uint8_t* lengths, uint32_t short_codes) {
  uint16_t literal_start[256];
  uint16_t literal_symbol[256];
  uint8_t literal_length[256];
  uint32_t literals = 0;
  uint32_t at = 0;
  for (uint32_t i = 0; i < short_codes; ++i) {
    uint32_t length = lengths[sorted[i]];
    if (sorted[i] < 256 && length < kRootBits) {
      literal_start[literals] = static_cast<uint16_t>(at);
      literal_symbol[literals] = sorted[i];
      literal_length[literals] = static_cast<uint8_t>(length);
      ++literals;
    }
    at += 1u << (kRootBits - length);
  }
  for (uint32_t a = 0; a < literals; ++a) {
    uint32_t la = literal_length[a];
    uint32_t base = literal_start[a];
    uint32_t pair_high = (static_cast<uint32_t>(literal_symbol[a]) << 16) | (2u << 9) | (la << 5);
    for (uint32_t b = 0; b < literals && la + literal_length[b] <= kRootBits; ++b) {
      uint32_t lb = literal_length[b];
      uint32_t entry = pair_high | (static_cast<uint32_t>(literal_symbol[b]) << 24) | (la + lb);
      uint32_t* run = entries_ + base + (literal_start[b] >> la);
      uint32_t count = 1u << (kRootBits - la - lb);
      for (uint32_t k = 0; k < count; ++k) run[k] = entry;
    }
  }
}

}  // namespace kestrova::xpress
