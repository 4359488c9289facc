#include "payload/archive_writer.h"

#include <cstring>

#include "payload/memory_streams.h"
#include "payload/safe_path.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

void Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

}  // namespace

Writer::Writer(ByteSink& sink) : Writer(sink, CreateChunkCompressor()) {}

Writer::Writer(ByteSink& sink, std::unique_ptr<ChunkCompressor> compressor)
    : sink_(sink),
      compressor_(std::move(compressor)),
      input_(AllocateZeroed(kMaxChunkLength)),
      output_(AllocateZeroed(kWriterOutputCapacity)) {
  // Without its buffers the writer cannot work at all; the user's compressor check stops it before it starts.
  if (!input_ || !output_) compressor_.reset();
}

Writer::Writer(ByteSink& sink, unsigned workers) : sink_(sink) {
  if (workers <= 1) {
    compressor_ = CreateChunkCompressor();
    input_ = AllocateZeroed(kMaxChunkLength);
    output_ = AllocateZeroed(kWriterOutputCapacity);
    if (!input_ || !output_) compressor_.reset();
    return;
  }
  std::vector<std::unique_ptr<ChunkCompressor>> compressors;
  for (unsigned i = 0; i < workers; ++i) {
    compressors.push_back(CreateChunkCompressor());
    if (!compressors.back()) return;
  }
  pipeline_ = std::make_unique<ChunkPipeline>(sink, std::move(compressors));
  smallInput_ = AllocateZeroed(ChunkPipeline::kMaxSmallChunk);
  if (!pipeline_->usable() || !smallInput_) pipeline_.reset();
}

Writer::~Writer() = default;

bool Writer::HasCompressor() const { return compressor_ != nullptr || pipeline_ != nullptr; }

bool Writer::Emit(const uint8_t* data, size_t length) {
  return pipeline_ ? pipeline_->QueueBytes(data, length) : sink_.Write(data, length);
}

bool Writer::Finish(std::string* error) {
  if (pipeline_ && !pipeline_->Flush()) {
    Fail(error, "write failed");
    return false;
  }
  return true;
}

bool Writer::EmitRecordHeader(uint8_t tag, std::string_view path, uint64_t size, const Sha256Digest& sha256,
                              const uint8_t* extra, size_t extraLength, std::string* error) {
  if (!HasCompressor()) {
    Fail(error, "write failed");
    return false;
  }
  if (!IsSafeRelativePath(path)) {
    Fail(error, "unsafe path " + QuotedPath(path));
    return false;
  }
  // The record header goes out in one write: sinks may be a system call per write.
  uint8_t header[kRecordHeaderFixedLength + kMaxPathLength + kBaseIndexLength + kPatchLengthLength];
  size_t at = 0;
  header[at++] = tag;
  StoreLittleEndian(header + at, path.size(), 2);
  at += 2;
  std::memcpy(header + at, path.data(), path.size());
  at += path.size();
  StoreLittleEndian(header + at, size, 8);
  at += 8;
  std::memcpy(header + at, sha256.data(), sha256.size());
  at += sha256.size();
  if (extraLength > 0) std::memcpy(header + at, extra, extraLength);
  at += extraLength;
  if (!Emit(header, at)) {
    Fail(error, "write failed");
    return false;
  }
  return true;
}

bool Writer::EmitContent(std::string_view path, uint64_t length, ByteSource& content, Sha256* accumulator,
                         std::string* error) {
  uint64_t remaining = length;
  while (remaining > 0) {
    const size_t piece = remaining < kMaxChunkLength ? static_cast<size_t>(remaining) : kMaxChunkLength;
    if (pipeline_ && piece <= ChunkPipeline::kMaxSmallChunk) {
      size_t got = 0;
      if (!content.Read(smallInput_.get(), piece, &got) || got < piece) {
        Fail(error, QuotedPath(path) + " is shorter than its size");
        return false;
      }
      if (accumulator) accumulator->Add(smallInput_.get(), piece);
      if (!pipeline_->AddSmallChunk(smallInput_.get(), piece)) {
        Fail(error, "write failed");
        return false;
      }
      remaining -= piece;
      continue;
    }
    uint8_t* buffer = pipeline_ ? pipeline_->NextInput() : input_.get();
    if (!buffer) {
      Fail(error, "write failed");
      return false;
    }
    size_t got = 0;
    if (!content.Read(buffer, piece, &got) || got < piece) {
      Fail(error, QuotedPath(path) + " is shorter than its size");
      return false;
    }
    if (accumulator) accumulator->Add(buffer, piece);
    if (pipeline_) {
      pipeline_->Submit(piece);
    } else if (!WriteChunk(buffer, piece)) {
      Fail(error, "write failed");
      return false;
    }
    remaining -= piece;
  }
  return true;
}

bool Writer::AddFile(std::string_view path, uint64_t size, const Sha256Digest& sha256, ByteSource& content,
                     std::string* error) {
  if (!EmitRecordHeader(kTagFile, path, size, sha256, nullptr, 0, error)) return false;
  // The digest stands ahead of the data because the format never seeks back; hashing again while the
  // content streams through proves it did not change since the caller hashed it.
  Sha256 accumulator;
  if (!EmitContent(path, size, content, &accumulator, error)) return false;
  Sha256Digest actual;
  if (!accumulator.Finish(&actual) || actual != sha256) {
    Fail(error, QuotedPath(path) + " changed while being packed");
    return false;
  }
  ++entriesWritten_;
  return true;
}

bool Writer::AddReference(std::string_view path, uint64_t size, const Sha256Digest& sha256, uint32_t baseIndex,
                          std::string* error) {
  uint8_t indexField[kBaseIndexLength];
  StoreLittleEndian(indexField, baseIndex, kBaseIndexLength);
  if (!EmitRecordHeader(kTagReference, path, size, sha256, indexField, sizeof indexField, error)) return false;
  ++entriesWritten_;
  return true;
}

bool Writer::AddPatch(std::string_view path, uint64_t size, const Sha256Digest& sha256, uint32_t baseIndex,
                      const std::vector<uint8_t>& patch, std::string* error) {
  uint8_t extra[kBaseIndexLength + kPatchLengthLength];
  StoreLittleEndian(extra, baseIndex, kBaseIndexLength);
  StoreLittleEndian(extra + kBaseIndexLength, patch.size(), kPatchLengthLength);
  if (!EmitRecordHeader(kTagPatch, path, size, sha256, extra, sizeof extra, error)) return false;
  MemorySource content(patch);
  if (!EmitContent(path, patch.size(), content, nullptr, error)) return false;
  ++entriesWritten_;
  return true;
}

bool Writer::WriteChunk(const uint8_t* data, size_t length) {
  size_t compressed = 0;
  const bool ok =
      compressor_ && compressor_->Compress(data, length, output_.get(), kWriterOutputCapacity, &compressed);
  return WriteChunkRecord(sink_, data, length, output_.get(), compressed, ok);
}

bool WriteDeltaHeader(ByteSink& sink, const Sha256Digest& baseId, const std::vector<BaseFile>& baseFiles) {
  std::vector<uint8_t> bytes(kFileHeaderLength + 1 + 32 + 4);
  std::memcpy(bytes.data(), kArchiveMagic, 4);
  StoreLittleEndian(bytes.data() + 4, kArchiveVersionDelta, 4);
  bytes[kFileHeaderLength] = kTagBase;
  std::memcpy(bytes.data() + kFileHeaderLength + 1, baseId.data(), 32);
  StoreLittleEndian(bytes.data() + kFileHeaderLength + 33, baseFiles.size(), 4);
  for (const BaseFile& file : baseFiles) {
    if (!IsSafeRelativePath(file.path) || baseFiles.size() > kMaxBaseFiles) return false;
    uint8_t fixed[2 + 8 + 32];
    StoreLittleEndian(fixed, file.path.size(), 2);
    bytes.insert(bytes.end(), fixed, fixed + 2);
    bytes.insert(bytes.end(), file.path.begin(), file.path.end());
    StoreLittleEndian(fixed, file.size, 8);
    std::memcpy(fixed + 8, file.sha256.data(), 32);
    bytes.insert(bytes.end(), fixed, fixed + 40);
  }
  return sink.Write(bytes.data(), bytes.size());
}

}  // namespace kestrova::payload
