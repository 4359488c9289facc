#include "payload/archive_reader.h"

#include <algorithm>
#include <cstring>

#include "payload/decode_ahead.h"
#include "payload/safe_path.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

bool Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

RecordOutcome FailRecord(std::string* error, std::string text) {
  Fail(error, std::move(text));
  return RecordOutcome::kFailure;
}

}  // namespace

Reader::Reader(ByteSource& source) : Reader(source, CreateChunkDecompressor()) {}

Reader::Reader(ByteSource& source, std::unique_ptr<ChunkDecompressor> decompressor)
    : source_(source),
      decompressor_(std::move(decompressor)),
      input_(AllocateZeroed(kMaxChunkLength)),
      output_(AllocateZeroed(kMaxChunkLength)),
      ahead_(AllocateZeroed(kReadAheadLength)) {
  // Without its buffers the reader cannot work at all; ReadHeader stops it before it starts.
  if (!input_ || !output_ || !ahead_) decompressor_.reset();
}

Reader::~Reader() = default;

// Headers are a few bytes each: they come out of a read-ahead buffer that one source read fills, so a small entry
// costs no read of its own. Reads as long as the buffer go straight to the caller's memory. Sources deliver short
// only at the end of their data, so a short read means the archive ended there.
bool Reader::ReadExactly(void* buffer, size_t length, size_t* got) {
  uint8_t* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < length) {
    if (aheadPosition_ < aheadLength_) {
      const size_t piece = std::min(length - done, aheadLength_ - aheadPosition_);
      std::memcpy(out + done, ahead_.get() + aheadPosition_, piece);
      aheadPosition_ += piece;
      done += piece;
      continue;
    }
    if (sourceEnded_) break;
    bool direct = length - done >= kReadAheadLength;
    size_t want = direct ? length - done : kReadAheadLength;
    size_t delivered = 0;
    if (!source_.Read(direct ? out + done : ahead_.get(), want, &delivered)) {
      // A source that fails past what is needed now (a bad block further on) must not fail this read: ask again
      // for just these bytes, as if there were no read-ahead.
      if (direct || !source_.Read(out + done, length - done, &delivered)) {
        *got = 0;
        return false;
      }
      direct = true;
      want = length - done;
    }
    if (delivered < want) sourceEnded_ = true;
    if (direct) {
      done += delivered;
    } else {
      aheadPosition_ = 0;
      aheadLength_ = delivered;
    }
  }
  *got = done;
  return done == length;
}

bool Reader::ReadHeader(std::string* error) {
  if (!decompressor_) return Fail(error, "could not create the XPRESS_HUFF decompressor");
  uint8_t field[4] = {};
  size_t got = 0;
  if (!ReadExactly(field, 4, &got) || std::memcmp(field, kArchiveMagic, 4) != 0) {
    return Fail(error, "not a payload archive");
  }
  // The version is reported as far as it arrived, missing bytes as zero.
  std::memset(field, 0, sizeof field);
  const bool complete = ReadExactly(field, 4, &got);
  std::memset(field + got, 0, sizeof field - got);
  const uint32_t version = static_cast<uint32_t>(LoadLittleEndian(field, 4));
  if (complete && version == kArchiveVersionDelta) {
    if (!acceptDelta_) {
      return Fail(error, "a delta update, which needs the installed version it was made from: stage applies it");
    }
    isDelta_ = true;
    return ReadBaseRecord(error);
  }
  if (!complete || version != kArchiveVersion) {
    return Fail(error, "unsupported payload format version " + std::to_string(version));
  }
  return true;
}

bool Reader::ReadBaseRecord(std::string* error) {
  uint8_t fixed[1 + 32 + 4];
  size_t got = 0;
  if (!ReadExactly(fixed, sizeof fixed, &got)) return Fail(error, "archive truncated in the base record");
  const uint32_t count = static_cast<uint32_t>(LoadLittleEndian(fixed + 33, 4));
  if (fixed[0] != kTagBase || count > kMaxBaseFiles) return Fail(error, "corrupt base record");
  std::memcpy(baseId_.data(), fixed + 1, 32);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t lengthField[2] = {};
    if (!ReadExactly(lengthField, 2, &got)) return Fail(error, "archive truncated in the base record");
    const size_t pathLength = static_cast<size_t>(LoadLittleEndian(lengthField, 2));
    if (pathLength < 1 || pathLength > kMaxPathLength) return Fail(error, "corrupt base record");
    char path[kMaxPathLength];
    uint8_t sizeAndDigest[8 + 32];
    if (!ReadExactly(path, pathLength, &got) || !ReadExactly(sizeAndDigest, sizeof sizeAndDigest, &got)) {
      return Fail(error, "archive truncated in the base record");
    }
    BaseFile file;
    file.path.assign(path, pathLength);
    file.size = LoadLittleEndian(sizeAndDigest, 8);
    std::memcpy(file.sha256.data(), sizeAndDigest + 8, 32);
    if (!IsSafeRelativePath(file.path)) return Fail(error, "unsafe path " + QuotedPath(file.path));
    baseFiles_.push_back(std::move(file));
  }
  return true;
}

bool Reader::UseWorkers(unsigned workers) {
  if (workers == 0 || !decompressor_) return false;
  std::vector<std::unique_ptr<ChunkDecompressor>> decompressors;
  for (unsigned i = 0; i < workers; ++i) {
    decompressors.push_back(CreateChunkDecompressor());
    if (!decompressors.back()) return false;
  }
  auto ahead = std::make_unique<DecodeAhead>(*this, std::move(decompressors));
  if (!ahead->usable()) return false;
  decodeAhead_ = std::move(ahead);
  return true;
}

void Reader::Restart() {
  decodeAhead_.reset();
  entriesRead_ = 0;
  aheadPosition_ = aheadLength_ = 0;
  sourceEnded_ = false;
  isDelta_ = false;
  baseFiles_.clear();
}

uint64_t Reader::entriesRead() const { return decodeAhead_ ? decodeAhead_->entriesRead() : entriesRead_; }

const DeltaRecord& Reader::delta() const { return decodeAhead_ ? decodeAhead_->delta() : delta_; }

RecordOutcome Reader::NextRecord(Entry* entry, std::string* error) {
  if (decodeAhead_) return decodeAhead_->NextRecord(entry, error);
  return ReadRecord(entry, error);
}

RecordOutcome Reader::ReadRecord(Entry* entry, std::string* error) {
  uint8_t tag = 0;
  size_t got = 0;
  if (!ReadExactly(&tag, 1, &got)) return FailRecord(error, "archive truncated: no end record");

  if (tag == kTagEnd) {
    uint8_t field[8] = {};
    const bool complete = ReadExactly(field, 8, &got);
    std::memset(field + got, 0, sizeof field - got);
    const uint64_t fileCount = LoadLittleEndian(field, 8);
    if (!complete || fileCount != entriesRead_) {
      return FailRecord(error, "end record says " + std::to_string(fileCount) + " files, read " +
                                   std::to_string(entriesRead_));
    }
    uint8_t extra = 0;
    size_t extraGot = 0;
    if (aheadPosition_ == aheadLength_ && (sourceEnded_ || (source_.Read(&extra, 1, &extraGot) && extraGot == 0))) {
      return RecordOutcome::kEnd;
    }
    return FailRecord(error, "trailing bytes after the end record");
  }
  const bool deltaTag = isDelta_ && (tag == kTagReference || tag == kTagPatch);
  if (tag != kTagFile && !deltaTag) return FailRecord(error, "corrupt record header");

  uint8_t lengthField[2] = {};
  if (!ReadExactly(lengthField, 2, &got)) return FailRecord(error, "corrupt record header");
  const size_t pathLength = static_cast<size_t>(LoadLittleEndian(lengthField, 2));
  if (pathLength < 1 || pathLength > kMaxPathLength) return FailRecord(error, "corrupt record header");

  // The path is read aside, not into the entry's string, so a short read leaves no half-filled path behind.
  char path[kMaxPathLength];
  uint8_t fixed[8 + 32];
  if (!ReadExactly(path, pathLength, &got) || !ReadExactly(fixed, sizeof fixed, &got)) {
    return FailRecord(error, "archive truncated in a record header");
  }
  entry->path.assign(path, pathLength);
  entry->size = LoadLittleEndian(fixed, 8);
  std::memcpy(entry->sha256.data(), fixed + 8, 32);

  if (!IsSafeRelativePath(entry->path)) return FailRecord(error, "unsafe path " + QuotedPath(entry->path));
  ++entriesRead_;
  if (!deltaTag) return RecordOutcome::kEntry;

  uint8_t extra[kBaseIndexLength + kPatchLengthLength] = {};
  const size_t extraLength = tag == kTagPatch ? sizeof extra : kBaseIndexLength;
  if (!ReadExactly(extra, extraLength, &got)) return FailRecord(error, "archive truncated in a record header");
  delta_.baseIndex = static_cast<uint32_t>(LoadLittleEndian(extra, kBaseIndexLength));
  delta_.patchLength = tag == kTagPatch ? LoadLittleEndian(extra + kBaseIndexLength, kPatchLengthLength) : 0;
  if (delta_.baseIndex >= baseFiles_.size()) return FailRecord(error, "corrupt record header");
  return tag == kTagPatch ? RecordOutcome::kPatch : RecordOutcome::kReference;
}

bool Reader::ReadData(const Entry& entry, const DataCallback& onData, std::string* error) {
  if (decodeAhead_) return decodeAhead_->ReadData(entry, onData, error);
  Sha256 accumulator;
  if (!ReadChunks(entry.path, entry.size, &accumulator, onData, error)) return false;
  Sha256Digest actual;
  if (!accumulator.Finish(&actual) || actual != entry.sha256) {
    return Fail(error, "SHA-256 mismatch in " + QuotedPath(entry.path));
  }
  return true;
}

bool Reader::ReadPatch(const Entry& entry, const DataCallback& onData, std::string* error) {
  if (decodeAhead_) return decodeAhead_->ReadPatch(entry, onData, error);
  return ReadChunks(entry.path, delta_.patchLength, nullptr, onData, error);
}

bool Reader::ReadChunkHeader(const std::string& path, uint64_t remaining, ChunkHeader* header,
                             std::string* error) {
  uint8_t field[kChunkHeaderLength];
  size_t got = 0;
  if (!ReadExactly(field, sizeof field, &got)) return Fail(error, "archive truncated in " + QuotedPath(path));
  header->rawLength = static_cast<uint32_t>(LoadLittleEndian(field, 4));
  header->storedLength = static_cast<uint32_t>(LoadLittleEndian(field + 4, 4));
  header->codec = field[8];
  const uint32_t raw = header->rawLength, stored = header->storedLength;
  if (raw < 1 || raw > kMaxChunkLength || raw > remaining || stored < 1 || stored > raw) {
    return Fail(error, "corrupt chunk header in " + QuotedPath(path));
  }
  if (header->codec == kCodecStored) {
    if (stored != raw) return Fail(error, "corrupt stored chunk in " + QuotedPath(path));
  } else if (header->codec != kCodecXpressHuff) {
    return Fail(error, "unknown codec " + std::to_string(header->codec) + " in " + QuotedPath(path));
  }
  return true;
}

bool Reader::ReadChunkBytes(const std::string& path, const ChunkHeader& header, uint8_t* buffer,
                            std::string* error) {
  size_t got = 0;
  if (ReadExactly(buffer, header.storedLength, &got)) return true;
  const char* kind = header.codec == kCodecStored ? "corrupt stored chunk in " : "corrupt compressed chunk in ";
  return Fail(error, kind + QuotedPath(path));
}

// Only a failure names the entry: building the text for every entry would cost each small file an allocation.
bool Reader::ReadChunks(const std::string& entryPath, uint64_t total, Sha256* accumulator,
                        const DataCallback& onData, std::string* error) {
  uint64_t remaining = total;
  while (remaining > 0) {
    ChunkHeader header;
    if (!ReadChunkHeader(entryPath, remaining, &header, error)) return false;
    const uint32_t rawLength = header.rawLength;
    if (header.codec == kCodecStored) {
      if (!ReadChunkBytes(entryPath, header, output_.get(), error)) return false;
    } else {
      size_t produced = 0;
      if (!ReadChunkBytes(entryPath, header, input_.get(), error)) return false;
      if (!decompressor_ || !decompressor_->Decompress(input_.get(), header.storedLength, output_.get(),
                                                       kMaxChunkLength, &produced) ||
          produced != rawLength) {
        return Fail(error, "corrupt compressed chunk in " + QuotedPath(entryPath));
      }
    }
    if (accumulator) accumulator->Add(output_.get(), rawLength);
    if (onData && !onData(output_.get(), rawLength)) {
      return Fail(error, "could not write " + QuotedPath(entryPath));
    }
    remaining -= rawLength;
  }
  return true;
}

}  // namespace kestrova::payload
