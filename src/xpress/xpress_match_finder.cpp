#include "xpress/xpress_match_finder.h"

#include <cstring>

#include "xpress/xpress_format.h"

namespace kestrova::xpress {
namespace {

// Tuned on Windows DLLs against wimlib's ratio; see xpress_bench.
constexpr uint32_t kChainDepth = 16;
constexpr uint32_t kLazyDepth = 8;
constexpr uint32_t kNiceLength = 48;
// Positions inside a long match are rarely the best later source; indexing only its start saves much time.
constexpr uint32_t kIndexedMatchPrefix = 24;

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

}  // namespace

MatchFinder::MatchFinder()
    : head_(std::make_unique<uint32_t[]>(1u << kHashBits)), prev_(std::make_unique<uint32_t[]>(kWindow)) {
  std::memset(head_.get(), 0, sizeof(uint32_t) << kHashBits);
  std::memset(prev_.get(), 0, sizeof(uint32_t) * kWindow);
}

void MatchFinder::Begin(const uint8_t* in, size_t length) {
  // Moving the base a window past the previous stream's end invalidates every old entry without clearing.
  uint64_t next_base = static_cast<uint64_t>(base_) + length_ + kWindow;
  if (base_ == 0 || next_base + length + kWindow > 0xFFFFFFFFull) {
    std::memset(head_.get(), 0, sizeof(uint32_t) << kHashBits);
    next_base = kWindow;
  }
  base_ = static_cast<uint32_t>(next_base);
  in_ = in;
  length_ = length;
  hashable_end_ = length >= 4 ? length - 3 : 0;
}

uint32_t MatchFinder::Hash(size_t pos) const { return (Load32(in_ + pos) * 2654435761u) >> (32 - kHashBits); }

void MatchFinder::Insert(size_t pos) {
  uint32_t h = Hash(pos);
  uint32_t me = base_ + static_cast<uint32_t>(pos);
  prev_[me & (kWindow - 1)] = head_[h];
  head_[h] = me;
}

uint32_t MatchFinder::Longest(size_t pos, uint32_t limit, uint32_t floor, uint32_t depth, uint32_t* offset) const {
  if (limit <= floor) return 0;
  const uint8_t* cur = in_ + pos;
  const uint32_t me = base_ + static_cast<uint32_t>(pos);
  const uint32_t first = Load32(cur);
  uint32_t best = floor;
  uint32_t candidate = head_[Hash(pos)];
  while (depth-- > 0) {
    uint32_t distance = me - candidate;
    if (distance > kMaxOffset || distance == 0) break;
    const uint8_t* p = cur - distance;
    if (p[best] == cur[best] && Load32(p) == first) {
      uint32_t length = CommonLength(p, cur, limit);
      if (length > best) {
        best = length;
        *offset = distance;
        if (length >= kNiceLength || length == limit) break;
      }
    }
    candidate = prev_[candidate & (kWindow - 1)];
  }
  return best > floor ? best : 0;
}

ParseResult MatchFinder::ParseBlock(size_t start, size_t end, const uint8_t* cost, Item* items, uint32_t* freq) {
  // Bits saved by a match against coding its bytes as literals, priced with the previous block's code.
  auto gain = [&](size_t at, uint32_t length, uint32_t offset) {
    int slot = HighBit(offset);
    uint32_t stored = length - kMinMatch;
    int bits = cost[256 + (slot << 4) + (stored < 15 ? stored : 15)] + slot;
    if (stored >= 15) bits += stored < 270 ? 8 : 24;
    int literals = 0;
    uint32_t priced = length < kNiceLength ? length : kNiceLength;
    for (uint32_t i = 0; i < priced; ++i) literals += cost[in_[at + i]];
    return literals - bits;
  };
  std::memset(freq, 0, sizeof(uint32_t) * kSymbolCount);
  ParseResult result;
  size_t n = 0;
  auto literal = [&](size_t at) {
    items[n++] = Item{in_[at], 0};
    ++freq[in_[at]];
  };
  size_t pos = start;
  while (pos < end) {
    if (pos >= hashable_end_) {
      literal(pos++);
      continue;
    }
    uint32_t offset = 0;
    uint32_t length = Longest(pos, static_cast<uint32_t>(end - pos), kMinMatch - 1, kChainDepth, &offset);
    Insert(pos);
    int current_gain = length != 0 ? gain(pos, length, offset) : 0;
    if (current_gain <= 0) {
      literal(pos++);
      continue;
    }
    // One step of lazy evaluation at a time: a better match one byte later turns this position into a literal.
    bool next_inserted = false;
    while (length < kNiceLength && pos + 1 < end && pos + 1 < hashable_end_) {
      uint32_t next_offset = 0;
      uint32_t next_length =
          Longest(pos + 1, static_cast<uint32_t>(end - pos - 1), length - 1, kLazyDepth, &next_offset);
      Insert(pos + 1);
      next_inserted = true;
      if (next_length == 0) break;
      int next_gain = gain(pos + 1, next_length, next_offset);
      if (next_gain <= current_gain) break;
      current_gain = next_gain;
      literal(pos++);
      next_inserted = false;
      length = next_length;
      offset = next_offset;
    }
    items[n++] = Item{length, offset};
    uint32_t slot = static_cast<uint32_t>(HighBit(offset));
    uint32_t stored = length - kMinMatch;
    ++freq[256 + (slot << 4) + (stored < 15 ? stored : 15)];
    result.offset_bits += slot;
    if (stored >= 15) result.extra_bytes += stored < 270 ? 1 : (stored <= 0xFFFF ? 3 : 7);
    size_t stop = pos + (length < kIndexedMatchPrefix ? length : kIndexedMatchPrefix);
    if (stop > hashable_end_) stop = hashable_end_;
    for (size_t p = next_inserted ? pos + 2 : pos + 1; p < stop; ++p) Insert(p);
    pos += length;
  }
  result.items = n;
  return result;
}

}  // namespace kestrova::xpress
