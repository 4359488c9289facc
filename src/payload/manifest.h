// manifest.json, the list of every file an archive put into a folder: its exact text, the small strict grammar
// read back by verification, and where an entry's file lies under a folder. It does not hash or check files on
// disk; extract, verify and the staged-tree check do that with what this module gives them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "payload/archive_format.h"

namespace kestrova::payload {

// The manifest text for `entries`, in their order: a "files" array with one line per entry,
//   {\n  "files": [\n    {"path": "<path>", "size": <size>, "sha256": "<64 lowercase hex>"},\n ... \n  ]\n}\n
// The path bytes are written unchanged; an empty list gives "{\n  \"files\": [\n  ]\n}\n".
// The 64 lowercase hex digits a digest is written as in manifest.json.
std::string DigestHex(const Sha256Digest& digest);

std::string FormatManifest(const std::vector<Entry>& entries);

// Reads manifest text (UTF-8, no escapes accepted) into *entries, which is cleared first. Whitespace (space, tab,
// CR, LF) may stand between any two tokens; keys of a file object come in any order, each exactly once.
// On failure *entries keeps the entries read before the fault and *error receives the first fault only (it is
// not touched when it already holds a text): "expected {\"files\": [", "expected ]}", "trailing data",
// "expected a file object", "expected a key", "bad path", "bad size", "bad sha256", "unexpected key <key>",
// "incomplete file object".
bool ParseManifest(std::string_view text, std::vector<Entry>* entries, std::string* error);

// The Windows path of an entry's file: folder + "\" + the entry path converted strictly from UTF-8 (invalid
// UTF-8 contributes nothing), with every "/" in the result turned into "\". The folder is used as given.
WideString EntryTargetPath(WideView folder, std::string_view entryPath);

#ifdef _WIN32
// Replaces folder\manifest.json (folder in long-path form) with FormatManifest(entries): deletes the old file,
// creates the new one create-new without sharing, writes it whole. False when the old file exists and cannot be
// deleted, when the new one cannot be created, or when a write fails or falls short (a partly written file
// then stays). Reports nothing; the caller words the failure.
bool WriteManifestFile(const WideString& folder, const std::vector<Entry>& entries);
#endif

}  // namespace kestrova::payload
