#include "xpress/xpress_lazy_parser.h"

#include <cstring>

namespace kestrova::xpress {
namespace {

// Search effort, tuned on Windows DLLs against wimlib's ratio and speed (see xpress_bench). A stream of one block
// has no history to draw on and gets the deeper search; in a longer stream the window already holds a full block
// of history for most positions, which finds most matches with a shallower one.
constexpr SearchEffort kSingleBlockEffort = {32, 16, 64, 1u << 17};
constexpr SearchEffort kStreamEffort = {8, 4, 32, 32};
constexpr size_t kSparseStride = 8;
// Beyond this many bytes a match always beats literals, so their cost is not summed.
constexpr uint32_t kPricedLength = 12;

inline uint32_t MatchSymbol(uint32_t length, uint32_t offset) {
  uint32_t stored = length - kMinMatch;
  return 256 + (static_cast<uint32_t>(HighBit(offset)) << 4) + (stored < 15 ? stored : 15);
}

}  // namespace

void LazyParser::Begin(const uint8_t* in, size_t length) {
  in_ = in;
  effort_ = length > kBlockOutput ? kStreamEffort : kSingleBlockEffort;
  finder_.Begin(in, length);
}

ParseResult LazyParser::ParseBlock(size_t start, size_t end, const uint8_t* cost, Item* items, uint32_t* freq) {
  const uint8_t* const in = in_;
  MatchFinder& finder = finder_;
  const SearchEffort effort = effort_;
  // Bits of a match symbol with its offset bits and long-length bytes.
  auto match_bits = [cost](uint32_t length, uint32_t offset) {
    uint32_t stored = length - kMinMatch;
    int bits = cost[MatchSymbol(length, offset)] + HighBit(offset);
    if (stored >= 15) bits += stored < 270 ? 8 : 24;
    return bits;
  };
  auto literal_bits = [cost, in](size_t from, size_t to) {
    int bits = 0;
    for (size_t i = from; i < to; ++i) bits += cost[in[i]];
    return bits;
  };
  std::memset(freq, 0, sizeof(uint32_t) * kSymbolCount);
  ParseResult result;
  Item* out = items;
  const size_t searchable_end = end < finder.hashable_end() ? end : finder.hashable_end();
  size_t pos = start;
  while (pos < searchable_end) {
    uint32_t offset = 0;
    uint32_t length =
        finder.FindAndInsert(pos, static_cast<uint32_t>(end - pos), kMinMatch - 1, effort.depth, effort.nice, &offset);
    int bits = 0;
    if (length != 0) bits = match_bits(length, offset);
    if (length == 0 || (length < kPricedLength && literal_bits(pos, pos + length) <= bits)) {
      *out++ = in[pos];
      ++freq[in[pos]];
      ++pos;
      continue;
    }
    // One step of lazy evaluation at a time: when a literal and a match one byte later cover the bytes both
    // choices reach more cheaply, this position becomes a literal.
    bool next_inserted = false;
    while (length < effort.nice && pos + 1 < searchable_end) {
      uint32_t next_offset = 0;
      uint32_t next_length = finder.FindAndInsert(pos + 1, static_cast<uint32_t>(end - pos - 1), length - 1,
                                                  effort.lazy_depth, effort.nice, &next_offset);
      next_inserted = true;
      if (next_length == 0) break;
      int next_bits = cost[in[pos]] + match_bits(next_length, next_offset);
      size_t here_end = pos + length;
      size_t next_end = pos + 1 + next_length;
      int here_total = bits + (next_end > here_end ? literal_bits(here_end, next_end) : 0);
      int next_total = next_bits + (here_end > next_end ? literal_bits(next_end, here_end) : 0);
      if (next_total >= here_total) break;
      *out++ = in[pos];
      ++freq[in[pos]];
      ++pos;
      next_inserted = false;
      length = next_length;
      offset = next_offset;
      bits = match_bits(length, offset);
    }
    uint32_t stored = length - kMinMatch;
    *out++ = offset << 16 | stored;
    ++freq[MatchSymbol(length, offset)];
    result.offset_bits += static_cast<uint32_t>(HighBit(offset));
    // A match never leaves its block, so its length always fits the two-byte form.
    if (stored >= 15) result.extra_bytes += stored < 270 ? 1 : 3;
    size_t match_end = pos + length < searchable_end ? pos + length : searchable_end;
    size_t dense_end = pos + (length < effort.indexed ? length : effort.indexed);
    if (dense_end > match_end) dense_end = match_end;
    size_t p = next_inserted ? pos + 2 : pos + 1;
    for (; p < dense_end; ++p) finder.Insert(p);
    // Past that, every few positions: enough that data repeating what this match copies still finds a source
    // within a few bytes of any start.
    for (p = dense_end + kSparseStride - 1; p < match_end; p += kSparseStride) finder.Insert(p);
    pos += length;
  }
  for (; pos < end; ++pos) {
    *out++ = in[pos];
    ++freq[in[pos]];
  }
  result.items = static_cast<size_t>(out - items);
  return result;
}

}  // namespace kestrova::xpress
