// The parse itself, below the bit stream: items must rebuild the input exactly, use what the format allows
// (length-3 matches, references into earlier blocks of a stream) and nothing it forbids.
#include "xpress/xpress_lazy_parser.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "xpress/xpress_format.h"

namespace kestrova::xpress {
namespace {

using Bytes = std::vector<uint8_t>;

struct ParsedBlock {
  std::vector<Item> items;
  uint32_t freq[kSymbolCount];
};

// Parses `in` in 64 KiB blocks as the encoder does, with flat costs for every block.
std::vector<ParsedBlock> ParseStream(LazyParser& parser, const Bytes& in) {
  uint8_t cost[kSymbolCount];
  for (int sym = 0; sym < kSymbolCount; ++sym) cost[sym] = sym < 256 ? 7 : 9;
  std::vector<ParsedBlock> blocks;
  std::vector<Item> items(kBlockOutput);
  parser.Begin(in.data(), in.size());
  for (size_t start = 0; start < in.size(); start += kBlockOutput) {
    size_t end = std::min(in.size(), start + kBlockOutput);
    ParsedBlock block;
    ParseResult result = parser.ParseBlock(start, end, cost, items.data(), block.freq);
    block.items.assign(items.begin(), items.begin() + static_cast<ptrdiff_t>(result.items));
    blocks.push_back(std::move(block));
  }
  return blocks;
}

uint32_t MatchLength(Item item) { return (item & 0xFFFF) + kMinMatch; }
uint32_t MatchOffset(Item item) { return item >> 16; }

// Replays the items; fails on a reference before the stream or a match running past its block.
void ExpectRebuilds(const Bytes& in, const std::vector<ParsedBlock>& blocks) {
  Bytes out;
  for (size_t b = 0; b < blocks.size(); ++b) {
    size_t block_end = std::min(in.size(), (b + 1) * kBlockOutput);
    for (Item item : blocks[b].items) {
      if (item < 65536) {
        out.push_back(static_cast<uint8_t>(item));
        continue;
      }
      uint32_t offset = MatchOffset(item);
      uint32_t length = MatchLength(item);
      ASSERT_LE(offset, out.size()) << "reference before the stream start";
      ASSERT_LE(out.size() + length, block_end) << "match crosses the end of block " << b;
      for (uint32_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
    }
    ASSERT_EQ(out.size(), block_end) << "block " << b;
  }
  EXPECT_TRUE(out == in);
}

TEST(XpressLazyParser, ItemsRebuildMixedInputAcrossBlocks) {
  std::mt19937 rng(11);
  Bytes in;
  while (in.size() < 300000) {
    if (in.size() > 8 && rng() % 2 == 0) {
      size_t back = 1 + rng() % std::min<size_t>(in.size(), 70000);
      size_t len = 3 + rng() % (rng() % 16 == 0 ? 2000 : 12);
      for (size_t i = 0; i < len; ++i) in.push_back(in[in.size() - back]);
    } else {
      in.push_back(static_cast<uint8_t>(rng() % 24));
    }
  }
  LazyParser parser;
  ExpectRebuilds(in, ParseStream(parser, in));
}

TEST(XpressLazyParser, UsesLengthThreeMatches) {
  // Only three bytes ever repeat: "abc" between runs of bytes used nowhere else.
  Bytes in;
  for (int i = 0; i < 30; ++i) {
    for (int k = 0; k < 5; ++k) in.push_back(static_cast<uint8_t>(100 + i * 5 + k));
    in.insert(in.end(), {'a', 'b', 'c'});
  }
  in.push_back(250);  // the last three bytes are too close to the end to be searched otherwise
  LazyParser parser;
  auto blocks = ParseStream(parser, in);
  ExpectRebuilds(in, blocks);
  int threes = 0;
  for (Item item : blocks[0].items) threes += item >= 65536 && MatchLength(item) == 3;
  EXPECT_EQ(threes, 29);
}

TEST(XpressLazyParser, LaterBlocksReachBackIntoEarlierOnes) {
  std::mt19937 rng(12);
  Bytes unit(50000);
  for (auto& b : unit) b = static_cast<uint8_t>(rng());
  Bytes in;
  for (int i = 0; i < 4; ++i) in.insert(in.end(), unit.begin(), unit.end());
  LazyParser parser;
  auto blocks = ParseStream(parser, in);
  ExpectRebuilds(in, blocks);
  ASSERT_EQ(blocks.size(), 4u);
  // The second block begins 15536 bytes into the second copy, so one match to the first copy covers its start.
  ASSERT_GE(blocks[1].items[0], 65536u);
  EXPECT_EQ(MatchOffset(blocks[1].items[0]), 50000u);
  for (size_t b = 1; b < blocks.size(); ++b) EXPECT_LT(blocks[b].items.size(), 64u) << b;
}

TEST(XpressLazyParser, RunLongerThanTheWindowStaysInsideEachBlock) {
  Bytes in(200000, 0x5A);
  in[0] = 1;
  LazyParser parser;
  auto blocks = ParseStream(parser, in);
  ExpectRebuilds(in, blocks);
  for (const auto& block : blocks) EXPECT_LT(block.items.size(), 8u);
}

}  // namespace
}  // namespace kestrova::xpress
