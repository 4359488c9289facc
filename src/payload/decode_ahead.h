// Decoding ahead for the Reader: while the caller writes one entry, worker threads decompress the chunks of the
// entries after it, and hash a chunk that is a whole entry. The Reader's own thread still reads the source and parses
// every record and chunk header, so the source is read by one thread only and every failure keeps its text and its
// place in the archive. Knows nothing of files; the Reader is its only user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/archive_reader.h"
#include "payload/chunk_codec.h"
#include "payload/delta_archive.h"
#include "payload/sha256.h"
#include "payload/slot_workers.h"

namespace kestrova::payload {

class DecodeAhead {
 public:
  // One worker per decompressor (none may be null) and two chunk slots more than workers, each with a
  // kMaxChunkLength input and output buffer: with four workers at most 48 MiB, touched only as far as chunks fill them.
  DecodeAhead(Reader& reader, std::vector<std::unique_ptr<ChunkDecompressor>> decompressors);
  // Stops the workers once their current chunk is done.
  ~DecodeAhead();
  DecodeAhead(const DecodeAhead&) = delete;
  DecodeAhead& operator=(const DecodeAhead&) = delete;

  // False when a slot's buffers could not be allocated; the Reader then reads on without it.
  bool usable() const { return usable_; }

  // The Reader's NextRecord, ReadData and ReadPatch, with the same outcomes and texts in the same order.
  RecordOutcome NextRecord(Entry* entry, std::string* error);
  bool ReadData(const Entry& entry, const DataCallback& onData, std::string* error);
  bool ReadPatch(const Entry& entry, const DataCallback& onData, std::string* error);

  // As of the record NextRecord last returned, not of how far parsing has gone ahead.
  uint64_t entriesRead() const { return entriesRead_; }
  const DeltaRecord& delta() const { return delta_; }

 private:
  struct Slot {
    ZeroedBuffer input;
    ZeroedBuffer output;
    uint32_t rawLength = 0;
    uint32_t storedLength = 0;
    bool compressed = false;
    bool hashWhole = false;  // the chunk is a whole entry: the worker hashes it
    bool ok = false;
    bool hashed = false;
    Sha256Digest digest{};
  };
  // One parsed step, in archive order: a record, a chunk in a slot, or a failure met between them.
  struct Item {
    enum class Kind { kRecord, kChunk, kFailure } kind = Kind::kRecord;
    RecordOutcome outcome = RecordOutcome::kFailure;
    Entry entry;
    DeltaRecord delta;
    uint64_t entriesRead = 0;
    size_t slot = 0;
    std::string error;
  };
  enum class ParseState { kRecord, kChunks, kDone };

  static void Decode(Slot& slot, ChunkDecompressor& decompressor);
  // Parses ahead until the queue is full, no slot is free, or the archive ended or failed.
  void Fill();
  bool ParseStep();
  // Reads the content of the entry or patch at the front of the queue; *digest is set when a worker hashed it whole.
  bool ReadChunks(const std::string& path, uint64_t total, std::optional<Sha256>* accumulator,
                  const DataCallback& onData, bool* workerHashed, Sha256Digest* digest, std::string* error);

  // Records without content (a delta's references) take no slot; this bounds how many wait in the queue.
  static constexpr size_t kMaxQueuedItems = 256;
  static constexpr uint32_t kInlineChunkLength = 65536;

  Reader& reader_;
  std::vector<std::unique_ptr<ChunkDecompressor>> decompressors_;
  std::vector<Slot> slots_;
  std::deque<Item> items_;
  ParseState parse_ = ParseState::kRecord;
  std::string parsePath_;
  uint64_t parseRemaining_ = 0;
  bool parseWhole_ = false;
  uint64_t entriesRead_ = 0;
  DeltaRecord delta_;
  bool usable_ = true;
  SlotWorkers workers_;  // last: its threads stop before the slots and decompressors go
};

}  // namespace kestrova::payload
