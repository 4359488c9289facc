#include <gtest/gtest.h>

#include "payload/archive_test_support.h"

namespace kestrova::payload {
namespace {

using test::Bytes;

// An archive holding file 'a' with the given content as one stored chunk, without its end record.
Bytes StoredEntry(const Bytes& content) {
  Bytes out;
  test::PutHeader(out);
  test::PutRecord(out, "a", content.size(), test::DigestOf(content));
  if (!content.empty()) test::PutStoredChunk(out, content);
  return out;
}

std::string ReadError(const Bytes& archive) { return test::ReadArchive(archive).error; }

// "Decompresses" by inverting every byte into the same length, so the Reader's own checks can be driven with
// any storedLength, independently of the real codec.
class InvertingDecompressor final : public ChunkDecompressor {
 public:
  explicit InvertingDecompressor(size_t shortBy = 0) : shortBy_(shortBy) {}
  bool Decompress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    if (length > capacity) return false;
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(~in[i]);
    *produced = length - shortBy_;
    return true;
  }

 private:
  size_t shortBy_;
};

TEST(ArchiveReaderTest, EmptyArchiveReadsAsEnd) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutEnd(archive, 0);
  ASSERT_EQ(archive.size(), 17u);
  MemorySource source(archive);
  Reader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadHeader(&error)) << error;
  Entry entry;
  EXPECT_EQ(reader.NextRecord(&entry, &error), RecordOutcome::kEnd);
  EXPECT_EQ(reader.entriesRead(), 0u);
}

TEST(ArchiveReaderTest, OutcomeNumbersAreFixed) {
  EXPECT_EQ(static_cast<int>(RecordOutcome::kEntry), 0);
  EXPECT_EQ(static_cast<int>(RecordOutcome::kEnd), 1);
  EXPECT_EQ(static_cast<int>(RecordOutcome::kFailure), 2);
}

TEST(ArchiveReaderTest, HeaderFaults) {
  EXPECT_EQ(ReadError({'K', 'V', 'P'}), "not a payload archive");
  EXPECT_EQ(ReadError({}), "not a payload archive");
  EXPECT_EQ(ReadError({'K', 'V', 'P', '2', 1, 0, 0, 0}), "not a payload archive");
  Bytes v2;
  test::PutHeader(v2, 2);
  test::PutEnd(v2, 0);
  // A delta is refused by what it is unless the reader's user has a base to apply it to.
  EXPECT_EQ(ReadError(v2), "a delta update, which needs the installed version it was made from: stage applies it");
  Bytes v3;
  test::PutHeader(v3, 3);
  test::PutEnd(v3, 0);
  EXPECT_EQ(ReadError(v3), "unsupported payload format version 3");
  // A version cut short counts its missing bytes as zero.
  EXPECT_EQ(ReadError({'K', 'V', 'P', '1', 5, 1}), "unsupported payload format version 261");
  EXPECT_EQ(ReadError({'K', 'V', 'P', '1', 1}), "unsupported payload format version 1");
  EXPECT_EQ(ReadError({'K', 'V', 'P', '1'}), "unsupported payload format version 0");
}

TEST(ArchiveReaderTest, MissingDecompressorIsReportedFirst) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutEnd(archive, 0);
  EXPECT_EQ(test::ReadArchive(archive, nullptr).error, "could not create the XPRESS_HUFF decompressor");
}

TEST(ArchiveReaderTest, SourceFailureInTheHeader) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutEnd(archive, 0);
  MemorySource source(archive);
  source.FailReadsBeyond(2);
  Reader reader(source);
  std::string error;
  EXPECT_FALSE(reader.ReadHeader(&error));
  EXPECT_EQ(error, "not a payload archive");
}

TEST(ArchiveReaderTest, EndRecordFaults) {
  Bytes twoFiles = StoredEntry({'1'});
  test::PutRecord(twoFiles, "b", 0, test::DigestOf({}));
  Bytes threeClaimed = twoFiles;
  test::PutEnd(threeClaimed, 3);
  EXPECT_EQ(ReadError(threeClaimed), "end record says 3 files, read 2");

  Bytes trailing = twoFiles;
  test::PutEnd(trailing, 2);
  EXPECT_EQ(ReadError(trailing), "");
  trailing.push_back(0);
  EXPECT_EQ(ReadError(trailing), "trailing bytes after the end record");

  // A count cut short is reported as far as it arrived.
  Bytes cut = twoFiles;
  cut.insert(cut.end(), {0, 2, 0, 0});
  EXPECT_EQ(ReadError(cut), "end record says 2 files, read 2");

  EXPECT_EQ(ReadError(twoFiles), "archive truncated: no end record");
}

TEST(ArchiveReaderTest, SourceFailureAfterTheEndRecordIsTrailingBytes) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutEnd(archive, 0);
  MemorySource source(archive);
  source.FailReadsBeyond(archive.size());
  Reader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadHeader(&error));
  Entry entry;
  EXPECT_EQ(reader.NextRecord(&entry, &error), RecordOutcome::kFailure);
  EXPECT_EQ(error, "trailing bytes after the end record");
}

TEST(ArchiveReaderTest, RecordHeaderFaults) {
  Bytes badTag;
  test::PutHeader(badTag);
  badTag.push_back(2);
  EXPECT_EQ(ReadError(badTag), "corrupt record header");

  for (const uint16_t length : {uint16_t{0}, uint16_t{1025}, uint16_t{0xFFFF}}) {
    Bytes archive;
    test::PutHeader(archive);
    archive.push_back(kTagFile);
    test::Put(archive, length, 2);
    archive.insert(archive.end(), 1100, 'a');
    EXPECT_EQ(ReadError(archive), "corrupt record header") << length;
  }
  Bytes shortLength;
  test::PutHeader(shortLength);
  shortLength.insert(shortLength.end(), {kTagFile, 1});
  EXPECT_EQ(ReadError(shortLength), "corrupt record header");

  const Bytes whole = StoredEntry({});
  for (size_t cut = kFileHeaderLength + 3; cut < whole.size(); ++cut) {
    EXPECT_EQ(ReadError(Bytes(whole.begin(), whole.begin() + cut)), "archive truncated in a record header") << cut;
  }
}

TEST(ArchiveReaderTest, UnsafeStoredPathIsRejected) {
  for (const std::string path : {"../x", "a\\b", "/abs", "nul"}) {
    Bytes archive;
    test::PutHeader(archive);
    test::PutRecord(archive, path, 0, test::DigestOf({}));
    test::PutEnd(archive, 1);
    EXPECT_EQ(ReadError(archive), "unsafe path '" + path + "'");
  }
}

TEST(ArchiveReaderTest, ChunkHeaderFaults) {
  struct Case {
    uint32_t raw;
    uint32_t stored;
  };
  // The entry claims 10 bytes.
  for (const Case c : {Case{0, 1}, Case{4194305, 1}, Case{11, 11}, Case{5, 0}, Case{5, 6}}) {
    Bytes archive;
    test::PutHeader(archive);
    test::PutRecord(archive, "a", 10, test::DigestOf(Bytes(10, 'x')));
    test::PutChunkHeader(archive, c.raw, c.stored, kCodecStored);
    archive.insert(archive.end(), 20, 'x');
    test::PutEnd(archive, 1);
    EXPECT_EQ(ReadError(archive), "corrupt chunk header in 'a'") << c.raw << " " << c.stored;
  }
  // A later chunk may not exceed what is still missing.
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 10, test::DigestOf(Bytes(10, 'x')));
  test::PutStoredChunk(archive, Bytes(6, 'x'));
  test::PutStoredChunk(archive, Bytes(5, 'x'));
  test::PutEnd(archive, 1);
  EXPECT_EQ(ReadError(archive), "corrupt chunk header in 'a'");
}

TEST(ArchiveReaderTest, UnknownCodec) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 3, test::DigestOf({1, 2, 3}));
  test::PutChunkHeader(archive, 3, 3, 2);
  archive.insert(archive.end(), {1, 2, 3});
  test::PutEnd(archive, 1);
  EXPECT_EQ(ReadError(archive), "unknown codec 2 in 'a'");
}

TEST(ArchiveReaderTest, TruncationInsideChunks) {
  const Bytes content = {'c', 'o', 'n', 't', 'e', 'n', 't'};
  const Bytes whole = StoredEntry(content);
  const size_t chunkAt = whole.size() - content.size() - kChunkHeaderLength;
  for (size_t cut = chunkAt; cut < chunkAt + kChunkHeaderLength; ++cut) {
    EXPECT_EQ(ReadError(Bytes(whole.begin(), whole.begin() + cut)), "archive truncated in 'a'") << cut;
  }
  for (size_t cut = chunkAt + kChunkHeaderLength; cut < whole.size(); ++cut) {
    EXPECT_EQ(ReadError(Bytes(whole.begin(), whole.begin() + cut)), "corrupt stored chunk in 'a'") << cut;
  }
  EXPECT_EQ(ReadError(whole), "archive truncated: no end record");
}

TEST(ArchiveReaderTest, StoredChunkMustStoreItsRawLength) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 4, test::DigestOf({1, 2, 3, 4}));
  test::PutChunkHeader(archive, 4, 3, kCodecStored);
  archive.insert(archive.end(), {1, 2, 3, 4});
  test::PutEnd(archive, 1);
  EXPECT_EQ(ReadError(archive), "corrupt stored chunk in 'a'");
}

TEST(ArchiveReaderTest, CompressedChunkAsLongAsItsContentIsAccepted) {
  const Bytes content = {10, 20, 30, 40};
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 4, test::DigestOf(content));
  test::PutChunkHeader(archive, 4, 4, kCodecXpressHuff);
  for (const uint8_t b : content) archive.push_back(static_cast<uint8_t>(~b));
  test::PutEnd(archive, 1);
  const test::ReadResult read = test::ReadArchive(archive, std::make_unique<InvertingDecompressor>());
  EXPECT_EQ(read.error, "");
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_TRUE(read.files[0].content == content);

  // The same chunk decoding to one byte less is corrupt.
  EXPECT_EQ(test::ReadArchive(archive, std::make_unique<InvertingDecompressor>(1)).error,
            "corrupt compressed chunk in 'a'");
  // Cut inside the payload.
  EXPECT_EQ(test::ReadArchive(Bytes(archive.begin(), archive.end() - 11), std::make_unique<InvertingDecompressor>())
                .error,
            "corrupt compressed chunk in 'a'");
}

TEST(ArchiveReaderTest, GarbageCompressedChunkIsCorrupt) {
  const Bytes content(1000, 'q');
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", content.size(), test::DigestOf(content));
  test::PutChunkHeader(archive, 1000, 40, kCodecXpressHuff);
  archive.insert(archive.end(), 40, 0xFF);
  test::PutEnd(archive, 1);
  EXPECT_EQ(ReadError(archive), "corrupt compressed chunk in 'a'");
}

TEST(ArchiveReaderTest, ContentThatDoesNotMatchItsDigest) {
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "a", 3, test::DigestOf({'a', 'b', 'c'}));
  test::PutStoredChunk(archive, {'a', 'b', 'd'});
  test::PutEnd(archive, 1);
  EXPECT_EQ(ReadError(archive), "SHA-256 mismatch in 'a'");

  // An empty entry must carry the digest of empty input.
  Bytes empty;
  test::PutHeader(empty);
  test::PutRecord(empty, "a", 0, test::DigestOf({'x'}));
  test::PutEnd(empty, 1);
  EXPECT_EQ(ReadError(empty), "SHA-256 mismatch in 'a'");
}

TEST(ArchiveReaderTest, CallbackRefusalAndEmptyCallback) {
  const Bytes content = test::Compressible(15);
  Bytes archive;
  test::PutHeader(archive);
  test::PutRecord(archive, "p", content.size(), test::DigestOf(content));
  test::PutStoredChunk(archive, Bytes(content.begin(), content.begin() + 10));
  test::PutStoredChunk(archive, Bytes(content.begin() + 10, content.end()));
  test::PutEnd(archive, 1);
  MemorySource source(archive);
  Reader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadHeader(&error));
  Entry entry;
  ASSERT_EQ(reader.NextRecord(&entry, &error), RecordOutcome::kEntry);
  EXPECT_EQ(entry.path, "p");
  EXPECT_EQ(entry.size, content.size());
  EXPECT_EQ(entry.sha256, test::DigestOf(content));
  EXPECT_EQ(reader.entriesRead(), 1u);
  int calls = 0;
  EXPECT_FALSE(reader.ReadData(entry, [&](const uint8_t*, size_t) { return ++calls < 2; }, &error));
  EXPECT_EQ(error, "could not write 'p'");
  EXPECT_EQ(calls, 2);

  MemorySource again(archive);
  Reader checker(again);
  ASSERT_TRUE(checker.ReadHeader(nullptr));
  ASSERT_EQ(checker.NextRecord(&entry, nullptr), RecordOutcome::kEntry);
  EXPECT_TRUE(checker.ReadData(entry, DataCallback(), nullptr));
  EXPECT_EQ(checker.NextRecord(&entry, nullptr), RecordOutcome::kEnd);
}

TEST(ArchiveReaderTest, SourceFailureInsideData) {
  const Bytes content = test::Incompressible(5000, 3);
  const Bytes archive = test::WriteArchive({{"p", content}});
  MemorySource source(archive);
  source.FailReadsBeyond(archive.size() - 100);
  Reader reader(source);
  std::string error;
  ASSERT_TRUE(reader.ReadHeader(&error));
  Entry entry;
  ASSERT_EQ(reader.NextRecord(&entry, &error), RecordOutcome::kEntry);
  EXPECT_FALSE(reader.ReadData(entry, DataCallback(), &error));
  EXPECT_EQ(error, "corrupt stored chunk in 'p'");
}

TEST(ArchiveReaderTest, RestartReadsAnotherArchiveAsIfNew) {
  const Bytes first = test::WriteArchive({{"a", {'1'}}, {"b", {'2'}}});
  Bytes second;
  test::PutHeader(second);
  test::PutEnd(second, 0);
  MemorySource source(first);
  Reader reader(source);
  Entry entry;
  ASSERT_TRUE(reader.ReadHeader(nullptr));
  ASSERT_EQ(reader.NextRecord(&entry, nullptr), RecordOutcome::kEntry);
  ASSERT_EQ(reader.entriesRead(), 1u);

  source.Reset(second.data(), second.size());
  reader.Restart();
  EXPECT_EQ(reader.entriesRead(), 0u);
  std::string error;
  ASSERT_TRUE(reader.ReadHeader(&error)) << error;
  EXPECT_EQ(reader.NextRecord(&entry, &error), RecordOutcome::kEnd) << error;
}

}  // namespace
}  // namespace kestrova::payload

namespace kestrova::payload {
namespace {

// A delta's header: the base record with `count` as its number of files, then `files` base files ("b0", "b1", ...).
Bytes DeltaHeader(uint32_t count, uint32_t files) {
  Bytes out;
  test::PutHeader(out, kArchiveVersionDelta);
  out.push_back(kTagBase);
  out.insert(out.end(), 32, 0xAB);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(count >> (8 * i)));
  for (uint32_t i = 0; i < files; ++i) {
    const std::string path = "b" + std::to_string(i);
    out.push_back(static_cast<uint8_t>(path.size()));
    out.push_back(0);
    out.insert(out.end(), path.begin(), path.end());
    out.insert(out.end(), 40, 0);
  }
  return out;
}

// The outcome of the first record after a delta header with two base files: a reference to base file `index`.
RecordOutcome ReferenceTo(uint32_t index, std::string* error) {
  Bytes archive = DeltaHeader(2, 2);
  archive.push_back(kTagReference);
  archive.insert(archive.end(), {1, 0, 'f'});
  archive.insert(archive.end(), 40, 0);
  for (int i = 0; i < 4; ++i) archive.push_back(static_cast<uint8_t>(index >> (8 * i)));
  MemorySource source(archive);
  Reader reader(source);
  reader.AcceptDelta();
  if (!reader.ReadHeader(error)) return RecordOutcome::kFailure;
  Entry entry;
  return reader.NextRecord(&entry, error);
}

TEST(ArchiveReaderTest, BaseRecordBoundsAndBaseIndexBound) {
  const struct {
    Bytes archive;
    const char* error;
  } rows[] = {
      {DeltaHeader(kMaxBaseFiles + 1, 0), "corrupt base record"},
      {DeltaHeader(kMaxBaseFiles, 0), "archive truncated in the base record"},
      {DeltaHeader(1, 1), ""},
  };
  for (const auto& row : rows) {
    MemorySource source(row.archive);
    Reader reader(source);
    reader.AcceptDelta();
    std::string error;
    EXPECT_EQ(reader.ReadHeader(&error), row.error[0] == '\0') << row.error;
    EXPECT_EQ(error, row.error);
  }
  std::string error;
  EXPECT_EQ(ReferenceTo(1, &error), RecordOutcome::kReference) << error;
  EXPECT_EQ(ReferenceTo(2, &error), RecordOutcome::kFailure);
  EXPECT_EQ(error, "corrupt record header");
}

}  // namespace
}  // namespace kestrova::payload
