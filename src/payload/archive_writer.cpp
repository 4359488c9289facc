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

Writer::~Writer() = default;

bool Writer::AddFile(std::string_view path, uint64_t size, const Sha256Digest& sha256, ByteSource& content,
                     std::string* error) {
  if (!input_ || !output_) {
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
  if (!sink_.Write(header, at)) {
    Fail(error, "write failed");
    return false;
  }

  // The digest stands ahead of the data because the format never seeks back; hashing again while the
  // content streams through proves it did not change since the caller hashed it.
  Sha256 accumulator;
  uint64_t remaining = size;
  while (remaining > 0) {
    const size_t piece = remaining < kMaxChunkLength ? static_cast<size_t>(remaining) : kMaxChunkLength;
    size_t got = 0;
    if (!content.Read(input_.get(), piece, &got) || got < piece) {
      Fail(error, QuotedPath(path) + " is shorter than its size");
      return false;
    }
    accumulator.Add(input_.get(), piece);
    if (!WriteChunk(input_.get(), piece)) {
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
  uint8_t header[kChunkHeaderLength];
  StoreLittleEndian(header, length, 4);
  if (ok && compressed > 0 && compressed < length) {
    StoreLittleEndian(header + 4, compressed, 4);
    header[8] = kCodecXpressHuff;
    return sink_.Write(header, sizeof header) && sink_.Write(output_.get(), compressed);
  }
  StoreLittleEndian(header + 4, length, 4);
  header[8] = kCodecStored;
  return sink_.Write(header, sizeof header) && sink_.Write(data, length);
}

}  // namespace kestrova::payload
