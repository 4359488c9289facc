// Decoder for the raw LZ77+Huffman stream. The reference reader loads 16-bit words lazily and takes extra
// length bytes from wherever its word loading has got to; this one loads up to four words ahead for speed and
// rewinds the surplus whenever the byte position matters (extra length bytes, the next block's table).
#include <cstring>
#include <memory>

#include "xpress/xpress_decode_table.h"
#include "xpress/xpress_format.h"
#include "xpress/xpress_huff.h"

namespace kestrova::xpress {

struct XpressHuffDecoder::State {
  DecodeTable table;
};

XpressHuffDecoder::XpressHuffDecoder() : state_(std::make_unique<State>()) {}
XpressHuffDecoder::~XpressHuffDecoder() = default;

namespace {

// Left-aligned bit buffer over the input. `pos` may run past the end: missing words read as zero, and callers
// check afterwards that nothing they actually used lay beyond the input.
struct BitReader {
  const uint8_t* in;
  size_t length;
  size_t pos;
  uint64_t bits;
  uint32_t count;

  // Guarantees at least 49 valid bits: two symbols, or one symbol and its offset bits, without another refill.
  // False once bits already consumed lay beyond the input (only checked near the end, where it can happen).
  bool Refill() {
    if (pos + 8 <= length) {
      // No test of `count` first: loading when nothing is missing adds zero words, and a branch on the number
      // of bits left mispredicts half the time.
      uint64_t x = Load64(in + pos);
      // Words arrive little-endian but are consumed first-word-first from the top: reverse the word order.
      x = (x << 32) | (x >> 32);
      x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
      // Bits of a partly taken word beyond `count` are the very bits the next load ORs in again.
      bits |= x >> count;
      uint32_t words = (64 - count) >> 4;
      pos += 2 * words;
      count += 16 * words;
      return true;
    }
    if (count > 48) return true;
    if (pos > length && 8 * (pos - length) > count) return false;
    while (count <= 48) {
      uint64_t word = 0;
      if (pos + 2 <= length) {
        word = Load16(in + pos);
      } else if (pos < length) {
        word = in[pos];
      }
      bits |= word << (48 - count);
      pos += 2;
      count += 16;
    }
    return true;
  }

  // Drops the words loaded ahead of the reference reader, which holds 16..31 bits once anything was consumed.
  // Needs count >= 16.
  void Rewind() {
    uint32_t kept = 16 + (count & 15);
    pos -= 2 * ((count - kept) >> 4);
    count = kept;
    bits &= ~0ull << (64 - kept);
  }

  uint32_t Decode(const DecodeTable& table) {
    uint32_t entry = table.Lookup(bits);
    uint32_t n = entry & 15;
    bits <<= n;
    count -= n;
    return entry >> 16;
  }

  uint32_t Take(uint32_t n) {  // n <= 15; yields (1 << n) + the next n bits, which is how offsets are formed
    uint32_t value = static_cast<uint32_t>(((bits >> 1) | (1ull << 63)) >> (63 - n));
    bits <<= n;
    count -= n;
    return value;
  }
};

// Length of a match whose 4-bit length field is 15: extra bytes at the reader's byte position.
bool ReadLongLength(BitReader& r, size_t* length) {
  r.Rewind();
  if (r.pos >= r.length) return false;
  uint32_t b = r.in[r.pos++];
  if (b < 255) {
    *length = b + 18;
    return true;
  }
  if (r.length - r.pos < 2) return false;
  uint32_t w = Load16(r.in + r.pos);
  r.pos += 2;
  if (w != 0) {
    *length = w + 3;
    return true;
  }
  if (r.length - r.pos < 4) return false;
  *length = static_cast<size_t>(Load32(r.in + r.pos)) + 3;
  r.pos += 4;
  return true;
}

inline void CopyMatch(uint8_t* out, size_t out_pos, size_t offset, size_t length, size_t room) {
  uint8_t* dst = out + out_pos;
  const uint8_t* src = dst - offset;
  if (offset >= 8 && length + 16 <= room) {
    // Chunks of 8 never read bytes this copy has yet to write when the source is 8 or more bytes back. Most
    // matches are short, so the first 16 bytes go without a loop test.
    std::memcpy(dst, src, 8);
    std::memcpy(dst + 8, src + 8, 8);
    for (size_t i = 16; i < length; i += 8) std::memcpy(dst + i, src + i, 8);
  } else if (offset == 1) {
    std::memset(dst, src[0], length);
  } else if (length + 8 <= room) {
    // Short period: lay down the first 8+ bytes one by one, then copy 8 at a time from a multiple of the
    // period at least 8 back, so every chunk reads only finished bytes.
    size_t step = ((8 + offset - 1) / offset) * offset;
    size_t head = step < length ? step : length;
    for (size_t i = 0; i < head; ++i) dst[i] = src[i];
    for (size_t i = head; i < length; i += 8) {
      uint64_t chunk;
      std::memcpy(&chunk, dst + i - step, 8);
      std::memcpy(dst + i, &chunk, 8);
    }
  } else {
    for (size_t i = 0; i < length; ++i) dst[i] = src[i];
  }
}

}  // namespace

bool XpressHuffDecoder::DecompressRaw(const uint8_t* in, size_t length, uint8_t* out, size_t expected) {
  const DecodeTable& table = state_->table;
  size_t out_pos = 0;
  size_t block_start = 0;  // input position of the current block's table
  BitReader r{in, length, 0, 0, 0};
  while (out_pos < expected) {
    if (block_start > length || length - block_start < kTableBytes) return false;
    if (!state_->table.Build(in + block_start)) return false;
    r.pos = block_start + kTableBytes;
    r.bits = 0;
    r.count = 0;
    size_t block_end = expected - out_pos > kBlockOutput ? out_pos + kBlockOutput : expected;
    while (out_pos < block_end) {
      if (!r.Refill()) return false;
      uint32_t pair = table.LookupPair(r.bits);
      if ((pair & DecodeTable::kPairFlag) && block_end - out_pos >= 2) {
        out[out_pos] = static_cast<uint8_t>(pair >> 16);
        out[out_pos + 1] = static_cast<uint8_t>(pair >> 8);
        out_pos += 2;
        r.bits <<= pair & 15;
        r.count -= pair & 15;
        continue;
      }
      uint32_t symbol = r.Decode(table);
      if (symbol < 256) {
        out[out_pos++] = static_cast<uint8_t>(symbol);
        if (out_pos >= block_end) break;
        symbol = r.Decode(table);
        if (symbol < 256) {
          out[out_pos++] = static_cast<uint8_t>(symbol);
          continue;
        }
      }
      symbol -= 256;
      size_t match_length = (symbol & 15) + kMinMatch;
      if ((symbol & 15) == 15 && !ReadLongLength(r, &match_length)) return false;
      size_t offset = r.Take(symbol >> 4);
      size_t room = expected - out_pos;
      if (offset > out_pos || match_length > room) return false;
      CopyMatch(out, out_pos, offset, match_length, room);
      out_pos += match_length;
    }
    // A long-length match may have left fewer than 16 bits; the reference reader would have loaded a word.
    if (!r.Refill()) return false;
    r.Rewind();
    block_start = r.pos;
  }
  // The last loaded word may be padding the reader never used; the one before it held used bits.
  return expected == 0 || r.pos - 2 <= length;
}

}  // namespace kestrova::xpress
