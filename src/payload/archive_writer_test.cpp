#include <gtest/gtest.h>

#include "payload/archive_test_support.h"

namespace kestrova::payload {
namespace {

using test::Bytes;
using test::File;

struct ChunkInfo {
  uint32_t rawLength;
  uint32_t storedLength;
  uint8_t codec;
};

// Walks a well-formed archive and lists each file's chunk headers, independently of the Reader.
std::vector<std::vector<ChunkInfo>> ChunksOf(const Bytes& archive) {
  std::vector<std::vector<ChunkInfo>> files;
  size_t at = kFileHeaderLength;
  while (archive.at(at) == kTagFile) {
    const size_t pathLength = LoadLittleEndian(&archive.at(at + 1), 2);
    uint64_t remaining = LoadLittleEndian(&archive.at(at + 3 + pathLength), 8);
    at += kRecordHeaderFixedLength + pathLength;
    files.emplace_back();
    while (remaining > 0) {
      ChunkInfo c{static_cast<uint32_t>(LoadLittleEndian(&archive.at(at), 4)),
                  static_cast<uint32_t>(LoadLittleEndian(&archive.at(at + 4), 4)), archive.at(at + 8)};
      files.back().push_back(c);
      at += kChunkHeaderLength + c.storedLength;
      remaining -= c.rawLength;
    }
  }
  EXPECT_EQ(archive.size(), at + kEndRecordLength);
  return files;
}

TEST(ArchiveWriterTest, EmptyArchiveIsSeventeenBytes) {
  const Bytes archive = test::WriteArchive({});
  const Bytes expected = {'K', 'V', 'P', '1', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(archive, expected);
  const test::ReadResult read = test::ReadArchive(archive);
  EXPECT_EQ(read.error, "");
  EXPECT_TRUE(read.files.empty());
}

TEST(ArchiveWriterTest, RoundTripOfSeveralEntries) {
  const std::vector<File> files = {
      {"empty.txt", {}},
      {"dir/one-chunk.bin", test::Compressible(kMaxChunkLength)},
      {"dir/sub/two-chunks.bin", test::Compressible(kMaxChunkLength + 1)},
      {"random.bin", test::Incompressible(100000, 1)},
      {"tiny", {'x'}},
      {"\xc3\xa9t\xc3\xa9/\xe6\x97\xa5\xe6\x9c\xac.txt", test::Compressible(5000)},
  };
  const Bytes archive = test::WriteArchive(files);
  const test::ReadResult read = test::ReadArchive(archive);
  EXPECT_EQ(read.error, "");
  ASSERT_EQ(read.files.size(), files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(read.files[i].path, files[i].path);
    EXPECT_TRUE(read.files[i].content == files[i].content) << files[i].path;
  }

  const auto chunks = ChunksOf(archive);
  ASSERT_EQ(chunks.size(), files.size());
  EXPECT_TRUE(chunks[0].empty());
  ASSERT_EQ(chunks[1].size(), 1u);
  EXPECT_EQ(chunks[1][0].rawLength, kMaxChunkLength);
  EXPECT_EQ(chunks[1][0].codec, kCodecXpressHuff);
  EXPECT_LT(chunks[1][0].storedLength, chunks[1][0].rawLength);
  ASSERT_EQ(chunks[2].size(), 2u);
  EXPECT_EQ(chunks[2][0].rawLength, kMaxChunkLength);
  EXPECT_EQ(chunks[2][1].rawLength, 1u);
  // One byte cannot shrink: stored.
  EXPECT_EQ(chunks[2][1].codec, kCodecStored);
  EXPECT_EQ(chunks[2][1].storedLength, 1u);
}

TEST(ArchiveWriterTest, IncompressibleDataIsStored) {
  const Bytes content = test::Incompressible(1000000, 7);
  const Bytes archive = test::WriteArchive({{"noise", content}, {"n", {0x42}}});
  const auto chunks = ChunksOf(archive);
  ASSERT_EQ(chunks.size(), 2u);
  ASSERT_EQ(chunks[0].size(), 1u);
  ASSERT_EQ(chunks[1].size(), 1u);
  EXPECT_EQ(chunks[1][0].codec, kCodecStored);
  for (const ChunkInfo& c : chunks[0]) {
    EXPECT_EQ(c.codec, kCodecStored);
    EXPECT_EQ(c.storedLength, c.rawLength);
  }
  // The stored payload is the content itself.
  const size_t firstPayload = kFileHeaderLength + kRecordHeaderFixedLength + 5 + kChunkHeaderLength;
  EXPECT_TRUE(std::equal(content.begin(), content.begin() + 4096, archive.begin() + firstPayload));
  const test::ReadResult read = test::ReadArchive(archive);
  ASSERT_EQ(read.files.size(), 2u);
  EXPECT_TRUE(read.files[0].content == content);
}

TEST(ArchiveWriterTest, RecordHeaderLayout) {
  const Bytes content = {'h', 'i'};
  const Bytes archive = test::WriteArchive({{"a/b", content}});
  Bytes expected;
  test::PutHeader(expected);
  test::PutRecord(expected, "a/b", 2, test::DigestOf(content));
  test::PutStoredChunk(expected, content);
  test::PutEnd(expected, 1);
  EXPECT_EQ(archive, expected);
}

TEST(ArchiveWriterTest, LongestSafePathIsAcceptedAndOneMoreByteIsNot) {
  const std::string longest(kMaxPathLength, 'p');
  const Bytes content = {'z'};
  const Bytes archive = test::WriteArchive({{longest, content}});
  const test::ReadResult read = test::ReadArchive(archive);
  EXPECT_EQ(read.error, "");
  ASSERT_EQ(read.files.size(), 1u);
  EXPECT_EQ(read.files[0].path, longest);

  MemorySink sink;
  Writer writer(sink);
  MemorySource source(content);
  std::string error;
  const std::string tooLong(kMaxPathLength + 1, 'p');
  EXPECT_FALSE(writer.AddFile(tooLong, 1, test::DigestOf(content), source, &error));
  EXPECT_EQ(error, "unsafe path '" + tooLong + "'");
  EXPECT_TRUE(sink.bytes().empty());
  EXPECT_EQ(writer.entriesWritten(), 0u);
}

TEST(ArchiveWriterTest, UnsafePathWritesNothing) {
  MemorySink sink;
  Writer writer(sink);
  MemorySource source(nullptr, 0);
  std::string error;
  EXPECT_FALSE(writer.AddFile("a/../b", 0, test::DigestOf({}), source, &error));
  EXPECT_EQ(error, "unsafe path 'a/../b'");
  EXPECT_TRUE(sink.bytes().empty());
}

TEST(ArchiveWriterTest, SourceShorterThanSize) {
  const Bytes content = test::Compressible(100);
  MemorySink sink;
  Writer writer(sink);
  MemorySource source(content);
  std::string error;
  EXPECT_FALSE(writer.AddFile("p", 101, test::DigestOf(content), source, &error));
  EXPECT_EQ(error, "'p' is shorter than its size");
  EXPECT_EQ(writer.entriesWritten(), 0u);
}

TEST(ArchiveWriterTest, FailingSourceReadsAsShorterThanItsSize) {
  const Bytes content = test::Compressible(kMaxChunkLength + 10);
  MemorySink sink;
  Writer writer(sink);
  MemorySource source(content);
  source.FailReadsBeyond(kMaxChunkLength + 5);
  std::string error;
  EXPECT_FALSE(writer.AddFile("p", content.size(), test::DigestOf(content), source, &error));
  EXPECT_EQ(error, "'p' is shorter than its size");
}

TEST(ArchiveWriterTest, ContentThatHashesDifferentlyChangedWhileBeingPacked) {
  Bytes content = test::Compressible(3000);
  const Sha256Digest before = test::DigestOf(content);
  content[1234] ^= 1;
  MemorySink sink;
  Writer writer(sink);
  MemorySource source(content);
  std::string error;
  EXPECT_FALSE(writer.AddFile("p", content.size(), before, source, &error));
  EXPECT_EQ(error, "'p' changed while being packed");
  EXPECT_EQ(writer.entriesWritten(), 0u);
}

TEST(ArchiveWriterTest, EverySinkFailureIsWriteFailed) {
  const Bytes content = test::Compressible(30000);
  MemorySink full;
  {
    Writer writer(full);
    MemorySource source(content);
    ASSERT_TRUE(writer.AddFile("p", content.size(), test::DigestOf(content), source, nullptr));
  }
  // Fail inside and at the edges of each write: the record header (44 bytes), the chunk header, the payload.
  for (size_t limit : {size_t{0}, size_t{10}, size_t{47}, size_t{50}, size_t{100}, full.bytes().size() - 1}) {
    MemorySink sink;
    sink.FailWritesBeyond(limit);
    Writer writer(sink);
    MemorySource source(content);
    std::string error;
    EXPECT_FALSE(writer.AddFile("p", content.size(), test::DigestOf(content), source, &error)) << limit;
    EXPECT_EQ(error, "write failed") << limit;
    EXPECT_EQ(writer.entriesWritten(), 0u);
  }
}

TEST(ArchiveWriterTest, ErrorTextIsOptional) {
  MemorySink sink;
  Writer writer(sink);
  MemorySource source(nullptr, 0);
  EXPECT_FALSE(writer.AddFile("", 0, test::DigestOf({}), source, nullptr));
  EXPECT_TRUE(writer.AddFile("e", 0, test::DigestOf({}), source, nullptr));
  EXPECT_EQ(writer.entriesWritten(), 1u);
}

class FailingCompressor final : public ChunkCompressor {
 public:
  bool Compress(const uint8_t*, size_t, uint8_t*, size_t, size_t*) override { return false; }
};

// A compressor that reports success with the data not made smaller must not produce a codec 1 chunk.
class NoGainCompressor final : public ChunkCompressor {
 public:
  bool Compress(const uint8_t* in, size_t length, uint8_t* out, size_t capacity, size_t* produced) override {
    if (length > capacity) return false;
    std::copy(in, in + length, out);
    *produced = length;
    return true;
  }
};

TEST(ArchiveWriterTest, CompressorThatFailsOrGainsNothingGivesStoredChunks) {
  const Bytes content = test::Compressible(20000);
  std::vector<std::unique_ptr<ChunkCompressor>> compressors;
  compressors.push_back(std::make_unique<FailingCompressor>());
  compressors.push_back(std::make_unique<NoGainCompressor>());
  for (auto& compressor : compressors) {
    MemorySink sink;
    Writer writer(sink, std::move(compressor));
    ASSERT_TRUE(WriteArchiveHeader(sink));
    MemorySource source(content);
    ASSERT_TRUE(writer.AddFile("p", content.size(), test::DigestOf(content), source, nullptr));
    ASSERT_TRUE(WriteEndRecord(sink, writer.entriesWritten()));
    const auto chunks = ChunksOf(sink.bytes());
    ASSERT_EQ(chunks.size(), 1u);
    ASSERT_EQ(chunks[0].size(), 1u);
    EXPECT_EQ(chunks[0][0].codec, kCodecStored);
    EXPECT_EQ(chunks[0][0].storedLength, 20000u);
  }
}

TEST(ArchiveWriterTest, MissingCompressorIsVisibleToTheUser) {
  MemorySink sink;
  Writer writer(sink, nullptr);
  EXPECT_FALSE(writer.HasCompressor());
  EXPECT_TRUE(sink.bytes().empty());
}

// Files of every shape the pipeline meets: many that fit one chunk, empty ones between them, several chunks.
std::vector<File> PipelineFiles() {
  std::vector<File> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back({"small/" + std::to_string(i), test::Compressible(1000 + 7919 * i)});
    if (i % 4 == 0) files.push_back({"empty/" + std::to_string(i), {}});
  }
  // More small files in a row than the pipeline queues before it writes out (4 MiB).
  for (int i = 0; i < 90; ++i) files.push_back({"many/" + std::to_string(i), test::Incompressible(50000, i)});
  // Each side of the length that joins a batch of small chunks.
  files.push_back({"bound/batched", test::Compressible(ChunkPipeline::kMaxSmallChunk)});
  files.push_back({"bound/alone", test::Compressible(ChunkPipeline::kMaxSmallChunk + 1)});
  files.push_back({"big/three-chunks.bin", test::Compressible(2 * kMaxChunkLength + 3)});
  files.push_back({"big/random.bin", test::Incompressible(kMaxChunkLength + 1, 9)});
  files.push_back({"last", {'z'}});
  return files;
}

TEST(ArchiveWriterTest, WorkersWriteTheSameBytesAsOneThread) {
  const std::vector<File> files = PipelineFiles();
  const Bytes single = test::WriteArchive(files);
  for (unsigned workers : {2u, 3u}) {
    MemorySink sink;
    Writer writer(sink, workers);
    ASSERT_TRUE(writer.HasCompressor());
    ASSERT_TRUE(WriteArchiveHeader(sink));
    for (const File& f : files) {
      MemorySource source(f.content);
      std::string error;
      ASSERT_TRUE(writer.AddFile(f.path, f.content.size(), test::DigestOf(f.content), source, &error)) << error;
    }
    ASSERT_TRUE(writer.Finish(nullptr));
    ASSERT_TRUE(WriteEndRecord(sink, writer.entriesWritten()));
    EXPECT_TRUE(sink.bytes() == single) << workers;
  }
}

TEST(ArchiveWriterTest, WorkersReportEverySinkFailureAndStop) {
  const std::vector<File> files = PipelineFiles();
  const Bytes single = test::WriteArchive(files);
  for (size_t limit : {size_t{0}, size_t{100}, size_t{30000}, single.size() / 2, single.size() - 40}) {
    MemorySink sink;
    sink.FailWritesBeyond(limit);
    Writer writer(sink, 2);
    bool ok = true;
    std::string error;
    for (const File& f : files) {
      MemorySource source(f.content);
      ok = writer.AddFile(f.path, f.content.size(), test::DigestOf(f.content), source, &error);
      if (!ok) break;
    }
    if (ok) ok = writer.Finish(&error);
    EXPECT_FALSE(ok) << limit;
    EXPECT_EQ(error, "write failed") << limit;
    EXPECT_LE(sink.bytes().size(), limit);
  }
}

TEST(ArchiveWriterTest, WorkersLeaveNothingBehindAfterASourceFails) {
  // The writer is dropped with chunks still in flight: its workers must stop and nothing is written late.
  const Bytes content = test::Compressible(3 * kMaxChunkLength);
  MemorySink sink;
  {
    Writer writer(sink, 2);
    MemorySource source(content);
    source.FailReadsBeyond(2 * kMaxChunkLength + 10);
    std::string error;
    EXPECT_FALSE(writer.AddFile("p", content.size(), test::DigestOf(content), source, &error));
    EXPECT_EQ(error, "'p' is shorter than its size");
  }
  // Whatever went out before the failure is a prefix of the good archive's record, in order.
  MemorySink good;
  {
    Writer writer(good);
    MemorySource source(content);
    ASSERT_TRUE(writer.AddFile("p", content.size(), test::DigestOf(content), source, nullptr));
  }
  ASSERT_LE(sink.bytes().size(), good.bytes().size());
  EXPECT_TRUE(std::equal(sink.bytes().begin(), sink.bytes().end(), good.bytes().begin()));
}

}  // namespace
}  // namespace kestrova::payload
