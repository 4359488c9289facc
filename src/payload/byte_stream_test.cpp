#include "payload/byte_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kestrova::payload {
namespace {

// Holds `length` bytes and lists the length of every read asked of it; the second read fails when told to.
struct AskingSource final : ByteSource {
  AskingSource(size_t length, bool failSecond) : length(length), failSecond(failSecond) {}
  bool Read(void*, size_t ask, size_t* got) override {
    asked.push_back(ask);
    *got = std::min(ask, length - position);
    position += *got;
    return !(failSecond && asked.size() == 2);
  }
  size_t length, position = 0;
  bool failSecond;
  std::vector<size_t> asked;
};

TEST(ByteStreamTest, ReadSizedAsksForTheExpectedLengthAndOneByteMore) {
  const struct {
    size_t length;
    uint64_t expected;
    std::vector<size_t> asked;
    size_t got;
  } rows[] = {{5, 5, {6}, 5},        {5, 4, {5, 11}, 5},    {5, 6, {7}, 5},   {0, 0, {1}, 0},
              {20, 14, {15, 1}, 16}, {20, 15, {16}, 16},    {20, 16, {16}, 16}, {20, UINT64_MAX, {16}, 16}};
  for (const auto& row : rows) {
    AskingSource source(row.length, false);
    uint8_t buffer[16];
    size_t got = 0;
    EXPECT_TRUE(ReadSized(source, buffer, sizeof buffer, row.expected, &got));
    EXPECT_EQ(source.asked, row.asked) << row.length << " " << row.expected;
    EXPECT_EQ(got, row.got) << row.length << " " << row.expected;
  }
  AskingSource failing(20, true);
  uint8_t buffer[16];
  size_t got = 0;
  EXPECT_FALSE(ReadSized(failing, buffer, sizeof buffer, 4, &got));
}

}  // namespace
}  // namespace kestrova::payload
