// Applying a delta update against an installed folder: whether the folder holds every base file the delta names
// with the content it names, and the content of the records that take a file from a base file or patch one. Windows
// only. Reading the archive, writing and proving each file and the manifest stay with extract.
#pragma once

#include <string>
#include <vector>

#include "core/text.h"
#include "payload/archive_reader.h"
#include "payload/write_entry.h"

namespace kestrova::payload {

// Empty when every base file of `reader` (after ReadHeader of a delta) lies in `baseFolder` (long-path form) as a
// regular file with its size and SHA-256; otherwise the first that does not, as "'<path>' is missing" or "'<path>'
// differs from the version this update was made from". Hashes on as many threads as a pack compresses on.
std::string MissingBase(const Reader& reader, const WideString& baseFolder);

// The content of a kReference or kPatch record that `reader` has just returned: the base file's bytes (proven by
// MissingBase, then by the caller's read-back), or the patch read from the archive applied to them, proven against
// `entry` ("SHA-256 mismatch in '<path>'"); a base
// file that cannot be opened or read is "could not read the base of '<path>': <code>", a patch that does not apply
// "<PatchDecoder's text> in '<path>'". `buffer` is the copy buffer, kept by the caller for the whole run: fresh
// pages for every file cost more than the copy itself.
ContentProducer DeltaContent(Reader& reader, RecordOutcome outcome, const Entry& entry, const WideString& baseFolder,
                             std::vector<uint8_t>& buffer);

}  // namespace kestrova::payload
