#include "payload/byte_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kestrova::payload {
namespace {

// Holds `length` bytes and lists the length of every read asked of it; reads fail once `failAt` reads were made.
class AskingSource final : public ByteSource {
 public:
  explicit AskingSource(size_t length, size_t failAt = 99) : length_(length), failAt_(failAt) {}
  bool Read(void* buffer, size_t length, size_t* got) override {
    asked.push_back(length);
    if (asked.size() > failAt_) return false;
    *got = std::min(length, length_ - position_);
    std::fill_n(static_cast<uint8_t*>(buffer), *got, uint8_t{7});
    position_ += *got;
    return true;
  }
  std::vector<size_t> asked;

 private:
  size_t length_;
  size_t position_ = 0;
  size_t failAt_;
};

TEST(ByteStreamTest, ReadSizedAsksForTheExpectedLengthAndOneByteMore) {
  constexpr size_t kCapacity = 16;
  const struct {
    size_t length;
    uint64_t expected;
    std::vector<size_t> asked;
    size_t got;
  } rows[] = {
      {5, 5, {6}, 5},          {5, 4, {5, 11}, 5},       {5, 6, {7}, 5},
      {0, 0, {1}, 0},          {20, 14, {15, 1}, 16},    {20, 15, {16}, 16},
      {20, 16, {16}, 16},      {20, UINT64_MAX, {16}, 16},
  };
  for (const auto& row : rows) {
    AskingSource source(row.length);
    uint8_t buffer[kCapacity + 1] = {};
    size_t got = 0;
    EXPECT_TRUE(ReadSized(source, buffer, kCapacity, row.expected, &got));
    EXPECT_EQ(source.asked, row.asked) << row.length << " " << row.expected;
    EXPECT_EQ(got, row.got) << row.length << " " << row.expected;
    EXPECT_EQ(buffer[kCapacity], 0) << "wrote past the capacity";
  }
  for (size_t failAt : {0, 1}) {
    AskingSource source(20, failAt);
    uint8_t buffer[kCapacity];
    size_t got = 0;
    EXPECT_FALSE(ReadSized(source, buffer, kCapacity, 4, &got)) << failAt;
  }
}

}  // namespace
}  // namespace kestrova::payload
