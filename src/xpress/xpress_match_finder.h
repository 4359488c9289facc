// Match finding for the XPRESS encoder: for each hash of a 4-byte prefix, a row holding the 32 latest positions
// in a ring, plus a direct-mapped table of the latest position of each 3-byte prefix so length-3 matches are found
// too. Owns its tables (allocated once); knows nothing of costs or parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "xpress/xpress_format.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestrova::xpress {

// Number of equal leading bytes of a and b, at most limit; both must have 8 readable bytes past every compared
// one or lie at least 8 bytes before the end of their buffer.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
  uint32_t n = 0;
  while (n + 8 <= limit) {
    uint64_t x = Load64(a + n) ^ Load64(b + n);
    if (x != 0) return n + (static_cast<uint32_t>(__builtin_ctzll(x)) >> 3);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

class MatchFinder {
 public:
  MatchFinder();

  // Starts a new stream over in[0, length): nothing before it may be referenced.
  void Begin(const uint8_t* in, size_t length);

  // Positions below this have 4 readable bytes; only they may be searched or inserted.
  size_t hashable_end() const { return hashable_end_; }

  // Longest match at pos (< hashable_end) of more than `floor` and at most `limit` bytes, looking at no more than
  // `depth` row entries and stopping at one of `nice` bytes or more; returns its length (0 if none) and sets
  // *offset. Inserts pos. A floor of 2 or less also considers the latest position with the same 3-byte prefix.
  uint32_t FindAndInsert(size_t pos, uint32_t limit, uint32_t floor, uint32_t depth, uint32_t nice, uint32_t* offset);

  // Inserts pos (< hashable_end) without searching.
  void Insert(size_t pos) {
    uint32_t me = base_ + static_cast<uint32_t>(pos);
    uint32_t h = Hash(pos);
    uint32_t r = h >> kTagBits;
    uint32_t slot = (newest_[r] - 1u) & (kRowSize - 1);
    newest_[r] = static_cast<uint8_t>(slot);
    rows_[r * kRowSize + slot] = me;
    tags_[r * kRowSize + slot] = static_cast<uint8_t>(h);
    head3_[Hash3(pos)] = me;
  }

 private:
  static constexpr int kRowBits = 11;
  static constexpr int kTagBits = 8;
  static constexpr int kHash3Bits = 12;
  static constexpr uint32_t kRowSize = 32;
  static constexpr uint32_t kWindow = 65536;

  // Row index in the high bits, the entry's tag in the low kTagBits.
  uint32_t Hash(size_t pos) const { return (Load32(in_ + pos) * 2654435761u) >> (32 - kRowBits - kTagBits); }
  // Bit k set when the tag k entries older than the newest of row r equals tag.
  uint32_t TagMask(uint32_t r, uint8_t tag, uint32_t newest) const {
    const uint8_t* t = &tags_[r * kRowSize];
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(tag));
    uint32_t m = 0;
    for (uint32_t i = 0; i < kRowSize; i += 16) {
      m |= static_cast<uint32_t>(
               _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i)), want)))
           << i;
    }
#else
    uint32_t m = 0;
    for (uint32_t i = 0; i < kRowSize; ++i) m |= static_cast<uint32_t>(t[i] == tag) << i;
#endif
    static_assert(kRowSize == 32, "the mask rotates as one 32-bit word");
    return (m >> newest) | (m << ((kRowSize - newest) & (kRowSize - 1)));
  }
  uint32_t Hash3(size_t pos) const { return ((Load32(in_ + pos) << 8) * 2246822519u) >> (32 - kHash3Bits); }

  const uint8_t* in_ = nullptr;
  size_t length_ = 0;
  size_t hashable_end_ = 0;
  // Positions are stored as base_ + pos so entries left over from earlier streams are always out of the window.
  uint32_t base_ = 0;
  // A row's entries are in insertion order around the ring, so walking on from the newest one meets ever farther
  // positions and can stop at the first out of the window: two cache lines per search, no chain of dependent loads,
  // and the tags skip most entries of other prefixes that share the row without touching the data.
  std::unique_ptr<uint32_t[]> rows_;
  std::unique_ptr<uint8_t[]> tags_;
  std::unique_ptr<uint8_t[]> newest_;
  std::unique_ptr<uint32_t[]> head3_;
};

inline uint32_t MatchFinder::FindAndInsert(size_t pos, uint32_t limit, uint32_t floor, uint32_t depth, uint32_t nice,
                                           uint32_t* offset) {
  const uint8_t* cur = in_ + pos;
  const uint32_t me = base_ + static_cast<uint32_t>(pos);
  const uint32_t first = Load32(cur);
  const uint32_t h = Hash(pos);
  const uint32_t r = h >> kTagBits;
  const uint32_t h3 = Hash3(pos);
  uint32_t* row = &rows_[r * kRowSize];
  const uint32_t newest = newest_[r];
  const uint32_t candidate3 = head3_[h3];
  uint32_t mask = TagMask(r, static_cast<uint8_t>(h), newest);
  const uint32_t slot = (newest - 1) & (kRowSize - 1);
  head3_[h3] = me;
  uint32_t best = floor;
  if (limit > floor) {
    while (mask != 0 && depth-- != 0) {
      uint32_t k = static_cast<uint32_t>(__builtin_ctz(mask));
      mask &= mask - 1;
      uint32_t distance = me - row[(newest + k) & (kRowSize - 1)];
      if (distance > kMaxOffset) break;
      const uint8_t* p = cur - distance;
      if (p[best] == cur[best] && Load32(p) == first) {
        uint32_t length = CommonLength(p, cur, limit);
        if (length > best) {
          best = length;
          *offset = distance;
          if (length >= nice || length == limit) break;
        }
      }
    }
  }
  newest_[r] = static_cast<uint8_t>(slot);
  row[slot] = me;
  tags_[r * kRowSize + slot] = static_cast<uint8_t>(h);
  if (limit <= floor) return 0;
  if (best < kMinMatch && limit >= kMinMatch) {
    // Any longer match here would have been in the row, unless the depth ran out first.
    uint32_t distance = me - candidate3;
    if (distance <= kMaxOffset && ((Load32(cur - distance) ^ first) & 0xFFFFFF) == 0) {
      best = CommonLength(cur - distance, cur, limit);
      *offset = distance;
    }
  }
  return best > floor ? best : 0;
}

}  // namespace kestrova::xpress
