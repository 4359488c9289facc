#include "payload/chunk_pipeline.h"

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
    : sink_(sink), compressors_(std::move(compressors)), slots_(compressors_.size() + 1) {
  for (Slot& slot : slots_) {
    slot.input = AllocateZeroed(kMaxChunkLength);
    slot.output = AllocateZeroed(kWriterOutputCapacity);
    if (!slot.input || !slot.output) usable_ = false;
  }
  if (!usable_) return;
  for (const std::unique_ptr<ChunkCompressor>& compressor : compressors_) {
    threads_.emplace_back([this, &compressor] { Work(*compressor); });
  }
}

ChunkPipeline::~ChunkPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void ChunkPipeline::Work(ChunkCompressor& compressor) {
  while (true) {
    size_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      index = jobs_.front();
      jobs_.pop_front();
    }
    // The slot is this worker's alone until it is marked done: the producer only waits on it.
    Slot& slot = slots_[index];
    size_t produced = 0;
    const bool ok =
        compressor.Compress(slot.input.get(), slot.length, slot.output.get(), kWriterOutputCapacity, &produced);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slot.compressed = produced;
      slot.compressedOk = ok;
      slot.state = SlotState::kDone;
    }
    done_.notify_all();
  }
}

bool ChunkPipeline::QueueBytes(const uint8_t* data, size_t length) {
  if (failed_) return false;
  pending_.insert(pending_.end(), data, data + length);
  // Many small files queue whole chunk records here without a chunk in between; past a bound, what is in flight
  // goes out first and then the queue, so memory stays bounded whatever the tree.
  if (pending_.size() >= kMaxPendingBytes) return Flush();
  return true;
}

bool ChunkPipeline::WriteOldest() {
  const size_t index = order_.front();
  Slot& slot = slots_[index];
  {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&slot] { return slot.state == SlotState::kDone; });
  }
  const bool ok = (slot.before.empty() || sink_.Write(slot.before.data(), slot.before.size())) &&
                  WriteChunkRecord(sink_, slot.input.get(), slot.length, slot.output.get(), slot.compressed,
                                   slot.compressedOk);
  slot.before.clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = SlotState::kFree;
  }
  order_.pop_front();
  if (!ok) failed_ = true;
  return ok;
}

uint8_t* ChunkPipeline::NextInput() {
  while (!failed_) {
    // Finished chunks go out as soon as they can, so the sink keeps pace with the workers.
    while (!order_.empty()) {
      bool oldestDone = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        oldestDone = slots_[order_.front()].state == SlotState::kDone;
      }
      if (!oldestDone || !WriteOldest()) break;
    }
    if (failed_) break;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i].state == SlotState::kFree) {
          filling_ = i;
          return slots_[i].input.get();
        }
      }
    }
    if (!WriteOldest()) break;
  }
  return nullptr;
}

void ChunkPipeline::Submit(size_t length) {
  Slot& slot = slots_[filling_];
  slot.length = length;
  slot.before.swap(pending_);
  pending_.clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = SlotState::kQueued;
    jobs_.push_back(filling_);
  }
  order_.push_back(filling_);
  work_.notify_one();
}

bool ChunkPipeline::Flush() {
  while (!failed_ && !order_.empty()) WriteOldest();
  if (failed_) return false;
  if (!pending_.empty() && !sink_.Write(pending_.data(), pending_.size())) failed_ = true;
  pending_.clear();
  return !failed_;
}

}  // namespace kestrova::payload
