// The container's fixed numbers and the two framing records the Writer's user emits around the file records
// (the 8-byte file header and the 9-byte end record). The Writer and Reader own everything in between.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "payload/byte_stream.h"

namespace kestrova::payload {

inline constexpr char kArchiveMagic[4] = {'K', 'V', 'P', '1'};
inline constexpr uint32_t kArchiveVersion = 1;
// A delta update: the same container, with a base record after the header and records that take their content
// from files of an installed version (delta_archive.h). Readers of version 1 refuse it by its number.
inline constexpr uint32_t kArchiveVersionDelta = 2;
inline constexpr size_t kFileHeaderLength = 8;
inline constexpr size_t kEndRecordLength = 9;

inline constexpr uint8_t kTagEnd = 0;
inline constexpr uint8_t kTagFile = 1;
inline constexpr uint8_t kTagBase = 2;       // delta only: the base record
inline constexpr uint8_t kTagReference = 3;  // delta only: a file equal to a base file
inline constexpr uint8_t kTagPatch = 4;      // delta only: a file made by a patch against a base file

inline constexpr size_t kMaxPathLength = 1024;
// tag, pathLength, size and sha256 around the path bytes.
inline constexpr size_t kRecordHeaderFixedLength = 43;

inline constexpr size_t kMaxChunkLength = 4194304;  // 4 MiB of content per chunk.
inline constexpr size_t kChunkHeaderLength = 9;
inline constexpr uint8_t kCodecStored = 0;
inline constexpr uint8_t kCodecXpressHuff = 1;

// The Writer compresses into 8 MiB + 64 bytes, so a chunk that grows never overruns its output buffer.
inline constexpr size_t kWriterOutputCapacity = 8388672;

using Sha256Digest = std::array<uint8_t, 32>;

// The Writer's and Reader's chunk buffers. calloc rather than new[]() because fresh large blocks come zeroed
// from the system, so the pages are not written just to clear them; null when the allocation failed.
struct FreeDeleter {
  void operator()(uint8_t* p) const { std::free(p); }
};
using ZeroedBuffer = std::unique_ptr<uint8_t[], FreeDeleter>;
inline ZeroedBuffer AllocateZeroed(size_t length) {
  return ZeroedBuffer(static_cast<uint8_t*>(std::calloc(length, 1)));
}

// One archive entry as the Reader returns it and the manifest lists it.
struct Entry {
  std::string path;  // UTF-8, "/"-separated, exactly the bytes stored in the record.
  uint64_t size = 0;
  Sha256Digest sha256{};
};

inline void StoreLittleEndian(uint8_t* out, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint64_t LoadLittleEndian(const uint8_t* in, size_t width) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

// An entry path as messages show it: the stored bytes in single quotes.
inline std::string QuotedPath(std::string_view path) {
  std::string text;
  text.reserve(path.size() + 2);
  text += '\'';
  text += path;
  text += '\'';
  return text;
}

// Writes "KVP1" and version 1. False when the sink fails.
inline bool WriteArchiveHeader(ByteSink& sink) {
  uint8_t header[kFileHeaderLength];
  for (size_t i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(kArchiveMagic[i]);
  StoreLittleEndian(header + 4, kArchiveVersion, 4);
  return sink.Write(header, sizeof header);
}

// Writes tag 0 and the number of file records. False when the sink fails.
inline bool WriteEndRecord(ByteSink& sink, uint64_t fileCount) {
  uint8_t record[kEndRecordLength];
  record[0] = kTagEnd;
  StoreLittleEndian(record + 1, fileCount, 8);
  return sink.Write(record, sizeof record);
}

}  // namespace kestrova::payload
