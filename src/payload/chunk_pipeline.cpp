#include "payload/chunk_pipeline.h"

#include <cstring>

namespace kestrova::payload {

bool WriteChunkRecord(ByteSink& sink, const uint8_t* data, size_t length, const uint8_t* compressed,
                      size_t compressedLength, bool compressedOk) {
  uint8_t header[kChunkHeaderLength];
  StoreLittleEndian(header, length, 4);
  if (compressedOk && compressedLength > 0 && compressedLength < length) {
    StoreLittleEndian(header + 4, compressedLength, 4);
    header[8] = kCodecXpressHuff;
    return sink.Write(header, sizeof header) && sink.Write(compressed, compressedLength);
  }
  StoreLittleEndian(header + 4, length, 4);
  header[8] = kCodecStored;
  return sink.Write(header, sizeof header) && sink.Write(data, length);
}

ChunkPipeline::ChunkPipeline(ByteSink& sink, std::vector<std::unique_ptr<ChunkCompressor>> compressors)
    : sink_(sink),
      compressors_(std::move(compressors)),
      slots_(compressors_.size() + 1),
      workers_(compressors_.size() + 1) {
  for (Slot& slot : slots_) {
    slot.input = AllocateZeroed(kMaxChunkLength);
    slot.output = AllocateZeroed(kWriterOutputCapacity);
    if (!slot.input || !slot.output) usable_ = false;
  }
  if (usable_) workers_.Start(compressors_.size(), [this](size_t thread, size_t slot) { Compress(thread, slot); });
}

ChunkPipeline::~ChunkPipeline() = default;

void ChunkPipeline::Compress(size_t thread, size_t index) {
  ChunkCompressor& compressor = *compressors_[thread];
  Slot& slot = slots_[index];
  for (size_t i = 0; i < slot.pieces.size(); ++i) {
    Piece& piece = slot.pieces[i];
    // A piece's compressed form stays within its own length, so it never reaches the next piece's room; a form
    // that long would be stored anyway. The last piece may use the rest of the buffer.
    const size_t capacity = i + 1 < slot.pieces.size() ? piece.length : kWriterOutputCapacity - piece.offset;
    piece.compressedOk = compressor.Compress(slot.input.get() + piece.offset, piece.length,
                                             slot.output.get() + piece.offset, capacity, &piece.compressed);
  }
}

bool ChunkPipeline::QueueBytes(const uint8_t* data, size_t length) {
  if (failed_) return false;
  pending_.insert(pending_.end(), data, data + length);
  // Many small files queue whole chunk records here without a chunk in between; past a bound, what is in flight
  // goes out first and then the queue, so memory stays bounded whatever the tree.
  const size_t gathered = gathering_ ? slots_[filling_].before.size() : 0;
  if (pending_.size() + gathered >= kMaxPendingBytes) return Flush();
  return true;
}

bool ChunkPipeline::WriteOldest() {
  const size_t index = order_.front();
  Slot& slot = slots_[index];
  workers_.WaitDone(index);
  bool ok = true;
  size_t from = 0;
  for (const Piece& piece : slot.pieces) {
    if (!ok) break;
    if (piece.beforeEnd > from) ok = sink_.Write(slot.before.data() + from, piece.beforeEnd - from);
    from = piece.beforeEnd;
    ok = ok && WriteChunkRecord(sink_, slot.input.get() + piece.offset, piece.length,
                                slot.output.get() + piece.offset, piece.compressed, piece.compressedOk);
  }
  slot.before.clear();
  slot.pieces.clear();
  slot.used = 0;
  workers_.Set(index, SlotWorkers::State::kFree);
  order_.pop_front();
  if (!ok) failed_ = true;
  return ok;
}

bool ChunkPipeline::TakeFreeSlot() {
  while (!failed_) {
    // Finished chunks go out as soon as they can, so the sink keeps pace with the workers.
    while (!order_.empty()) {
      if (workers_.state(order_.front()) != SlotWorkers::State::kDone || !WriteOldest()) break;
    }
    if (failed_) break;
    const size_t free = workers_.FirstFree();
    if (free < slots_.size()) {
      filling_ = free;
      return true;
    }
    if (!WriteOldest()) break;
  }
  return false;
}

void ChunkPipeline::AddPiece(Slot& slot, size_t length) {
  if (slot.before.empty()) {
    slot.before.swap(pending_);
  } else {
    slot.before.insert(slot.before.end(), pending_.begin(), pending_.end());
  }
  pending_.clear();
  slot.pieces.push_back({slot.before.size(), slot.used, length, 0, false});
  slot.used += length;
}

uint8_t* ChunkPipeline::NextInput() {
  SubmitBatch();
  return TakeFreeSlot() ? slots_[filling_].input.get() : nullptr;
}

void ChunkPipeline::Submit(size_t length) {
  AddPiece(slots_[filling_], length);
  gathering_ = true;
  SubmitBatch();
}

bool ChunkPipeline::AddSmallChunk(const uint8_t* data, size_t length) {
  if (failed_) return false;
  if (gathering_ && slots_[filling_].used + length > kMaxChunkLength) SubmitBatch();
  if (!gathering_) {
    if (!TakeFreeSlot()) return false;
    workers_.Set(filling_, SlotWorkers::State::kGathering);
    gathering_ = true;
  }
  Slot& slot = slots_[filling_];
  std::memcpy(slot.input.get() + slot.used, data, length);
  AddPiece(slot, length);
  return true;
}

void ChunkPipeline::SubmitBatch() {
  if (!gathering_) return;
  gathering_ = false;
  workers_.Queue(filling_);
  order_.push_back(filling_);
}

bool ChunkPipeline::Flush() {
  SubmitBatch();
  while (!failed_ && !order_.empty()) WriteOldest();
  if (failed_) return false;
  if (!pending_.empty() && !sink_.Write(pending_.data(), pending_.size())) failed_ = true;
  pending_.clear();
  return !failed_;
}

}  // namespace kestrova::payload
