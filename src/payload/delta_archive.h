// The delta update's framing in the archive container (version 2). After the 8-byte header comes the base record:
//   tag 2, the base's identity (32 bytes: the SHA-256 of the manifest.json an extract of the base writes), the
//   number of base files (4 bytes, at most kMaxBaseFiles), and for each: pathLength (2), path, size (8), sha256 (32).
// Records then are file records (tag 1, as in version 1) or
//   tag 3, reference: pathLength (2), path, size (8), sha256 (32), base index (4): the base file itself;
//   tag 4, patch:     the same, then patchLength (8), followed by chunks whose raw lengths add up to patchLength and
//                     carry the patch (delta_patch.h) that makes the file from the base file.
// The end record counts every record of tags 1, 3 and 4. A base index is below the number of base files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/byte_stream.h"

namespace kestrova::payload {

inline constexpr uint32_t kMaxBaseFiles = 1u << 20;
inline constexpr size_t kBaseIndexLength = 4;
inline constexpr size_t kPatchLengthLength = 8;

// A file of the installed version that a delta uses: its path, size and SHA-256 there.
using BaseFile = Entry;

// What a reference or patch record adds to its entry.
struct DeltaRecord {
  uint32_t baseIndex = 0;
  uint64_t patchLength = 0;  // patches only
};

// Writes the version 2 header and the base record. False when the sink fails or a path is unsafe or too long.
bool WriteDeltaHeader(ByteSink& sink, const Sha256Digest& baseId, const std::vector<BaseFile>& baseFiles);

}  // namespace kestrova::payload
