// Packing a delta update: which files of the new tree are taken from the base archive's files (equal content, any
// path), which are patched against the base file of the same path, and which go whole; then the whole version 2
// archive. Walking, hashing and opening the new tree's files stay with the pack command of each build.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "payload/archive_format.h"
#include "payload/byte_stream.h"

namespace kestrova::payload {

// A changed file larger than this (or whose base file is) goes whole: patching holds the base file, the new file
// and the patch in memory at once, so a delta pack needs at most about three times this plus 16 MiB for the
// patch's table and 12 MiB per compression worker.
inline constexpr uint64_t kMaxPatchedFileBytes = 256u << 20;

// Opens file `index` of the list for reading; null with *error on failure.
using OpenContent = std::function<std::unique_ptr<ByteSource>(size_t index, std::string* error)>;

struct DeltaCounts {
  uint64_t references = 0;
  uint64_t patches = 0;
  uint64_t whole = 0;
};

// Writes the delta archive of `files` (archive order, each with the size and SHA-256 its content had when hashed)
// against `base`, a full archive whose source can start over (Rewind): read once for its entries and identity, then
// again for the content of the files that are patched. Failures, the pack's "pack failed: <text>":
//   "base: <reader's text>" (a delta as base: "base: a delta update, ..."), "could not read the base again",
//   the Writer's texts, "<opener's text>", "'<path>' changed while being packed".
bool WriteDeltaArchive(ByteSink& sink, ByteSource& base, const std::vector<Entry>& files, const OpenContent& open,
                       unsigned workers, DeltaCounts* counts, std::string* error);

}  // namespace kestrova::payload
