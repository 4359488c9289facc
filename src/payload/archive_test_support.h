// Helpers shared by the archive tests: digests, whole-archive writing and reading over memory streams, and
// byte-level builders for hand-made (often broken) archives. Test code only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/archive_reader.h"
#include "payload/archive_writer.h"
#include "payload/memory_streams.h"
#include "payload/sha256_engine.h"

namespace kestrova::payload::test {

using Bytes = std::vector<uint8_t>;

inline Sha256Digest DigestOf(const Bytes& data) {
  Sha256Engine engine(Sha256Variant::kPortable);
  engine.Update(data.data(), data.size());
  return engine.Finish();
}

inline Bytes Incompressible(size_t length, uint64_t seed) {
  Bytes data(length);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (uint8_t& b : data) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<uint8_t>(x >> 24);
  }
  return data;
}

inline Bytes Compressible(size_t length) {
  static const char kText[] = "the quick brown fox jumps over the lazy dog; ";
  Bytes data(length);
  for (size_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(kText[i % (sizeof kText - 1)] + (i / 4096) % 3);
  return data;
}

struct File {
  std::string path;
  Bytes content;
};

// Header, one AddFile per file, end record. Fails the calling test on any error.
inline Bytes WriteArchive(const std::vector<File>& files) {
  MemorySink sink;
  Writer writer(sink);
  EXPECT_TRUE(writer.HasCompressor());
  EXPECT_TRUE(WriteArchiveHeader(sink));
  for (const File& f : files) {
    MemorySource source(f.content);
    std::string error;
    EXPECT_TRUE(writer.AddFile(f.path, f.content.size(), DigestOf(f.content), source, &error)) << error;
  }
  EXPECT_TRUE(writer.Finish(nullptr));
  EXPECT_TRUE(WriteEndRecord(sink, writer.entriesWritten()));
  return sink.bytes();
}

struct ReadResult {
  std::vector<File> files;
  std::string error;  // empty when the archive read through to "end"
};

// Reads a whole archive with content delivered to memory; stops at the first failure.
inline ReadResult ReadArchive(const Bytes& archive, std::unique_ptr<ChunkDecompressor> decompressor) {
  ReadResult result;
  MemorySource source(archive);
  Reader reader(source, std::move(decompressor));
  if (!reader.ReadHeader(&result.error)) return result;
  while (true) {
    Entry entry;
    const RecordOutcome outcome = reader.NextRecord(&entry, &result.error);
    if (outcome == RecordOutcome::kEnd) return result;
    if (outcome != RecordOutcome::kEntry) return result;
    File file{entry.path, {}};
    const bool ok = reader.ReadData(
        entry,
        [&](const uint8_t* data, size_t n) {
          file.content.insert(file.content.end(), data, data + n);
          return true;
        },
        &result.error);
    if (!ok) return result;
    result.files.push_back(std::move(file));
  }
}

inline ReadResult ReadArchive(const Bytes& archive) { return ReadArchive(archive, CreateChunkDecompressor()); }

// Byte builders for hand-made archives.
inline void Put(Bytes& out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void PutHeader(Bytes& out, uint32_t version = kArchiveVersion) {
  out.insert(out.end(), {'K', 'V', 'P', '1'});
  Put(out, version, 4);
}

inline void PutRecord(Bytes& out, const std::string& path, uint64_t size, const Sha256Digest& sha256) {
  out.push_back(kTagFile);
  Put(out, path.size(), 2);
  out.insert(out.end(), path.begin(), path.end());
  Put(out, size, 8);
  out.insert(out.end(), sha256.begin(), sha256.end());
}

inline void PutChunkHeader(Bytes& out, uint32_t rawLength, uint32_t storedLength, uint8_t codec) {
  Put(out, rawLength, 4);
  Put(out, storedLength, 4);
  out.push_back(codec);
}

inline void PutStoredChunk(Bytes& out, const Bytes& content) {
  PutChunkHeader(out, static_cast<uint32_t>(content.size()), static_cast<uint32_t>(content.size()), kCodecStored);
  out.insert(out.end(), content.begin(), content.end());
}

inline void PutEnd(Bytes& out, uint64_t fileCount) {
  out.push_back(kTagEnd);
  Put(out, fileCount, 8);
}

}  // namespace kestrova::payload::test
