#include "payload/archive_pin.h"

#include <gtest/gtest.h>

#include <vector>

#include "payload/memory_streams.h"

namespace kestrova::payload {
namespace {

const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kMismatch = "the archive in C:\\p.msi does not match the digest the package carries";

TEST(ParseArchiveDigestTest, OnlySixtyFourHexDigitsInEitherCase) {
  const struct {
    std::string text;
    std::optional<std::string> digest;
  } cases[] = {
      {kAbc, kAbc},
      {"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", kAbc},
      {kAbc.substr(1), std::nullopt},
      {kAbc + "0", std::nullopt},
      {"", std::nullopt},  // the package's property left empty
      // The characters just outside each range of digits, and its last digit.
      {"/" + kAbc.substr(1), std::nullopt},
      {":" + kAbc.substr(1), std::nullopt},
      {"@" + kAbc.substr(1), std::nullopt},
      {"G" + kAbc.substr(1), std::nullopt},
      {"`" + kAbc.substr(1), std::nullopt},
      {"g" + kAbc.substr(1), std::nullopt},
      {"9" + kAbc.substr(1), "9" + kAbc.substr(1)},
      {"F" + kAbc.substr(1), "f" + kAbc.substr(1)},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseArchiveDigest(c.text), c.digest) << c.text;
}

TEST(CheckPinnedArchiveTest, EveryByteCountsUpToTheEndOfALongSource) {
  // One byte past a whole number of the check's reads: the last byte alone must change the verdict.
  const std::string whole = "54ee86addafa96efebf6ea851e26f523c2e6dab06c80b1e69375b75cbc11ad28";
  std::vector<uint8_t> bytes((1u << 20) + 1, 0x5a);
  MemorySource source(bytes);
  EXPECT_EQ(CheckPinnedArchive(source, whole, "C:\\p.msi"), "");
  EXPECT_EQ(source.position(), 0u) << "read again from its start";
  bytes.pop_back();
  MemorySource shorter(bytes);
  EXPECT_EQ(CheckPinnedArchive(shorter, whole, "C:\\p.msi"), kMismatch);
}

}  // namespace
}  // namespace kestrova::payload
