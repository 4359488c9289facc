// The 24-byte buffer-mode container around LZ77+Huffman records: header with its CRC-32 check byte, then one
// record per chunk, each either one independent stream or the chunk's bytes stored as they are.
#include <cstring>

#include "xpress/xpress_format.h"
#include "xpress/xpress_huff.h"

namespace kestrova::xpress {

namespace {

// Only 23 header bytes go through it, so a bitwise CRC-32 is fast enough.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return crc;
}

uint8_t HeaderCheckByte(const uint8_t* header) {
  uint32_t crc = Crc32Update(0xFFFFFFFFu, header, 6);
  crc = Crc32Update(crc, header + 7, kContainerHeader - 7);
  return static_cast<uint8_t>(~crc);
}

}  // namespace

size_t XpressHuffEncoder::Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity) {
  if (length == 0 || capacity < kContainerHeader) return 0;
  uint64_t chunk = length < kMaxChunk ? length : kMaxChunk;
  std::memcpy(out, kContainerMagic, 4);
  Store16(out + 4, static_cast<uint16_t>(kContainerHeader));
  out[7] = kAlgorithmXpressHuff;
  Store64(out + 8, length);
  Store64(out + 16, chunk);
  out[6] = HeaderCheckByte(out);

  size_t pos = kContainerHeader;
  for (size_t done = 0; done < length;) {
    size_t n = length - done < chunk ? length - done : static_cast<size_t>(chunk);
    if (capacity - pos < 4) return 0;
    size_t room = capacity - pos - 4;
    size_t csize = 0;
    if (length > kStoredInputLimit) {
      // A stream of n bytes or more would be mistaken for a stored record, and is no gain anyway.
      csize = CompressRaw(in + done, n, out + pos + 4, room < n ? room : n - 1);
    }
    if (csize == 0) {
      if (room < n) return 0;
      std::memcpy(out + pos + 4, in + done, n);
      csize = n;
    }
    Store32(out + pos, static_cast<uint32_t>(csize));
    pos += 4 + csize;
    done += n;
  }
  return pos;
}

bool XpressHuffDecoder::Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity,
                                   size_t* produced) {
  if (length < kContainerHeader) return false;
  if (std::memcmp(in, kContainerMagic, 4) != 0) return false;
  if (Load16(in + 4) != kContainerHeader) return false;
  if (in[6] != HeaderCheckByte(in)) return false;
  if (in[7] != kAlgorithmXpressHuff) return false;
  uint64_t total = Load64(in + 8);
  uint64_t chunk = Load64(in + 16);
  if (chunk == 0 || total > capacity) return false;

  size_t pos = kContainerHeader;
  for (uint64_t done = 0; done < total;) {
    size_t n = static_cast<size_t>(total - done < chunk ? total - done : chunk);
    if (length - pos < 4) return false;
    size_t csize = Load32(in + pos);
    pos += 4;
    if (length - pos < csize) return false;
    if (csize == n) {
      std::memcpy(out + done, in + pos, n);
    } else if (!DecompressRaw(in + pos, csize, out + done, n)) {
      return false;
    }
    pos += csize;
    done += n;
  }
  if (pos != length) return false;
  *produced = static_cast<size_t>(total);
  return true;
}

}  // namespace kestrova::xpress
