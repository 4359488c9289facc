// Encoder for the raw LZ77+Huffman stream: 64 KiB blocks, each parsed by the lazy parser, given its own
// length-limited Huffman code and written with the two-reserved-slot word layout readers expect.
#include <cstring>
#include <memory>

#include "xpress/xpress_format.h"
#include "xpress/xpress_huff.h"
#include "xpress/xpress_huffman_code.h"
#include "xpress/xpress_lazy_parser.h"

namespace kestrova::xpress {

struct XpressHuffEncoder::State {
  LazyParser parser;
  std::unique_ptr<Item[]> items = std::make_unique<Item[]>(kBlockOutput);
  uint32_t freq[kSymbolCount];
  uint8_t lengths[kSymbolCount];
  uint16_t codes[kSymbolCount];
  uint8_t cost[kSymbolCount];
};

XpressHuffEncoder::XpressHuffEncoder() : state_(std::make_unique<State>()) {}
XpressHuffEncoder::~XpressHuffEncoder() = default;

namespace {

// Bits go MSB-first into 16-bit words. Two word slots are always reserved ahead, and extra length bytes go after
// them, which is exactly where a reader that keeps 16..32 bits buffered finds them.
class BitWriter {
 public:
  BitWriter(uint8_t* out, size_t pos) : out_(out), slot_(pos), next_slot_(pos + 2), end_(pos + 4) {}

  // n may be up to 32: one call can complete two words.
  void Put(uint32_t value, uint32_t n) {
    bits_ = (bits_ << n) | value;
    count_ += n;
    while (count_ > 16) {
      count_ -= 16;
      Store16(out_ + slot_, static_cast<uint16_t>(bits_ >> count_));
      slot_ = next_slot_;
      next_slot_ = end_;
      end_ += 2;
    }
  }
  void PutByte(uint8_t b) { out_[end_++] = b; }
  void PutWord(uint16_t w) {
    Store16(out_ + end_, w);
    end_ += 2;
  }
  size_t Finish() {
    Store16(out_ + slot_, static_cast<uint16_t>(bits_ << (16 - count_)));
    Store16(out_ + next_slot_, 0);
    return end_;
  }

 private:
  uint8_t* out_;
  size_t slot_;
  size_t next_slot_;
  size_t end_;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
};

}  // namespace

size_t XpressHuffEncoder::CompressRaw(const uint8_t* in, size_t length, uint8_t* out, size_t capacity) {
  if (length == 0) return 0;
  State& s = *state_;
  s.parser.Begin(in, length);
  // Before any block is coded: literals a little under a byte, match symbols a little over.
  for (int sym = 0; sym < kSymbolCount; ++sym) s.cost[sym] = sym < 256 ? 7 : 9;
  size_t out_pos = 0;
  for (size_t start = 0; start < length; start += kBlockOutput) {
    size_t end = length - start > kBlockOutput ? start + kBlockOutput : length;
    bool last = end == length;
    ParseResult parsed = s.parser.ParseBlock(start, end, s.cost, s.items.get(), s.freq);
    if (last) ++s.freq[kEndSymbol];
    BuildLimitedLengths(s.freq, kSymbolCount, kMaxCodeLength, s.lengths);
    BuildCanonicalCodes(s.lengths, kSymbolCount, s.codes);
    // Symbols this block did not use would get a long code if the next one starts using them.
    for (int sym = 0; sym < kSymbolCount; ++sym) s.cost[sym] = s.lengths[sym] != 0 ? s.lengths[sym] : 12;

    uint64_t bits = parsed.offset_bits;
    for (int sym = 0; sym < kSymbolCount; ++sym) bits += static_cast<uint64_t>(s.freq[sym]) * s.lengths[sym];
    // Table, every full or partial word of bits, the two final slots and the long-length bytes.
    uint64_t block_size = kTableBytes + 2 * (bits / 16) + 4 + parsed.extra_bytes;
    if (block_size > capacity - out_pos) return 0;

    uint8_t* table = out + out_pos;
    for (size_t i = 0; i < kTableBytes; ++i) {
      table[i] = static_cast<uint8_t>(s.lengths[2 * i] | (s.lengths[2 * i + 1] << 4));
    }
    BitWriter w(out, out_pos + kTableBytes);
    const Item* items = s.items.get();
    const uint16_t* codes = s.codes;
    const uint8_t* lengths = s.lengths;
    for (size_t i = 0; i < parsed.items; ++i) {
      const Item item = items[i];
      if (item < 65536) {
        w.Put(codes[item], lengths[item]);
        continue;
      }
      uint32_t offset = item >> 16;
      uint32_t stored = item & 0xFFFF;
      uint32_t slot = static_cast<uint32_t>(HighBit(offset));
      uint32_t extra = offset - (1u << slot);
      if (stored < 15) {
        // No length bytes to place between symbol and offset bits, so both go in at once.
        uint32_t sym = 256 + (slot << 4) + stored;
        w.Put(static_cast<uint32_t>(codes[sym]) << slot | extra, lengths[sym] + slot);
        continue;
      }
      uint32_t sym = 256 + (slot << 4) + 15;
      w.Put(codes[sym], lengths[sym]);
      if (stored < 270) {
        w.PutByte(static_cast<uint8_t>(stored - 15));
      } else {
        w.PutByte(255);
        w.PutWord(static_cast<uint16_t>(stored));
      }
      w.Put(extra, slot);
    }
    if (last) w.Put(s.codes[kEndSymbol], s.lengths[kEndSymbol]);
    out_pos = w.Finish();
  }
  return out_pos;
}

}  // namespace kestrova::xpress
