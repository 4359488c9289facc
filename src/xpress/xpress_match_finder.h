// LZ77 parsing for the XPRESS encoder: hash chains over a 64 KiB window and lazy match selection with a rough
// bit-cost model. Turns one block's input range into literal/match items and their symbol frequencies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrova::xpress {

struct Item {
  uint32_t length;  // match length, or the literal byte when offset is 0
  uint32_t offset;  // 0 for a literal
};

struct ParseResult {
  size_t items = 0;
  size_t extra_bytes = 0;  // bytes of long-length fields the block will carry
  uint64_t offset_bits = 0;
};

class MatchFinder {
 public:
  MatchFinder();

  // Starts a new stream over in[0, length): nothing before it may be referenced.
  void Begin(const uint8_t* in, size_t length);

  // Parses [start, end) (end at most start + 65536) into items; matches stay inside the range but may reach up
  // to 65535 bytes back into earlier ranges of the same stream. cost[512] estimates each symbol's bits (the
  // previous block's code); freq[512] is overwritten.
  ParseResult ParseBlock(size_t start, size_t end, const uint8_t* cost, Item* items, uint32_t* freq);

 private:
  static constexpr int kHashBits = 15;
  static constexpr uint32_t kWindow = 65536;

  uint32_t Hash(size_t pos) const;
  void Insert(size_t pos);
  // Longest match at pos of more than `floor` bytes and at most `limit`; returns its length (0 if none).
  uint32_t Longest(size_t pos, uint32_t limit, uint32_t floor, uint32_t depth, uint32_t* offset) const;

  const uint8_t* in_ = nullptr;
  size_t length_ = 0;
  size_t hashable_end_ = 0;  // positions below this have 4 readable bytes
  // Positions are stored as base_ + pos so entries left over from earlier streams are always out of the window.
  uint32_t base_ = 0;
  std::unique_ptr<uint32_t[]> head_;
  std::unique_ptr<uint32_t[]> prev_;
};

}  // namespace kestrova::xpress
