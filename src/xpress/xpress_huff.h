// Our own codec for the byte stream the Windows Compression API writes for XPRESS_HUFF in buffer mode: the
// 24-byte container and the LZ77+Huffman stream inside it. Used wherever that API is missing (Wine, the native
// build). Owns no files and no archive logic; each object allocates its working memory once and is reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestrova::xpress {

class XpressHuffEncoder {
 public:
  XpressHuffEncoder();
  ~XpressHuffEncoder();
  XpressHuffEncoder(const XpressHuffEncoder&) = delete;
  XpressHuffEncoder& operator=(const XpressHuffEncoder&) = delete;

  // Writes the buffer-mode container for in[0, length) into out. Returns the container's length, or 0 when
  // length is 0 or the container does not fit in capacity. Inputs of 300 bytes or less are stored inside the
  // container, as Windows does.
  size_t Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity);

  // Writes one raw LZ77+Huffman stream (no container) for in[0, length); returns its length, or 0 when it
  // does not fit in capacity or length is 0.
  size_t CompressRaw(const uint8_t* in, size_t length, uint8_t* out, size_t capacity);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

class XpressHuffDecoder {
 public:
  XpressHuffDecoder();
  ~XpressHuffDecoder();
  XpressHuffDecoder(const XpressHuffDecoder&) = delete;
  XpressHuffDecoder& operator=(const XpressHuffDecoder&) = delete;

  // Decodes a buffer-mode container into out. False for anything malformed or a total above capacity; on
  // success *produced is the container's total. Never reads or writes outside the given ranges.
  bool Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced);

  // Decodes one raw LZ77+Huffman stream that must yield exactly `expected` bytes into out (capacity >= expected).
  bool DecompressRaw(const uint8_t* in, size_t length, uint8_t* out, size_t expected);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kestrova::xpress
