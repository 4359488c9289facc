// Cross-checks against wimlib's XPRESS codec, an independent implementation of the same single-block stream:
// it must decode what we write, and we must decode what it writes.
#include <gtest/gtest.h>
#include <wimlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "xpress/xpress_huff.h"
#include "support/test_paths.h"

namespace kestrova::xpress {
namespace {

using Bytes = std::vector<uint8_t>;

class XpressWimlib : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, wimlib_create_decompressor(WIMLIB_COMPRESSION_TYPE_XPRESS, 65536, &decompressor_));
    ASSERT_EQ(0, wimlib_create_compressor(WIMLIB_COMPRESSION_TYPE_XPRESS, 65536, 50, &compressor_));
  }
  void TearDown() override {
    wimlib_free_decompressor(decompressor_);
    wimlib_free_compressor(compressor_);
  }

  // Inputs of at most 64 KiB: one block, which is all wimlib reads.
  void ExpectBothDirections(const Bytes& in, const std::string& what) {
    SCOPED_TRACE(what + " (" + std::to_string(in.size()) + " bytes)");
    Bytes packed(in.size() + in.size() / 2 + 1024);
    size_t ours = encoder_.CompressRaw(in.data(), in.size(), packed.data(), packed.size());
    ASSERT_GT(ours, 0u);
    Bytes back(in.size());
    ASSERT_EQ(0, wimlib_decompress(packed.data(), ours, back.data(), back.size(), decompressor_))
        << "wimlib rejects our stream";
    EXPECT_TRUE(back == in) << "wimlib reads different bytes from our stream";

    size_t theirs = wimlib_compress(in.data(), in.size(), packed.data(), packed.size(), compressor_);
    if (theirs == 0) return;  // wimlib declines inputs it cannot shrink
    std::fill(back.begin(), back.end(), 0);
    ASSERT_TRUE(decoder_.DecompressRaw(packed.data(), theirs, back.data(), back.size())) << "we reject wimlib's";
    EXPECT_TRUE(back == in) << "we read different bytes from wimlib's stream";
  }

  wimlib_decompressor* decompressor_ = nullptr;
  wimlib_compressor* compressor_ = nullptr;
  XpressHuffEncoder encoder_;
  XpressHuffDecoder decoder_;
};

TEST_F(XpressWimlib, WindowsOriginalsUpToOneBlock) {
  int checked = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(test::SourcePath("src/xpress/testdata/xpress/original"))) {
    auto raw = test::ReadWholeFile(entry.path().string());
    if (raw.empty() || raw.size() > 65536) continue;
    ExpectBothDirections(Bytes(raw.begin(), raw.end()), entry.path().filename().string());
    ++checked;
  }
  EXPECT_GE(checked, 15);
}

TEST_F(XpressWimlib, GeneratedInputs) {
  std::mt19937 rng(11);
  Bytes random(65536);
  for (auto& b : random) b = static_cast<uint8_t>(rng());
  for (size_t n : {1u, 2u, 3u, 17u, 300u, 4096u, 65535u, 65536u}) {
    ExpectBothDirections(Bytes(random.begin(), random.begin() + n), "random");
    ExpectBothDirections(Bytes(n, 0), "zeros");
  }
  Bytes text;
  while (text.size() < 65536) {
    std::string line = "entry " + std::to_string(rng() % 5000) + " = value " + std::to_string(rng() % 97) + ";\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  text.resize(65536);
  ExpectBothDirections(text, "text");
  // Skewed bytes: a deep Huffman tree that must be cut down to 15 bits.
  Bytes skewed(65536);
  for (auto& b : skewed) b = static_cast<uint8_t>(__builtin_ctz(static_cast<uint32_t>(rng()) | 0x80000000u) * 7);
  ExpectBothDirections(skewed, "skewed");
}

TEST_F(XpressWimlib, RealFileBlocks) {
  const char* folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) GTEST_SKIP() << "no Wine DLL folder on this machine";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file(ec) || entry.file_size(ec) < 200000) continue;
    auto raw = test::ReadWholeFile(entry.path().string());
    for (size_t at = 0; at + 65536 <= raw.size() && at < (1u << 20); at += 65536 * 3) {
      ExpectBothDirections(Bytes(raw.begin() + at, raw.begin() + at + 65536), entry.path().filename().string());
    }
    if (++files == 4) break;
  }
}

}  // namespace
}  // namespace kestrova::xpress
