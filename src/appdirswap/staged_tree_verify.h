// The check a staged tree must pass before it may become APPDIR: every file its manifest.json lists exists with the
// listed size and SHA-256. Reads the files directly (Windows file API and CNG), not through IFileSystem; it changes
// nothing and does not look at files the manifest does not list. Windows only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/text.h"

namespace kestrova::appdirswap {

// A manifest larger than this is not read; it is the only thing held in memory whole.
inline constexpr uint64_t kMaxManifestBytes = 64ull << 20;
// Files are hashed in chunks of this size.
inline constexpr uint32_t kVerifyChunkBytes = 1u << 20;

struct VerifyResult {
  bool parsed = false;  // the manifest was read and parsed
  size_t files = 0;     // entries listed (0 when not parsed)
  size_t missing = 0;   // entries whose attributes cannot be read
  size_t damaged = 0;   // entries that exist but are not a readable regular file of the listed size and digest
  // Why the manifest is unusable ("manifest.json is missing or unreadable", "manifest.json: <parser's reason>",
  // "manifest.json lists no files"), or the manifest path of the first missing or damaged entry; empty when all is
  // well.
  std::string detail;
};

// Checks `folder` (a drive path, with or without "\\?\") against its manifest.json.
VerifyResult VerifyStagedTree(const WideString& folder);

// The verifier the swap and repair commands hand to the engine: VerifyStagedTree, timed, then one line
// "swap: verified <n> files of <folder> in <s>s: <m> missing, <d> damaged[; first: <detail>]". True only when the
// manifest was parsed, lists at least one file, and none is missing or damaged.
bool VerifyAndLog(const WideString& folder);

}  // namespace kestrova::appdirswap
