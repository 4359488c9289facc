#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "payload/chunk_codec.h"
#include "payload/wine_detect_win32.h"

namespace kestrova::payload {
namespace {

// Wine aborts the process when CreateCompressor is called, so merely getting here after creating both codecs
// shows the factories stayed away from the Compression API; the round trip shows what they gave works.
TEST(ChunkCodecWin32Test, UnderWineTheFactoriesUseOurCodec) {
  if (!IsRunningUnderWine()) GTEST_SKIP() << "not running under Wine";
  auto compressor = CreateChunkCompressor();
  auto decompressor = CreateChunkDecompressor();
  ASSERT_NE(compressor, nullptr);
  ASSERT_NE(decompressor, nullptr);

  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>("wine and cabinet.dll "[i % 21]);
  std::vector<uint8_t> packed(data.size() * 2 + 64), unpacked(data.size());
  size_t packedLength = 0, unpackedLength = 0;
  ASSERT_TRUE(compressor->Compress(data.data(), data.size(), packed.data(), packed.size(), &packedLength));
  EXPECT_LT(packedLength, data.size());

  auto ours = CreatePortableChunkCompressor();
  std::vector<uint8_t> reference(packed.size());
  size_t referenceLength = 0;
  ASSERT_TRUE(ours->Compress(data.data(), data.size(), reference.data(), reference.size(), &referenceLength));
  EXPECT_TRUE(std::equal(packed.begin(), packed.begin() + packedLength, reference.begin(),
                         reference.begin() + referenceLength));

  ASSERT_TRUE(decompressor->Decompress(packed.data(), packedLength, unpacked.data(), unpacked.size(),
                                       &unpackedLength));
  EXPECT_EQ(unpackedLength, data.size());
  EXPECT_TRUE(unpacked == data);
}

}  // namespace
}  // namespace kestrova::payload
