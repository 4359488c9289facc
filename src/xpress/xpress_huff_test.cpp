// Round trips, Windows-made vectors and malformed inputs for the XPRESS Huffman codec.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "xpress/xpress_huff.h"
#include "xpress/xpress_huffman_code.h"
#include "support/test_paths.h"

namespace kestrova::xpress {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kVectors = "src/xpress/testdata/xpress/";

Bytes Vector(const std::string& relative) {
  auto data = test::ReadWholeFile(test::SourcePath(kVectors + relative));
  return Bytes(data.begin(), data.end());
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

Bytes RepetitiveText(size_t n) {
  Bytes out;
  for (int line = 0; out.size() < n; ++line) {
    std::string s = "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog #" +
                    std::to_string(line * 7919 % 1000) + "\n";
    out.insert(out.end(), s.begin(), s.end());
  }
  out.resize(n);
  return out;
}

// Bytes with a skewed distribution and repeats at all distances: exercises every offset slot.
Bytes MixedData(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n);
  while (out.size() < n) {
    if (out.size() > 16 && rng() % 3 != 0) {
      size_t back = 1 + rng() % std::min<size_t>(out.size(), 70000);
      size_t len = 3 + rng() % (rng() % 8 == 0 ? 600 : 20);
      for (size_t i = 0; i < len && out.size() < n; ++i) out.push_back(out[out.size() - back]);
    } else {
      out.push_back(static_cast<uint8_t>("etaoin shrdlu\0\xff"[rng() % 15]));
    }
  }
  return out;
}

uint8_t CheckByte(const uint8_t* header) {
  uint32_t crc = 0xFFFFFFFFu;
  for (int i = 0; i < 24; ++i) {
    if (i == 6) continue;
    crc ^= header[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return static_cast<uint8_t>(~crc);
}

Bytes CompressContainer(XpressHuffEncoder& encoder, const Bytes& in) {
  Bytes out(in.size() + in.size() / 8 + 1024);
  size_t n = encoder.Compress(in.data(), in.size(), out.data(), out.size());
  out.resize(n);
  return out;
}

void ExpectContainerRoundTrip(const Bytes& in) {
  XpressHuffEncoder encoder;
  XpressHuffDecoder decoder;
  Bytes packed = CompressContainer(encoder, in);
  ASSERT_GT(packed.size(), 0u);
  ASSERT_LE(packed.size(), in.size() + 28) << "a record must never be stored larger than the input";
  Bytes back(in.size());
  size_t produced = 0;
  ASSERT_TRUE(decoder.Decompress(packed.data(), packed.size(), back.data(), back.size(), &produced));
  ASSERT_EQ(produced, in.size());
  EXPECT_TRUE(back == in);
}

TEST(XpressHuffDecoder, ReproducesEveryWindowsRawStream) {
  XpressHuffDecoder decoder;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(test::SourcePath(kVectors + "windows-raw"))) {
    std::string name = entry.path().stem().string();
    Bytes packed = Vector("windows-raw/" + name + ".xpress");
    Bytes original = Vector("original/" + name);
    Bytes out(original.size());
    ASSERT_TRUE(decoder.DecompressRaw(packed.data(), packed.size(), out.data(), out.size())) << name;
    EXPECT_TRUE(out == original) << name;
    ++checked;
  }
  EXPECT_GE(checked, 40);
}

TEST(XpressHuffDecoder, ReadsWindowsContainer) {
  XpressHuffDecoder decoder;
  Bytes packed = Vector("api/999-bytes.api");
  Bytes original = Vector("api/999-bytes.original");
  Bytes out(4096);
  size_t produced = 0;
  ASSERT_TRUE(decoder.Decompress(packed.data(), packed.size(), out.data(), out.size(), &produced));
  ASSERT_EQ(produced, original.size());
  EXPECT_TRUE(std::equal(original.begin(), original.end(), out.begin()));
}

TEST(XpressHuffEncoder, WritesTheSameHeaderAsWindows) {
  XpressHuffEncoder encoder;
  Bytes original = Vector("api/999-bytes.original");
  Bytes windows = Vector("api/999-bytes.api");
  Bytes ours = CompressContainer(encoder, original);
  ASSERT_GE(ours.size(), 28u);
  EXPECT_TRUE(std::equal(windows.begin(), windows.begin() + 24, ours.begin()));
}

TEST(XpressHuffEncoder, StoresShortInputsLikeWindows) {
  XpressHuffEncoder encoder;
  Bytes in(300, 'a');
  Bytes packed = CompressContainer(encoder, in);
  const uint8_t header[] = {0x0a, 0x51, 0xe5, 0xc0, 0x18, 0x00, 0xe8, 0x04, 0x2c, 0x01, 0, 0, 0, 0, 0, 0,
                            0x2c, 0x01, 0,    0,    0,    0,    0,    0,    0x2c, 0x01, 0, 0};
  ASSERT_EQ(packed.size(), sizeof header + 300);
  EXPECT_EQ(0, std::memcmp(packed.data(), header, sizeof header));
  // One byte more is compressed: 301 equal bytes shrink to a fraction.
  Bytes longer(301, 'a');
  EXPECT_LT(CompressContainer(encoder, longer).size(), 301u);
}

TEST(XpressHuffEncoder, StoresIncompressibleRecordRaw) {
  XpressHuffEncoder encoder;
  Bytes in = RandomBytes(100000, 7);
  Bytes packed = CompressContainer(encoder, in);
  ASSERT_EQ(packed.size(), 24 + 4 + in.size());
  EXPECT_EQ(0, std::memcmp(packed.data() + 28, in.data(), in.size()));
}

TEST(XpressHuffEncoder, RejectsEmptyInputAndTooSmallCapacity) {
  XpressHuffEncoder encoder;
  Bytes in = RepetitiveText(5000);
  Bytes out(64);
  EXPECT_EQ(0u, encoder.Compress(in.data(), 0, out.data(), out.size()));
  EXPECT_EQ(0u, encoder.CompressRaw(in.data(), 0, out.data(), out.size()));
  EXPECT_EQ(0u, encoder.Compress(in.data(), in.size(), out.data(), out.size()));
  EXPECT_EQ(0u, encoder.CompressRaw(in.data(), in.size(), out.data(), out.size()));
}

TEST(XpressHuffCodec, RoundTripsGeneratedData) {
  const size_t kChunk = 4u << 20;
  ExpectContainerRoundTrip(Bytes(1, 'x'));
  ExpectContainerRoundTrip(RepetitiveText(300));
  ExpectContainerRoundTrip(RepetitiveText(301));
  ExpectContainerRoundTrip(RandomBytes(kChunk, 1));
  ExpectContainerRoundTrip(Bytes(kChunk, 0));
  ExpectContainerRoundTrip(Bytes(kChunk + 1, 0));
  ExpectContainerRoundTrip(RepetitiveText(kChunk));
  ExpectContainerRoundTrip(MixedData(kChunk + 1, 2));
}

TEST(XpressHuffCodec, RawStreamsRoundTripAtBlockEdges) {
  XpressHuffEncoder encoder;
  XpressHuffDecoder decoder;
  Bytes source = MixedData(200000, 3);
  for (size_t n : {1u, 2u, 3u, 4u, 65535u, 65536u, 65537u, 131072u, 131075u, 200000u}) {
    Bytes in(source.begin(), source.begin() + n);
    Bytes packed(n * 2 + 1024);
    size_t size = encoder.CompressRaw(in.data(), n, packed.data(), packed.size());
    ASSERT_GT(size, 0u) << n;
    Bytes back(n);
    ASSERT_TRUE(decoder.DecompressRaw(packed.data(), size, back.data(), n)) << n;
    EXPECT_TRUE(back == in) << n;
  }
}

TEST(XpressHuffCodec, ShortPeriodsAndRunsRoundTripAcrossBlockAndStreamEnds) {
  // Every period below 40 (near sources take their own copy path), runs that end just before, on and just after
  // a block's end and the stream's end, and literals between them; decoded into a buffer of exactly the size.
  std::mt19937 random(7);
  Bytes in;
  for (size_t period = 1; in.size() < 3 * 65536 + 5000; period = period % 40 + 1) {
    size_t length = 3 + random() % (period < 20 ? 40 : 400);
    for (size_t i = 0; i < 1 + random() % 5; ++i) in.push_back(static_cast<uint8_t>(random()));
    size_t start = in.size();
    for (size_t i = 0; i < period; ++i) in.push_back(static_cast<uint8_t>(random()));
    while (in.size() < start + period + length) in.push_back(in[in.size() - period]);
  }
  XpressHuffEncoder encoder;
  XpressHuffDecoder decoder;
  for (size_t n : {65534u, 65535u, 65536u, 65537u, 65550u, 131070u, 131090u, static_cast<unsigned>(in.size())}) {
    Bytes packed(n * 2 + 1024);
    size_t size = encoder.CompressRaw(in.data(), n, packed.data(), packed.size());
    ASSERT_GT(size, 0u) << n;
    std::unique_ptr<uint8_t[]> back(new uint8_t[n]);
    ASSERT_TRUE(decoder.DecompressRaw(packed.data(), size, back.get(), n)) << n;
    EXPECT_EQ(0, std::memcmp(back.get(), in.data(), n)) << n;
  }
}

TEST(XpressHuffEncoder, ReusedEncoderMatchesFreshOne) {
  // Leftovers of an earlier input must never leak into the next stream's matches.
  XpressHuffEncoder reused;
  Bytes first = MixedData(300000, 4);
  Bytes second = MixedData(150000, 5);
  CompressContainer(reused, first);
  Bytes again = CompressContainer(reused, second);
  XpressHuffEncoder fresh;
  EXPECT_TRUE(again == CompressContainer(fresh, second));
}

TEST(XpressHuffCodec, RoundTripsRealFilesInFourMebibyteChunks) {
  const char* folders[] = {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/lib/x86_64-linux-gnu"};
  std::vector<std::filesystem::path> files;
  for (const char* folder : folders) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      if (entry.is_regular_file(ec) && entry.file_size(ec) > 100000) files.push_back(entry.path());
    }
    if (!files.empty()) break;
  }
  if (files.empty()) GTEST_SKIP() << "no library folder on this machine";
  std::sort(files.begin(), files.end());
  Bytes all;
  for (const auto& f : files) {
    auto data = test::ReadWholeFile(f.string());
    all.insert(all.end(), data.begin(), data.end());
    if (all.size() >= (12u << 20)) break;
  }
  XpressHuffEncoder encoder;
  XpressHuffDecoder decoder;
  const size_t kChunk = 4u << 20;
  Bytes packed(kChunk + kChunk / 8 + 1024);
  Bytes back(kChunk);
  for (size_t at = 0; at < all.size(); at += kChunk) {
    size_t n = std::min(kChunk, all.size() - at);
    size_t size = encoder.Compress(all.data() + at, n, packed.data(), packed.size());
    ASSERT_GT(size, 0u);
    size_t produced = 0;
    ASSERT_TRUE(decoder.Decompress(packed.data(), size, back.data(), back.size(), &produced));
    ASSERT_EQ(produced, n);
    EXPECT_EQ(0, std::memcmp(back.data(), all.data() + at, n)) << "chunk at " << at;
  }
}

TEST(XpressHuffmanCode, LimitsSkewedFrequenciesToACompleteFifteenBitCode) {
  uint32_t freq[512] = {};
  uint32_t a = 1, b = 1;
  for (int s = 0; s < 40; ++s) {  // Fibonacci weights make an unlimited Huffman tree 39 levels deep
    freq[s * 7] = a;
    uint32_t c = a + b;
    a = b;
    b = c;
  }
  uint8_t lengths[512];
  xpress::BuildLimitedLengths(freq, 512, 15, lengths);
  uint32_t space = 0;
  for (int s = 0; s < 512; ++s) {
    EXPECT_EQ(freq[s] != 0, lengths[s] != 0) << s;
    EXPECT_LE(lengths[s], 15) << s;
    if (lengths[s] != 0) space += 1u << (15 - lengths[s]);
  }
  EXPECT_EQ(space, 1u << 15);
  EXPECT_LE(lengths[39 * 7], lengths[0]) << "the most frequent symbol must not get the longer code";
}

TEST(XpressHuffmanCode, PairsALoneSymbolWithADummy) {
  uint32_t freq[512] = {};
  freq[256] = 9;
  uint8_t lengths[512];
  xpress::BuildLimitedLengths(freq, 512, 15, lengths);
  EXPECT_EQ(lengths[256], 1);
  EXPECT_EQ(std::count(lengths, lengths + 512, 1), 2);
}

// --- malformed input -------------------------------------------------------------------------------------------

class XpressHuffMalformed : public ::testing::Test {
 protected:
  bool DecodeContainer(const Bytes& packed, size_t capacity = 4096) {
    Bytes out(capacity);
    size_t produced = 0;
    return decoder_.Decompress(packed.data(), packed.size(), out.data(), out.size(), &produced);
  }
  bool DecodeRaw(const Bytes& packed, size_t expected) {
    Bytes out(expected);
    return decoder_.DecompressRaw(packed.data(), packed.size(), out.data(), expected);
  }
  // One block whose only codes are symbols a and b, both 1 bit (a = 0, b = 1), followed by the given words.
  static Bytes TwoSymbolStream(int a, int b, std::initializer_list<uint16_t> words) {
    Bytes s(256, 0);
    for (int sym : {a, b}) s[sym / 2] |= static_cast<uint8_t>(1 << (4 * (sym % 2)));
    for (uint16_t w : words) {
      s.push_back(static_cast<uint8_t>(w));
      s.push_back(static_cast<uint8_t>(w >> 8));
    }
    return s;
  }
  Bytes windows_ = Vector("api/999-bytes.api");
  XpressHuffDecoder decoder_;
};

TEST_F(XpressHuffMalformed, ControlWindowsContainerIsAccepted) { EXPECT_TRUE(DecodeContainer(windows_)); }

TEST_F(XpressHuffMalformed, BadMagic) {
  windows_[0] ^= 1;
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, BadHeaderSize) {
  windows_[4] = 25;
  windows_[6] = CheckByte(windows_.data());
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, BadCheckByte) {
  windows_[6] ^= 0x40;
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, WrongAlgorithm) {
  windows_[7] = 3;
  windows_[6] = CheckByte(windows_.data());
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, ZeroChunkSize) {
  std::fill(windows_.begin() + 16, windows_.begin() + 24, 0);
  windows_[6] = CheckByte(windows_.data());
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, TotalAboveCapacity) { EXPECT_FALSE(DecodeContainer(windows_, 998)); }

TEST_F(XpressHuffMalformed, TruncatedRecord) {
  windows_.pop_back();
  EXPECT_FALSE(DecodeContainer(windows_));
  windows_.resize(26);  // not even the record's size field
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, LeftoverByte) {
  windows_.push_back(0);
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, RecordsProduceTooFewBytes) {
  // Claiming one byte more than the records hold: the next record size would be read past the end.
  windows_[8] = static_cast<uint8_t>(windows_[8] + 1);
  windows_[16] = windows_[8];
  windows_[6] = CheckByte(windows_.data());
  EXPECT_FALSE(DecodeContainer(windows_));
}

TEST_F(XpressHuffMalformed, IncompleteHuffmanCode) {
  Bytes good = TwoSymbolStream('A', 256, {0x4000, 0});  // A, then 3 more A's at offset 1
  ASSERT_TRUE(DecodeRaw(good, 4));
  Bytes missing = good;
  missing['A' / 2] = 0;  // only one 1-bit code left: half the code space is empty
  EXPECT_FALSE(DecodeRaw(missing, 4));
  Bytes all_zero = good;
  std::fill(all_zero.begin(), all_zero.begin() + 256, 0);
  EXPECT_FALSE(DecodeRaw(all_zero, 4));
  Bytes oversubscribed = good;
  oversubscribed['B' / 2] |= 0x01;  // a third 1-bit code cannot fit
  EXPECT_FALSE(DecodeRaw(oversubscribed, 4));
}

TEST_F(XpressHuffMalformed, OffsetBeyondProduced) {
  // Symbol 272 is a length-3 match with one offset bit: offset 2 or 3.
  EXPECT_TRUE(DecodeRaw(TwoSymbolStream('A', 272, {0x2000, 0}), 5));  // A A match(2)
  EXPECT_FALSE(DecodeRaw(TwoSymbolStream('A', 272, {0x4000, 0}), 4));  // A match(2): only 1 byte to copy from
  EXPECT_FALSE(DecodeRaw(TwoSymbolStream('A', 272, {0x8000, 0}), 3));  // match before any byte exists
}

TEST_F(XpressHuffMalformed, MatchPastExpectedEnd) {
  Bytes stream = TwoSymbolStream('A', 256, {0x4000, 0});
  EXPECT_TRUE(DecodeRaw(stream, 4));
  EXPECT_FALSE(DecodeRaw(stream, 3));
}

TEST_F(XpressHuffMalformed, TruncatedStream) {
  Bytes packed = Vector("windows-raw/and_rand.xpress");
  Bytes original = Vector("original/and_rand");
  ASSERT_TRUE(DecodeRaw(packed, original.size()));
  for (size_t keep : {size_t{0}, size_t{100}, size_t{256}, packed.size() / 2, packed.size() - 8}) {
    Bytes cut(packed.begin(), packed.begin() + keep);
    EXPECT_FALSE(DecodeRaw(cut, original.size())) << keep;
  }
}

TEST_F(XpressHuffMalformed, TruncatedLongLengthField) {
  // Symbol 271 has length field 15: the length continues in a byte after the loaded words, which is missing.
  Bytes stream = TwoSymbolStream('A', 271, {0x4000, 0});
  EXPECT_FALSE(DecodeRaw(stream, 40));
  stream.push_back(2);  // 15 + 3 + 2 = 20 bytes at offset 1
  EXPECT_TRUE(DecodeRaw(stream, 21));
}

}  // namespace
}  // namespace kestrova::xpress

namespace kestrova::xpress {
namespace {

TEST(XpressHuffEncoder, ReusedEncoderMatchesFreshOneAcrossStreamSizes) {
  // Tables sized for one stream must not carry positions, ring order or costs into a shorter or longer one.
  XpressHuffEncoder reused;
  Bytes big = MixedData(700000, 21);
  for (size_t n : {700000u, 1000u, 65536u, 4u, 300000u, 65537u}) {
    Bytes in(big.begin() + static_cast<ptrdiff_t>(700000 - n), big.end());
    Bytes packed(n * 2 + 1024);
    Bytes fresh_packed(n * 2 + 1024);
    size_t size = reused.CompressRaw(in.data(), n, packed.data(), packed.size());
    XpressHuffEncoder fresh;
    size_t fresh_size = fresh.CompressRaw(in.data(), n, fresh_packed.data(), fresh_packed.size());
    ASSERT_EQ(size, fresh_size) << n;
    EXPECT_EQ(0, std::memcmp(packed.data(), fresh_packed.data(), size)) << n;
  }
}

TEST(XpressHuffCodec, RunsLongerThanTheWindowRoundTripSmall) {
  XpressHuffDecoder decoder;
  XpressHuffEncoder encoder;
  Bytes in = RepetitiveText(1000);
  in.insert(in.end(), 200000, 0);
  in.insert(in.end(), 70000, 0xFF);
  Bytes tail = RepetitiveText(999);
  in.insert(in.end(), tail.begin(), tail.end());
  Bytes packed(in.size() + 1024);
  size_t size = encoder.CompressRaw(in.data(), in.size(), packed.data(), packed.size());
  ASSERT_GT(size, 0u);
  EXPECT_LT(size, 3000u);
  Bytes back(in.size());
  ASSERT_TRUE(decoder.DecompressRaw(packed.data(), size, back.data(), back.size()));
  EXPECT_TRUE(back == in);
}

}  // namespace
}  // namespace kestrova::xpress
