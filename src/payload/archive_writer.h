// Writes file records and their chunks into a ByteSink, one pass, never seeking. The Writer's user writes the
// file header before the first AddFile and the end record after the last (archive_format.h), and hashes each
// file beforehand; the Writer does not open files, sort entries, or own the sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "payload/archive_format.h"
#include "payload/byte_stream.h"
#include "payload/chunk_codec.h"
#include "payload/chunk_pipeline.h"
#include "payload/delta_archive.h"
#include "payload/sha256.h"

namespace kestrova::payload {

class Writer {
 public:
  // Allocates the 4 MiB input and 8 MiB + 64 byte output buffers (zero-filled, reused for every chunk) and
  // creates the XPRESS_HUFF compressor. The sink must outlive the Writer.
  explicit Writer(ByteSink& sink);
  // Takes the compressor to use; null stands for one that could not be created.
  Writer(ByteSink& sink, std::unique_ptr<ChunkCompressor> compressor);
  // Compresses on `workers` threads, each with a compressor from CreateChunkCompressor, and keeps up to
  // workers + 1 chunks in flight (12 MiB each); 0 or 1 is the single-threaded Writer above. The archive is
  // byte for byte the one the single-threaded Writer makes.
  Writer(ByteSink& sink, unsigned workers);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // False when the compressor (or a buffer) could not be created; the user then fails with
  // "could not create the XPRESS_HUFF compressor" before writing anything.
  bool HasCompressor() const;

  // Writes one file record for `path` with `size` and the caller's SHA-256 of the content, then the content
  // read from `content` in chunks of at most 4 MiB, each compressed when that makes it smaller. Failures:
  // "unsafe path '<path>'" (nothing written), "write failed", "'<path>' is shorter than its size",
  // "'<path>' changed while being packed" (the content hashed differently from `sha256`). After a failure
  // the sink holds a partial record and the archive must be abandoned.
  bool AddFile(std::string_view path, uint64_t size, const Sha256Digest& sha256, ByteSource& content,
               std::string* error);

  // Delta records (delta_archive.h), after WriteDeltaHeader: a file equal to base file `baseIndex`, and one made by
  // `patch` from it, the patch written in chunks like file content. Failures as AddFile's, without the two about
  // content.
  bool AddReference(std::string_view path, uint64_t size, const Sha256Digest& sha256, uint32_t baseIndex,
                    std::string* error);
  bool AddPatch(std::string_view path, uint64_t size, const Sha256Digest& sha256, uint32_t baseIndex,
                const std::vector<uint8_t>& patch, std::string* error);

  // Writes whatever is still in flight; the user calls it after the last AddFile and before the end record.
  // With workers, a failed write may only show here (or in a later AddFile): "write failed".
  bool Finish(std::string* error);

  // File records written completely; the user writes it as the end record's file count.
  uint64_t entriesWritten() const { return entriesWritten_; }

 private:
  // The record header up to and including the digest, then `extra` bytes; one write.
  bool EmitRecordHeader(uint8_t tag, std::string_view path, uint64_t size, const Sha256Digest& sha256,
                        const uint8_t* extra, size_t extraLength, std::string* error);
  // `length` bytes of `content` in chunks, hashed into `accumulator` when there is one.
  bool EmitContent(std::string_view path, uint64_t length, ByteSource& content, Sha256* accumulator,
                   std::string* error);

  // Writes one chunk of 1 to 4 MiB: compressed (codec 1) when that is smaller, else stored (codec 0).
  bool WriteChunk(const uint8_t* data, size_t length);

  // Queues the bytes behind chunks in flight, or writes them at once.
  bool Emit(const uint8_t* data, size_t length);


  ByteSink& sink_;
  std::unique_ptr<ChunkCompressor> compressor_;
  // With workers, a short chunk is read here and joins a batch of them (ChunkPipeline::AddSmallChunk).
  ZeroedBuffer smallInput_;
  std::unique_ptr<ChunkPipeline> pipeline_;
  ZeroedBuffer input_;
  ZeroedBuffer output_;
  uint64_t entriesWritten_ = 0;
};

}  // namespace kestrova::payload
