// Decoder for the raw LZ77+Huffman stream. The reference reader loads 16-bit words lazily and takes extra
// length bytes from wherever its word loading has got to; this one loads up to four words ahead for speed and
// rewinds the surplus whenever the byte position matters (extra length bytes, the next block's table).
// Most of each block goes through a fast loop that tests its input and output margins once per iteration;
// the last bytes of a block and of the stream go through a careful loop that tests every step.
#include <cstring>
#include <memory>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// One fast iteration writes one 16-byte piece for up to two literals or a match of up to 16 bytes; longer
// matches are copied with their own bound test.
constexpr size_t kOutputMargin = 16;
// A fast iteration starts at least this far before the block's end, so its literals (two at most) never land
// beyond the block and the next table is read exactly where the reference reads it.
constexpr size_t kBlockMargin = 2;

// Left-aligned bit buffer over the input. `pos` may run past the end: missing words read as zero, and callers
// check afterwards that nothing they actually used lay beyond the input.
struct BitReader {
  const uint8_t* in;
  size_t length;
  size_t pos;
  uint64_t bits;
  uint32_t count;

  // Tops the buffer up to at least 49 bits from 8 bytes at `pos`; the caller has proven pos + 8 <= length.
  // No test of `count` first: loading when nothing is missing adds zero words, and a branch on the number of
  // bits left mispredicts half the time.
  void RefillFast() {
    uint64_t x = Load64(in + pos);
    // Words arrive little-endian but are consumed first-word-first from the top: reverse the word order.
    x = (x << 32) | (x >> 32);
    x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
    // Bits of a partly taken word beyond `count` are the very bits the next load ORs in again.
    bits |= x >> count;
    uint32_t words = (64 - count) >> 4;
    pos += 2 * words;
    count += 16 * words;
  }

  // Guarantees at least 49 valid bits: two symbols, or one symbol and its offset bits, without another refill.
  // False once bits already consumed lay beyond the input (only checked near the end, where it can happen).
  bool Refill() {
    if (pos + 8 <= length) {
      RefillFast();
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

  void Consume(uint32_t n) {
    bits <<= n;
    count -= n;
  }

  uint32_t Take(uint32_t n) {  // n <= 15; yields (1 << n) + the next n bits, which is how offsets are formed
    uint32_t value = static_cast<uint32_t>(((bits >> 1) | (1ull << 63)) >> (63 - n));
    Consume(n);
    return value;
  }
};

// Length of a match whose 4-bit length field is 15: extra bytes at the reader's byte position, which the
// reader must already have rewound to.
bool ReadLongLengthBytes(BitReader& r, size_t* length) {
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

bool ReadLongLength(BitReader& r, size_t* length) {
  r.Rewind();
  return ReadLongLengthBytes(r, length);
}

// The literals are read back at once by a 16-byte load. A load is served from a store still in flight only
// when one store covers it whole; two byte stores under a 16-byte load stall it until they reach the cache.
inline void StageLiterals(uint8_t* literals, uint32_t bytes) {
#if defined(__SSE2__)
  _mm_storeu_si128(reinterpret_cast<__m128i*>(literals), _mm_cvtsi32_si128(static_cast<int>(bytes)));
#else
  uint8_t piece[16] = {static_cast<uint8_t>(bytes), static_cast<uint8_t>(bytes >> 8)};
  std::memcpy(literals, piece, 16);
#endif
}

inline void Copy8(uint8_t* dst, const uint8_t* src) { std::memcpy(dst, src, 8); }
inline void Copy16(uint8_t* dst, const uint8_t* src) { std::memcpy(dst, src, 16); }

// Short period: lay down the first 8 bytes one by one, then copy 8 at a time from a multiple of the period at
// least 8 back, so every piece reads only finished bytes. Writes max(length, 8) rounded up to 8 bytes.
inline void CopyShortPeriod(uint8_t* dst, size_t offset, size_t length) {
  const uint8_t* src = dst - offset;
  for (size_t i = 0; i < 8; ++i) dst[i] = src[i];
  size_t step = ((8 + offset - 1) / offset) * offset;
  for (size_t i = 8; i < length; i += 8) Copy8(dst + i, dst + i - step);
}

// The offset of a non-special match entry for the bits at its code: (1 << slot) plus the slot's bits after
// the code. For literal entries the value means nothing, and costs less to work out than to branch around.
inline size_t EntryOffset(uint64_t bits, uint32_t entry) {
  uint32_t slot = DecodeTable::Aux(entry);
  uint32_t code = DecodeTable::Bits(entry) - slot;
  return static_cast<size_t>((((bits << code) >> 1) | (1ull << 63)) >> (63 - slot));
}

// A match of at most 16 bytes whose source lies fewer than 16 bytes back, with kOutputMargin bytes of room:
// whole pieces of 8, each reading only finished bytes.
inline void CopyNearMatch(uint8_t* dst, size_t offset, size_t length) {
  const uint8_t* src = dst - offset;
  if (offset >= 8) {
    Copy8(dst, src);
    Copy8(dst + 8, src + 8);
  } else if (offset == 1) {
    uint64_t run = 0x0101010101010101ull * src[0];
    std::memcpy(dst, &run, 8);
    std::memcpy(dst + 8, &run, 8);
  } else {
    CopyShortPeriod(dst, offset, length);
  }
}

// Any match, with `room` bytes left in the output (length <= room).
inline void CopyMatch(uint8_t* out, size_t out_pos, size_t offset, size_t length, size_t room) {
  uint8_t* dst = out + out_pos;
  const uint8_t* src = dst - offset;
  if (offset >= 8 && length + 16 <= room) {
    Copy8(dst, src);
    Copy8(dst + 8, src + 8);
    for (size_t i = 16; i < length; i += 8) Copy8(dst + i, src + i);
  } else if (offset == 1) {
    std::memset(dst, src[0], length);
  } else if (length + 8 <= room) {
    CopyShortPeriod(dst, offset, length);
  } else {
    for (size_t i = 0; i < length; ++i) dst[i] = src[i];
  }
}

// A match of any length; pieces of 16 while there is room for a whole last piece.
inline void CopyLongMatch(uint8_t* out, size_t out_pos, size_t offset, size_t length, size_t room) {
  uint8_t* dst = out + out_pos;
  const uint8_t* src = dst - offset;
  if (length + 16 > room || (offset < 16 && offset != 1)) {
    CopyMatch(out, out_pos, offset, length, room);
  } else if (offset != 1) {
    for (size_t i = 0; i < length; i += 16) Copy16(dst + i, src + i);
  } else if (length > 256) {
    std::memset(dst, src[0], length);
  } else {
    uint64_t run = 0x0101010101010101ull * src[0];
    uint8_t piece[16];
    std::memcpy(piece, &run, 8);
    std::memcpy(piece + 8, &run, 8);
    for (size_t i = 0; i < length; i += 16) std::memcpy(dst + i, piece, 16);
  }
}

}  // namespace

bool XpressHuffDecoder::DecompressRaw(const uint8_t* in, size_t length, uint8_t* out, size_t expected) {
  DecodeTable& table = state_->table;
  size_t out_pos = 0;
  size_t block_start = 0;  // input position of the current block's table
  BitReader r{in, length, 0, 0, 0};
  const size_t fast_in_end = length >= 8 ? length - 8 : 0;  // a fast refill may start at or before this
  const size_t fast_out_end = expected > kOutputMargin ? expected - kOutputMargin : 0;
  // Literals go out through the same 16-byte copy as matches, from here.
  alignas(16) uint8_t literals[16] = {};
  while (out_pos < expected) {
    if (block_start > length || length - block_start < kTableBytes) return false;
    if (!table.Build(in + block_start)) return false;
    r.pos = block_start + kTableBytes;
    r.bits = 0;
    r.count = 0;
    size_t block_end = expected - out_pos > kBlockOutput ? out_pos + kBlockOutput : expected;
    size_t fast_end = block_end > kBlockMargin ? block_end - kBlockMargin : 0;
    if (fast_end > fast_out_end) fast_end = fast_out_end;

    // After a refill there are 49 bits or more, and an entry takes at most 30 (a 15-bit code and 15 offset
    // bits). Literals and short matches share one path without a branch between them: the offset is worked
    // out for both and 16 bytes are copied either from the literals or from the match's source, which lies
    // 16 or more bytes back. The branch between literal and match mispredicted on about every third symbol.
    // The reader lives in locals here: handing it to a function by reference would keep it in memory.
    if (length >= 8) {
      BitReader f = r;
      // A literal entry or a short match whose source lies 16 or more back: one 16-byte piece, from the
      // literals or from the source. False, with nothing done, for any other entry that is not special.
      auto common = [&](uint32_t e) {
        size_t offset = EntryOffset(f.bits, e);
        bool match = (e & DecodeTable::kMatch) != 0;
        if (match & ((offset < 16) | (offset > out_pos))) return false;
        f.Consume(DecodeTable::Bits(e));
        uint8_t* dst = out + out_pos;
        StageLiterals(literals, e >> 16);
        Copy16(dst, match ? dst - offset : literals);
        out_pos += DecodeTable::Output(e);
        return true;
      };
      while (out_pos < fast_end && f.pos <= fast_in_end) {
        f.RefillFast();
        uint32_t e = table.Root(f.bits);
        if (e & DecodeTable::kSpecial) [[unlikely]] {
          if (!(e & DecodeTable::kMatch)) e = table.Follow(e, f.bits);
          if (DecodeTable::IsSlowMatch(e)) {
            f.Consume(DecodeTable::Bits(e));
            size_t match_length = DecodeTable::Output(e);
            if (match_length == 0) {
              f.Rewind();
              // Almost every long match needs one extra byte; the longer forms take the general reader.
              match_length = f.pos < length ? in[f.pos] + size_t{18} : 0;
              if (match_length - 18 < 255) {
                ++f.pos;
              } else {
                BitReader slow = f;
                if (!ReadLongLengthBytes(slow, &match_length)) return false;
                f = slow;
              }
            }
            size_t offset = f.Take(DecodeTable::Aux(e));
            size_t room = expected - out_pos;
            if (offset > out_pos || match_length > room) return false;
            CopyLongMatch(out, out_pos, offset, match_length, room);
            out_pos += match_length;
            continue;
          }
        }
        if (!common(e)) {
          size_t offset = EntryOffset(f.bits, e);
          if (offset > out_pos) return false;
          f.Consume(DecodeTable::Bits(e));
          CopyNearMatch(out + out_pos, offset, DecodeTable::Output(e));
          out_pos += DecodeTable::Output(e);
          continue;
        }
        // Most entries leave 30 bits or more, enough for one more without a refill. An entry the common path
        // declines is decoded again, the general way, after the next refill.
        if (f.count >= 30 && out_pos < fast_end) {
          e = table.Root(f.bits);
          if (!(e & DecodeTable::kSpecial)) common(e);
        }
      }
      r = f;
    }

    while (out_pos < block_end) {
      if (!r.Refill()) return false;
      uint32_t e = table.Lookup(r.bits);
      if (!(e & DecodeTable::kMatch)) {
        out[out_pos++] = static_cast<uint8_t>(e >> 16);
        if (DecodeTable::Output(e) == 2 && out_pos < block_end) {
          out[out_pos++] = static_cast<uint8_t>(e >> 24);
          r.Consume(DecodeTable::Bits(e));
        } else {
          r.Consume(DecodeTable::Aux(e));
        }
        continue;
      }
      size_t match_length = DecodeTable::Output(e);
      uint32_t slot = DecodeTable::Aux(e);
      if (DecodeTable::IsSlowMatch(e)) {
        r.Consume(DecodeTable::Bits(e));
        if (match_length == 0 && !ReadLongLength(r, &match_length)) return false;
      } else {
        r.Consume(DecodeTable::Bits(e) - slot);
      }
      size_t offset = r.Take(slot);
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
