// LZ77 parsing for the XPRESS encoder: lazy match selection over the match finder, weighing each choice with
// the bit costs of the previous block's Huffman code. Turns one block's input range into literal/match items
// and their symbol frequencies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xpress/xpress_match_finder.h"

namespace kestrova::xpress {

// One parsed item: a literal byte (below 65536), or offset << 16 | (length - 3) for a match.
using Item = uint32_t;

struct ParseResult {
  size_t items = 0;
  size_t extra_bytes = 0;  // bytes of long-length fields the block will carry
  uint64_t offset_bits = 0;
};

struct SearchEffort {
  uint32_t depth;       // row entries looked at for a match
  uint32_t lazy_depth;  // the same for the look-ahead one byte further
  uint32_t nice;        // a match this long ends the search and is taken without looking ahead
  uint32_t indexed;     // leading positions of a match all indexed; later ones are rarely the best source
};

class LazyParser {
 public:
  // Starts a new stream over in[0, length): nothing before it may be referenced.
  void Begin(const uint8_t* in, size_t length);

  // Parses [start, end) (end at most start + 65536, ranges in stream order) into items; matches stay inside the
  // range but may reach up to 65535 bytes back into earlier ranges of the same stream. cost[512] estimates each
  // symbol's bits; freq[512] is overwritten.
  ParseResult ParseBlock(size_t start, size_t end, const uint8_t* cost, Item* items, uint32_t* freq);

 private:
  MatchFinder finder_;
  const uint8_t* in_ = nullptr;
  SearchEffort effort_ = {};
};

}  // namespace kestrova::xpress
