#include "payload/hash_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "payload/command_test_support_win32.h"
#include "payload/write_entry.h"

namespace kestrova::payload {
namespace {

using test::Bytes;
using test::ScratchFolder;

void ExpectHashOf(const Bytes& content) {
  ScratchFolder scratch;
  const WideString path = scratch / L"f.bin";
  ASSERT_TRUE(test::WriteBytes(path, content));
  uint64_t length = 12345;
  Sha256Digest digest{};
  ASSERT_TRUE(HashFile(path, &length, &digest));
  EXPECT_EQ(length, content.size());
  EXPECT_EQ(digest, test::DigestOf(content));
}

TEST(HashFileTest, EmptyFile) { ExpectHashOf({}); }
TEST(HashFileTest, ExactlyOneBuffer) { ExpectHashOf(test::Incompressible(1048576, 1)); }
TEST(HashFileTest, OneByteMoreThanABuffer) { ExpectHashOf(test::Incompressible(1048577, 2)); }
TEST(HashFileTest, SeveralBuffers) { ExpectHashOf(test::Incompressible(3 * 1048576 + 17, 3)); }

TEST(HashFileTest, TheExpectedLengthOnlySizesTheFirstRead) {
  test::ScratchFolder scratch;
  FileHasher hasher;
  for (const auto& [size, expected] : {std::pair<size_t, uint64_t>{0, 0}, {10, 3}, {10, 4000}, {1048577, 1048575},
                                      {1048577, 1048576}, {1048576, 0}}) {
    const Bytes content = test::Incompressible(size, expected);
    ASSERT_TRUE(test::WriteBytes(scratch / L"f.bin", content));
    uint64_t length = 0;
    Sha256Digest digest{};
    EXPECT_TRUE(hasher.Hash(scratch / L"f.bin", &length, &digest, expected)) << size << " " << expected;
    EXPECT_EQ(length, content.size()) << expected;
    EXPECT_EQ(digest, test::DigestOf(content)) << expected;
  }
}

TEST(HashFileTest, MissingFileAndFolderFail) {
  ScratchFolder scratch;
  uint64_t length = 0;
  Sha256Digest digest{};
  EXPECT_FALSE(HashFile(scratch / L"missing", &length, &digest));
  EXPECT_FALSE(HashFile(scratch.Path(), &length, &digest));
}

TEST(HashFileTest, OneHasherServesManyFiles) {
  ScratchFolder scratch;
  FileHasher hasher;
  for (int i = 0; i < 3; ++i) {
    const Bytes content = test::Incompressible(1000 + 600000 * i, 10 + i);
    const WideString path = scratch / (L"f" + std::to_wstring(i));
    ASSERT_TRUE(test::WriteBytes(path, content));
    uint64_t length = 0;
    Sha256Digest digest{};
    ASSERT_TRUE(hasher.Hash(path, &length, &digest));
    EXPECT_EQ(length, content.size());
    EXPECT_EQ(digest, test::DigestOf(content));
  }
}

TEST(FileMatchesEntryTest, SizeDigestAndKindMustAllAgree) {
  ScratchFolder scratch;
  const Bytes content = {'a', 'b', 'c'};
  const WideString path = scratch / L"f";
  ASSERT_TRUE(test::WriteBytes(path, content));
  Entry entry{"f", 3, test::DigestOf(content)};
  EXPECT_TRUE(FileMatchesEntry(path, entry));
  Entry longer = entry;
  longer.size = 4;
  EXPECT_FALSE(FileMatchesEntry(path, longer));
  Entry otherDigest = entry;
  otherDigest.sha256[0] ^= 1;
  EXPECT_FALSE(FileMatchesEntry(path, otherDigest));
  EXPECT_FALSE(FileMatchesEntry(scratch / L"missing", entry));
  Entry emptyEntry{"d", 0, test::DigestOf({})};
  EXPECT_FALSE(FileMatchesEntry(scratch.Path(), emptyEntry));
}

}  // namespace
}  // namespace kestrova::payload
