// Reads an archive front to back from a ByteSource: the file header, then each record and its chunks,
// checking every chunk's framing and every entry's SHA-256, then the end record's count. It does not write
// files or decide where content goes (that is the DataCallback's business) and does not own the source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/byte_stream.h"
#include "payload/chunk_codec.h"
#include "payload/delta_archive.h"
#include "payload/sha256.h"

namespace kestrova::payload {

class DecodeAhead;

// The numbers are fixed.
enum class RecordOutcome : int {
  kEntry = 0,      // a file record was read into the Entry
  kEnd = 1,        // the end record was read, its count matched and nothing follows it
  kFailure = 2,    // the error text says why
  kReference = 3,  // delta only: the Entry's content is base file delta().baseIndex
  kPatch = 4,      // delta only: ReadPatch delivers the patch that makes it from base file delta().baseIndex
};

// Receives each chunk's content in order; false means the receiver could not take it.
using DataCallback = std::function<bool(const uint8_t* data, size_t length)>;

class Reader {
 public:
  // Allocates two 4 MiB buffers and a 64 KiB read-ahead (zero-filled, reused for every chunk) and creates the XPRESS_HUFF
  // decompressor; a failure is reported by ReadHeader. The source must outlive the Reader.
  explicit Reader(ByteSource& source);
  // Takes the decompressor to use; null stands for one that could not be created.
  Reader(ByteSource& source, std::unique_ptr<ChunkDecompressor> decompressor);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Lets ReadHeader take a delta update; call before it. Only a command with an installed version to apply it to
  // does.
  void AcceptDelta() { acceptDelta_ = true; }

  // Call once, first. Failures: "could not create the XPRESS_HUFF decompressor", "not a payload archive",
  // "unsupported payload format version <n>", "a delta update, which needs the installed version it was made from:
  // stage applies it" (version 2 without AcceptDelta); for a delta, also the base record's: "corrupt base record",
  // "archive truncated in the base record", "unsafe path '<path>'".
  bool ReadHeader(std::string* error);

  // After a successful ReadHeader: from here on, chunks are decompressed on `workers` threads ahead of the entry the
  // caller is at (see decode_ahead.h), with the same outcomes, texts and content as without. False, reading on
  // alone, for 0 workers or when a decompressor or the buffers cannot be had.
  bool UseWorkers(unsigned workers);

  // After ReadHeader: whether this is a delta, and its base record.
  bool isDelta() const { return isDelta_; }
  const Sha256Digest& baseId() const { return baseId_; }
  const std::vector<BaseFile>& baseFiles() const { return baseFiles_; }
  // After NextRecord returned kReference or kPatch.
  const DeltaRecord& delta() const;

  // After kPatch: reads the patch's chunks, handing each chunk's content to `onData`. Proves nothing: the patched
  // content is proven against the entry by whoever applies it. Failures as ReadData's, but never a SHA-256 mismatch.
  bool ReadPatch(const Entry& entry, const DataCallback& onData, std::string* error);

  // Only after a successful ReadHeader. Reads the next record. On kEntry, *entry holds a path that passed IsSafeRelativePath, and ReadData must
  // be called for it before the next NextRecord. Failures: "archive truncated: no end record",
  // "end record says <n> files, read <m>", "trailing bytes after the end record", "corrupt record header",
  // "archive truncated in a record header", "unsafe path '<path>'". After kEnd or kFailure the Reader is
  // not used again.
  RecordOutcome NextRecord(Entry* entry, std::string* error);

  // Only after a successful ReadHeader. Reads the chunks of the entry NextRecord just returned, handing each chunk's content to `onData` (may be
  // empty: content is then only checked). Content is delivered before it is proven: only a true result
  // proves it matches the entry's SHA-256. Failures: "archive truncated in '<path>'", "corrupt chunk header
  // in '<path>'", "corrupt stored chunk in '<path>'", "corrupt compressed chunk in '<path>'",
  // "unknown codec <n> in '<path>'", "could not write '<path>'", "SHA-256 mismatch in '<path>'".
  bool ReadData(const Entry& entry, const DataCallback& onData, std::string* error);

  // File records whose header has been read.
  uint64_t entriesRead() const;

  // Makes the Reader ready for another archive from wherever its source now stands, as if newly constructed
  // but keeping its buffers and decompressor: for a caller that reads many archives in a row (the fuzz target
  // does, where building 8 MiB of buffers per archive would dominate).
  void Restart();

 private:
  friend class DecodeAhead;
  struct ChunkHeader {
    uint32_t rawLength = 0;
    uint32_t storedLength = 0;
    uint8_t codec = 0;
  };

  RecordOutcome ReadRecord(Entry* entry, std::string* error);
  // A chunk's header, checked against the `remaining` content of `path`; then its stored bytes into `buffer`.
  bool ReadChunkHeader(const std::string& path, uint64_t remaining, ChunkHeader* header, std::string* error);
  bool ReadChunkBytes(const std::string& path, const ChunkHeader& header, uint8_t* buffer, std::string* error);
  // One Read of `length` bytes; true only when all of them arrived. *got tells how many did (0 on failure).
  bool ReadExactly(void* buffer, size_t length, size_t* got);
  bool ReadBaseRecord(std::string* error);
  // Chunks adding up to `total` bytes of content, hashed into `accumulator` when there is one.
  bool ReadChunks(const std::string& path, uint64_t total, Sha256* accumulator, const DataCallback& onData,
                  std::string* error);

  ByteSource& source_;
  std::unique_ptr<ChunkDecompressor> decompressor_;
  ZeroedBuffer input_;
  ZeroedBuffer output_;
  uint64_t entriesRead_ = 0;
  // Read ahead of the record headers (see ReadExactly).
  static constexpr size_t kReadAheadLength = 65536;
  ZeroedBuffer ahead_;
  size_t aheadPosition_ = 0;
  size_t aheadLength_ = 0;
  bool sourceEnded_ = false;
  bool acceptDelta_ = false;
  bool isDelta_ = false;
  Sha256Digest baseId_{};
  std::vector<BaseFile> baseFiles_;
  DeltaRecord delta_;
  std::unique_ptr<DecodeAhead> decodeAhead_;
};

}  // namespace kestrova::payload
