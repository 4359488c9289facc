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
    : reader_(reader),
      decompressors_(std::move(decompressors)),
      slots_(decompressors_.size() + 2),
      workers_(decompressors_.size() + 2) {
  for (Slot& slot : slots_) {
    slot.input = AllocateZeroed(kMaxChunkLength);
    slot.output = AllocateZeroed(kMaxChunkLength);
    if (!slot.input || !slot.output) usable_ = false;
  }
  // A slot is a worker's alone from Queue until it is done: the reading thread only waits on it.
  if (usable_) {
    workers_.Start(decompressors_.size(),
                   [this](size_t thread, size_t slot) { Decode(slots_[slot], *decompressors_[thread]); });
  }
}

DecodeAhead::~DecodeAhead() = default;

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

  const size_t index = workers_.FirstFree();
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
    workers_.Set(index, SlotWorkers::State::kDone);
    return true;
  }
  workers_.Queue(index);
  return true;
}

void DecodeAhead::Fill() {
  while (parse_ != ParseState::kDone && items_.size() < kMaxQueuedItems && ParseStep()) {
  }
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
      workers_.WaitDone(item.slot);
      workers_.Set(item.slot, SlotWorkers::State::kFree);
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
    workers_.WaitDone(item.slot);
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
    workers_.Set(item.slot, SlotWorkers::State::kFree);
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
