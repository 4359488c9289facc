#include "payload/delta_patch.h"

#include <gtest/gtest.h>

#include <random>

namespace kestrova::payload {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

// Applies `patch` fed in pieces of `piece` bytes; the error text when it fails.
std::string Apply(const Bytes& base, const Bytes& patch, uint64_t targetSize, Bytes* out, size_t piece = 1000) {
  const BaseReader reader = [&base](uint64_t offset, uint8_t* buffer, size_t length) {
    EXPECT_LE(offset + length, base.size());
    std::copy(base.begin() + offset, base.begin() + offset + length, buffer);
    return true;
  };
  PatchDecoder decoder(reader, base.size(), targetSize, [out](const uint8_t* data, size_t length) {
    out->insert(out->end(), data, data + length);
    return true;
  });
  std::string error;
  for (size_t at = 0; at < patch.size(); at += piece) {
    if (!decoder.Feed(patch.data() + at, std::min(piece, patch.size() - at), &error)) return error;
  }
  return decoder.Finish(&error) ? "" : error;
}

TEST(DeltaPatchTest, EditsInsertionsAndMovesComeBackExactlyAndSmall) {
  const Bytes base = Random(300000, 1);
  Bytes target(base.begin(), base.begin() + 100000);         // a run kept in place
  target.push_back(0x42);                                      // an insertion
  target.insert(target.end(), base.begin() + 200000, base.end());   // a run moved forward
  target.insert(target.end(), base.begin() + 100000, base.begin() + 200000);  // and one moved back
  target[5000] ^= 0xFF;                                        // an edit inside a run
  const Bytes fresh = Random(5000, 2);
  target.insert(target.end(), fresh.begin(), fresh.end());     // new bytes at the end

  const Bytes patch = MakePatch(base.data(), base.size(), target.data(), target.size());
  EXPECT_LT(patch.size(), fresh.size() + 200);
  for (const size_t piece : {size_t{1}, size_t{7}, patch.size()}) {
    Bytes out;
    EXPECT_EQ(Apply(base, patch, target.size(), &out, piece), "");
    EXPECT_EQ(out, target) << "pieces of " << piece;
  }
}

TEST(DeltaPatchTest, ARunWithScatteredChangesIsOneDifferenceNotManyPieces) {
  const Bytes base = Random(200000, 6);
  Bytes target = base;
  for (size_t at = 1000; at < target.size(); at += 40) target[at] ^= 0x10;  // a changed address every 40 bytes
  const Bytes patch = MakePatch(base.data(), base.size(), target.data(), target.size());
  EXPECT_LT(patch.size(), target.size() + 20) << "one DIFF: the changes cost their positions, not a copy each";
  Bytes out;
  EXPECT_EQ(Apply(base, patch, target.size(), &out, 333), "");
  EXPECT_EQ(out, target);
}

TEST(DeltaPatchTest, EmptyAndTinyInputsAreNewBytes) {
  for (const auto& [base, target] : {std::pair{Bytes{}, Random(100, 3)}, std::pair{Random(100, 3), Bytes{}},
                                     std::pair{Random(7, 4), Random(7, 4)}}) {
    const Bytes patch = MakePatch(base.data(), base.size(), target.data(), target.size());
    Bytes out;
    EXPECT_EQ(Apply(base, patch, target.size(), &out), "");
    EXPECT_EQ(out, target);
  }
}

TEST(DeltaPatchTest, ACorruptPatchIsNamedAndNeverReadsOutsideTheBase) {
  const Bytes base = Random(100, 5);
  const struct {
    Bytes patch;
    uint64_t targetSize;
    const char* error;
  } cases[] = {
      {{0x00}, 1, "corrupt patch: an operation of length 0"},
      {{0x07}, 1, "corrupt patch: operation kind 3"},
      {{0x08, 'a', 'b'}, 1, "corrupt patch: output past the target's size"},
      {{0x08, 'a', 'b'}, 2, ""},
      {{0x08, 'a'}, 2, "corrupt patch: it ends inside an operation"},
      {{0x05}, 1, "corrupt patch: it ends inside an operation"},
      {{0x0A, 0x00, 0x01}, 2, "corrupt patch: it ends inside an operation"},
      {{0x91, 0x03, 0xC6, 0x01}, 100, "corrupt patch: a copy outside the base"},  // 100 bytes from 99
      {{0x91, 0x03, 0x00}, 100, ""},                                           // 100 bytes from 0
      {{0x05, 0x01}, 1, "corrupt patch: a copy outside the base"},              // 1 byte from -1
      {{0x05, 0xC6, 0x01}, 1, ""},                                              // 1 byte from 99
      {{0x05, 0xC8, 0x01}, 1, "corrupt patch: a copy outside the base"},        // 1 byte from 100
      {{0x0A, 0xC4, 0x01, 0x01, 0xFF}, 2, ""},                                  // 2 bytes from 98, changed
      {{0x0A, 0xC6, 0x01, 0x01, 0xFF}, 2, "corrupt patch: a copy outside the base"},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}, 1, "corrupt patch: a varint longer than 10 bytes"},
      {{0x04, 'a'}, 2, "corrupt patch: it makes 1 bytes, not 2"},
  };
  for (const auto& c : cases) {
    Bytes out;
    EXPECT_EQ(Apply(base, c.patch, c.targetSize, &out), c.error) << testing::PrintToString(c.patch);
  }
  Bytes out;
  ASSERT_EQ(Apply(base, {0x0A, 0xC4, 0x01, 0x01, 0xFF}, 2, &out), "");
  EXPECT_EQ(out, (Bytes{uint8_t(base[98] + 1), uint8_t(base[99] - 1)}));
}

}  // namespace
}  // namespace kestrova::payload
