#include "drivers/certificate.h"

#include <gtest/gtest.h>

namespace kestrova::drivers {
namespace {

TEST(ThumbprintTextTest, UpperCaseHexTwoDigitsPerByte) {
  const unsigned char hash[20] = {0x00, 0x01, 0x0a, 0xff, 0x10, 0xab, 0xcd, 0xef, 0x90, 0x09,
                                  0x7f, 0x80, 0x5a, 0xa5, 0x12, 0x34, 0x56, 0x78, 0x9b, 0xc0};
  EXPECT_EQ(ThumbprintText(hash, sizeof hash), "00010AFF10ABCDEF9009" "7F805AA5123456789BC0");
  EXPECT_EQ(ThumbprintText(hash, 0), "");
}

}  // namespace
}  // namespace kestrova::drivers
