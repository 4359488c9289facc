#include "payload/decode_ahead.h"

#include <optional>

#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

}  // namespace

DecodeAhead::DecodeAhead(Reader& reader, std::vector<std::unique_ptr<ChunkDecompressor>> decompressors)
    : reader_(reader), decompressors_(std::move(decompressors)), slots_(decompressors_.size() + 2) {
  for (Slot& slot : slots_) {
    slot.input = AllocateZeroed(kMaxChunkLength);
    slot.output = AllocateZeroed(kMaxChunkLength);
    if (!slot.input || !slot.output) usable_ = false;
  }
  if (!usable_) return;
  for (const std::unique_ptr<ChunkDecompressor>& decompressor : decompressors_) {
    threads_.emplace_back([this, &decompressor] { Work(*decompressor); });
  }
}

DecodeAhead::~DecodeAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    jobs_.clear();
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void DecodeAhead::Work(ChunkDecompressor& decompressor) {
  while (true) {
    size_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      index = jobs_.front();
      jobs_.pop_front();
    }
    // The slot is this worker's alone until it is marked done: the reading thread only waits on it.
    Decode(slots_[index], decompressor);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_[index].state = SlotState::kDone;
    }
    done_.notify_all();
  }
}

void DecodeAhead::Decode(Slot& slot, ChunkDecompressor& decompressor) {
  bool ok = true;
  if (slot.compressed) {
    size_t produced = 0;
    // The output is capped at the chunk's own length: a container that would produce more fails here just as
    // one producing a different length fails the single-threaded check.
    ok = decompressor.Decompress(slot.input.get(), slot.storedLength, slot.output.get(), slot.rawLength,
                                 &produced) &&
         produced == slot.rawLength;
  }
  slot.ok = ok;
  slot.hashed = false;
  if (ok && slot.hashWhole) {
    Sha256 hash;
    hash.Add(slot.output.get(), slot.rawLength);
    slot.hashed = hash.Finish(&slot.digest);
  }
}
bool DecodeAhead::ParseStep() {
  if (parse_ == ParseState::kRecord) {
    Item item;
    item.outcome = reader_.ReadRecord(&item.entry, &item.error);
    item.entriesRead = reader_.entriesRead_;
    item.delta = reader_.delta_;
    switch (item.outcome) {
      case RecordOutcome::kEntry:
      case RecordOutcome::kPatch:
        parsePath_ = item.entry.path;
        parseWhole_ = item.outcome == RecordOutcome::kEntry;
        parseRemaining_ = parseWhole_ ? item.entry.size : item.delta.patchLength;
        if (parseRemaining_ > 0) parse_ = ParseState::kChunks;
        break;
      case RecordOutcome::kReference:
        break;
      default:
        parse_ = ParseState::kDone;
        break;
    }
    items_.push_back(std::move(item));
    return true;
  }

  size_t index = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (index < slots_.size() && slots_[index].state != SlotState::kFree) ++index;
  }
  if (index == slots_.size()) return false;
  Slot& slot = slots_[index];
  Item item;
  Reader::ChunkHeader header;
  if (!reader_.ReadChunkHeader(parsePath_, parseRemaining_, &header, &item.error) ||
      !reader_.ReadChunkBytes(parsePath_, header, header.codec == kCodecStored ? slot.output.get() : slot.input.get(),
                              &item.error)) {
    item.kind = Item::Kind::kFailure;
    items_.push_back(std::move(item));
    parse_ = ParseState::kDone;
    return true;
  }
  slot.rawLength = header.rawLength;
  slot.storedLength = header.storedLength;
  slot.compressed = header.codec != kCodecStored;
  slot.hashWhole = parseWhole_ && header.rawLength == parseRemaining_;
  parseWhole_ = false;
  parseRemaining_ -= header.rawLength;
  if (parseRemaining_ == 0) parse_ = ParseState::kRecord;
  item.kind = Item::Kind::kChunk;
  item.slot = index;
  items_.push_back(std::move(item));
  if (slot.rawLength <= kInlineChunkLength) {
    // Decoding a small chunk here costs less than handing it to a worker: with many small files the caller would
    // otherwise wait on the hand-over rather than on the decoding.
    Decode(slot, *reader_.decompressor_);
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = SlotState::kDone;
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slot.state = SlotState::kQueued;
    jobs_.push_back(index);
  }
  work_.notify_one();
  return true;
}

void DecodeAhead::Fill() {
  while (parse_ != ParseState::kDone && items_.size() < kMaxQueuedItems && ParseStep()) {
  }
}

void DecodeAhead::WaitDone(const Slot& slot) {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&slot] { return slot.state == SlotState::kDone; });
}

void DecodeAhead::Release(Slot& slot) {
  std::lock_guard<std::mutex> lock(mutex_);
  slot.state = SlotState::kFree;
}

RecordOutcome DecodeAhead::NextRecord(Entry* entry, std::string* error) {
  while (true) {
    Fill();
    if (items_.empty()) {
      Fail(error, "archive truncated: no end record");
      return RecordOutcome::kFailure;
    }
    Item item = std::move(items_.front());
    items_.pop_front();
    if (item.kind == Item::Kind::kChunk) {
      // Content the caller did not read: its slot is needed again.
      Slot& slot = slots_[item.slot];
      WaitDone(slot);
      Release(slot);
      continue;
    }
    if (item.kind == Item::Kind::kFailure) {
      Fail(error, std::move(item.error));
      return RecordOutcome::kFailure;
    }
    entriesRead_ = item.entriesRead;
    delta_ = item.delta;
    if (item.outcome == RecordOutcome::kFailure) {
      Fail(error, std::move(item.error));
    } else {
      *entry = std::move(item.entry);
    }
    return item.outcome;
  }
}

bool DecodeAhead::ReadChunks(const std::string& path, uint64_t total, std::optional<Sha256>* accumulator,
                             const DataCallback& onData, bool* workerHashed, Sha256Digest* digest, std::string* error) {
  uint64_t remaining = total;
  while (remaining > 0) {
    Fill();
    if (items_.empty() || items_.front().kind == Item::Kind::kRecord) {
      return Fail(error, "archive truncated in " + QuotedPath(path));
    }
    Item item = std::move(items_.front());
    items_.pop_front();
    if (item.kind == Item::Kind::kFailure) return Fail(error, std::move(item.error));
    Slot& slot = slots_[item.slot];
    WaitDone(slot);
    bool ok = slot.ok;
    if (!ok) {
      Fail(error, "corrupt compressed chunk in " + QuotedPath(path));
    } else {
      if (slot.hashed) {
        *workerHashed = true;
        *digest = slot.digest;
      } else if (accumulator) {
        // Made only for an entry no worker hashed whole: most entries are one chunk and need none.
        if (!*accumulator) accumulator->emplace();
        (*accumulator)->Add(slot.output.get(), slot.rawLength);
      }
      if (onData && !onData(slot.output.get(), slot.rawLength)) {
        ok = Fail(error, "could not write " + QuotedPath(path));
      }
    }
    remaining -= slot.rawLength;
    Release(slot);
    if (!ok) return false;
  }
  return true;
}

bool DecodeAhead::ReadData(const Entry& entry, const DataCallback& onData, std::string* error) {
  std::optional<Sha256> accumulator;
  bool workerHashed = false;
  Sha256Digest actual{};
  if (!ReadChunks(entry.path, entry.size, &accumulator, onData, &workerHashed, &actual, error)) return false;
  if (!workerHashed) {
    if (!accumulator) accumulator.emplace();
    if (!accumulator->Finish(&actual)) return Fail(error, "SHA-256 mismatch in " + QuotedPath(entry.path));
  }
  if (actual != entry.sha256) return Fail(error, "SHA-256 mismatch in " + QuotedPath(entry.path));
  return true;
}

bool DecodeAhead::ReadPatch(const Entry& entry, const DataCallback& onData, std::string* error) {
  bool workerHashed = false;
  Sha256Digest unused{};
  return ReadChunks(entry.path, delta_.patchLength, nullptr, onData, &workerHashed, &unused, error);
}

}  // namespace kestrova::payload
