#include "payload/archive_writer.h"

#include <cstring>

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
  if (!pipeline_->usable()) pipeline_.reset();
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

bool Writer::AddFile(std::string_view path, uint64_t size, const Sha256Digest& sha256, ByteSource& content,
                     std::string* error) {
  if (!HasCompressor()) {
    Fail(error, "write failed");
    return false;
  }
  if (!IsSafeRelativePath(path)) {
    Fail(error, "unsafe path " + QuotedPath(path));
    return false;
  }

  // The record header goes out in one write: sinks may be a system call per write.
  uint8_t header[kRecordHeaderFixedLength + kMaxPathLength];
  size_t at = 0;
  header[at++] = kTagFile;
  StoreLittleEndian(header + at, path.size(), 2);
  at += 2;
  std::memcpy(header + at, path.data(), path.size());
  at += path.size();
  StoreLittleEndian(header + at, size, 8);
  at += 8;
  std::memcpy(header + at, sha256.data(), sha256.size());
  at += sha256.size();
  if (!Emit(header, at)) {
    Fail(error, "write failed");
    return false;
  }

  // The digest stands ahead of the data because the format never seeks back; hashing again while the
  // content streams through proves it did not change since the caller hashed it.
  Sha256 accumulator;
  uint64_t remaining = size;
  while (remaining > 0) {
    const size_t piece = remaining < kMaxChunkLength ? static_cast<size_t>(remaining) : kMaxChunkLength;
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
    accumulator.Add(buffer, piece);
    if (pipeline_) {
      pipeline_->Submit(piece);
    } else if (!WriteChunk(buffer, piece)) {
      Fail(error, "write failed");
      return false;
    }
    remaining -= piece;
  }

  Sha256Digest actual;
  if (!accumulator.Finish(&actual) || actual != sha256) {
    Fail(error, QuotedPath(path) + " changed while being packed");
    return false;
  }
  ++entriesWritten_;
  return true;
}

bool Writer::WriteChunk(const uint8_t* data, size_t length) {
  size_t compressed = 0;
  const bool ok =
      compressor_ && compressor_->Compress(data, length, output_.get(), kWriterOutputCapacity, &compressed);
  return WriteChunkRecord(sink_, data, length, output_.get(), compressed, ok);
}

}  // namespace kestrova::payload
