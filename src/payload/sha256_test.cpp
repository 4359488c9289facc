#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "payload/sha256.h"
#include "payload/manifest.h"
#include "payload/sha256_engine.h"

namespace kestrova::payload {
namespace {

std::string Hex(const Sha256Digest& digest) { return DigestHex(digest); }

struct Vector {
  std::string message;
  size_t repeat;
  const char* digest;
};

const Vector kVectors[] = {
    {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
     "nopqrstu",
     1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

std::string Expand(const Vector& v) {
  std::string text;
  text.reserve(v.message.size() * v.repeat);
  for (size_t i = 0; i < v.repeat; ++i) text += v.message;
  return text;
}

class Sha256EngineTest : public ::testing::TestWithParam<Sha256Variant> {
 protected:
  void SetUp() override {
    if (GetParam() == Sha256Variant::kShaExtensions && !CpuHasShaExtensions()) {
      GTEST_SKIP() << "this CPU has no SHA extensions";
    }
  }
};

TEST_P(Sha256EngineTest, UsesTheRequestedBlockFunction) {
  EXPECT_EQ(Sha256Engine(GetParam()).variant(), GetParam());
}

TEST_P(Sha256EngineTest, StandardVectors) {
  for (const Vector& v : kVectors) {
    Sha256Engine engine(GetParam());
    const std::string text = Expand(v);
    engine.Update(text.data(), text.size());
    EXPECT_EQ(Hex(engine.Finish()), v.digest) << v.message.substr(0, 20) << " x" << v.repeat;
  }
}

// Splits around the 55/56/64-byte padding boundaries and block edges must give the one-shot digest.
TEST_P(Sha256EngineTest, IncrementalEqualsOneShot) {
  std::vector<uint8_t> data(1000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
  for (const size_t total : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 127u, 128u, 129u, 1000u}) {
    Sha256Engine reference(Sha256Variant::kPortable);
    reference.Update(data.data(), total);
    const Sha256Digest expected = reference.Finish();
    for (const size_t step : {1u, 3u, 55u, 63u, 64u, 65u, 127u}) {
      Sha256Engine engine(GetParam());
      for (size_t at = 0; at < total; at += step) {
        const size_t n = total - at < step ? total - at : step;
        engine.Update(data.data() + at, n);
        engine.Update(data.data(), 0);
      }
      EXPECT_EQ(Hex(engine.Finish()), Hex(expected)) << "total " << total << " step " << step;
    }
  }
}

TEST_P(Sha256EngineTest, FinishResetsForTheNextMessage) {
  Sha256Engine engine(GetParam());
  engine.Update("xyz", 3);
  engine.Finish();
  engine.Update("abc", 3);
  EXPECT_EQ(Hex(engine.Finish()), kVectors[1].digest);
}

INSTANTIATE_TEST_SUITE_P(Variants, Sha256EngineTest,
                         ::testing::Values(Sha256Variant::kPortable, Sha256Variant::kShaExtensions),
                         [](const auto& info) {
                           return info.param == Sha256Variant::kPortable ? std::string("Portable")
                                                                         : std::string("ShaExtensions");
                         });

TEST(Sha256EngineVariantsTest, AgreeOnMultiBlockInput) {
  if (!CpuHasShaExtensions()) GTEST_SKIP() << "this CPU has no SHA extensions";
  std::vector<uint8_t> data(64 * 1024 + 17);
  uint32_t x = 12345;
  for (uint8_t& b : data) {
    x = x * 1103515245 + 12345;
    b = static_cast<uint8_t>(x >> 16);
  }
  Sha256Engine portable(Sha256Variant::kPortable);
  Sha256Engine fast(Sha256Variant::kShaExtensions);
  portable.Update(data.data(), data.size());
  fast.Update(data.data(), data.size());
  EXPECT_EQ(Hex(portable.Finish()), Hex(fast.Finish()));
}

// The accumulator the archive uses: CNG under Windows, the engine natively.
TEST(Sha256Test, StandardVectors) {
  for (const Vector& v : kVectors) {
    Sha256 accumulator;
    ASSERT_TRUE(accumulator.present());
    const std::string text = Expand(v);
    accumulator.Add(text.data(), text.size());
    Sha256Digest digest{};
    ASSERT_TRUE(accumulator.Finish(&digest));
    EXPECT_EQ(Hex(digest), v.digest);
  }
}

TEST(Sha256Test, PiecesEqualWhole) {
  const std::string text = Expand(kVectors[3]);
  Sha256 accumulator;
  accumulator.Add(text.data(), 5);
  accumulator.Add(text.data() + 5, 0);
  accumulator.Add(text.data() + 5, 60);
  accumulator.Add(text.data() + 65, text.size() - 65);
  Sha256Digest digest{};
  ASSERT_TRUE(accumulator.Finish(&digest));
  EXPECT_EQ(Hex(digest), kVectors[3].digest);
}

TEST(Sha256Test, SecondFinishFailsAndLeavesTheDigestAlone) {
  Sha256 accumulator;
  Sha256Digest digest{};
  ASSERT_TRUE(accumulator.Finish(&digest));
  EXPECT_EQ(Hex(digest), kVectors[0].digest);
  EXPECT_FALSE(accumulator.present());
  Sha256Digest untouched{};
  untouched[0] = 0x5A;
  accumulator.Add("abc", 3);
  EXPECT_FALSE(accumulator.Finish(&untouched));
  EXPECT_EQ(untouched[0], 0x5A);
}

}  // namespace
}  // namespace kestrova::payload
