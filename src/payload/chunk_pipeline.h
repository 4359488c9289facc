// Compresses chunks on worker threads, each with a compressor of its own, and writes them to the sink in the
// order they were handed over, each after the bytes queued before it. Small chunks travel in batches, many to a
// slot, so that a tree of small files costs a hand-over per batch, not per file. Owns its threads and one input and
// one output buffer per slot; it knows the chunk framing but nothing of files, paths or digests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "payload/archive_format.h"
#include "payload/byte_stream.h"
#include "payload/chunk_codec.h"
#include "payload/slot_workers.h"

namespace kestrova::payload {

// Writes one chunk record: the compressed form when the compressor succeeded and it is smaller, else the data
// stored. False when the sink fails.
bool WriteChunkRecord(ByteSink& sink, const uint8_t* data, size_t length, const uint8_t* compressed,
                      size_t compressedLength, bool compressedOk);

class ChunkPipeline {
 public:
  // One worker per compressor (none may be null); one slot more than workers, so that one chunk can be read
  // while every worker is busy. The sink must outlive the pipeline.
  ChunkPipeline(ByteSink& sink, std::vector<std::unique_ptr<ChunkCompressor>> compressors);
  // Stops the workers once their current chunk is done; whatever was not written yet is dropped.
  ~ChunkPipeline();
  ChunkPipeline(const ChunkPipeline&) = delete;
  ChunkPipeline& operator=(const ChunkPipeline&) = delete;

  // False when a slot's buffers could not be allocated; the pipeline must then not be used.
  bool usable() const { return usable_; }

  // Bytes that go out after every chunk submitted so far and before the next one. Once kMaxPendingBytes are queued,
  // everything in flight and the queue are written out before it returns. False once a write failed.
  bool QueueBytes(const uint8_t* data, size_t length);
  static constexpr size_t kMaxPendingBytes = 4u << 20;

  // A buffer of kMaxChunkLength bytes for the next chunk's content. Writes out finished chunks, oldest first,
  // waiting for the oldest when no slot is free. Null once a write failed.
  uint8_t* NextInput();

  // Hands the chunk in the buffer the last NextInput returned, `length` bytes (1..kMaxChunkLength), to a worker.
  void Submit(size_t length);

  // Copies a chunk of 1..kMaxSmallChunk bytes into the batch being gathered, behind the bytes queued before it; the
  // batch goes to a worker once the next chunk would not fit, or before anything that must follow it. False once a
  // write failed.
  bool AddSmallChunk(const uint8_t* data, size_t length);
  static constexpr size_t kMaxSmallChunk = 65536;

  // Waits for every chunk and writes everything still queued, in order. False when any write failed.
  bool Flush();

 private:
  // One chunk of a slot: its content at `offset` in the input, its compressed form at the same offset in the output.
  struct Piece {
    size_t beforeEnd = 0;  // the piece's queued bytes are before[previous piece's beforeEnd, beforeEnd)
    size_t offset = 0;
    size_t length = 0;
    size_t compressed = 0;
    bool compressedOk = false;
  };
  struct Slot {
    ZeroedBuffer input;
    ZeroedBuffer output;
    std::vector<Piece> pieces;
    size_t used = 0;              // input bytes the pieces take
    std::vector<uint8_t> before;  // bytes queued ahead of the pieces
  };

  void Compress(size_t thread, size_t slot);
  bool WriteOldest();
  // Waits for a free slot (writing out finished ones); false once a write failed.
  bool TakeFreeSlot();
  void AddPiece(Slot& slot, size_t length);
  // Hands the batch being gathered, if any, to a worker.
  void SubmitBatch();

  ByteSink& sink_;
  std::vector<std::unique_ptr<ChunkCompressor>> compressors_;
  std::vector<Slot> slots_;
  std::deque<size_t> order_;  // submitted slots not yet written, oldest first
  std::vector<uint8_t> pending_;
  size_t filling_ = 0;
  bool gathering_ = false;  // slots_[filling_] is a batch of small chunks still open
  bool usable_ = true;
  bool failed_ = false;
  SlotWorkers workers_;  // last: its threads stop before the slots and compressors go
};

}  // namespace kestrova::payload
