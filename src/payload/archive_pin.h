// Pinning the archive a command reads to the digest its installer package carries: the digest text as given on the
// command line, and the check that a whole source hashes to it before anything is written from it. Which file is
// held against writers while that happens is the Windows source's business (archive_source.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "payload/byte_stream.h"

namespace kestrova::payload {

// The SHA-256 digest of --archive-sha256 as 64 lower-case hexadecimal digits; nullopt for any other text (empty,
// shorter or longer, a character that is not a hexadecimal digit). Upper-case digits are accepted.
std::optional<std::string> ParseArchiveDigest(std::string_view text);

// Reads `source` to its end, hashes every byte and, when the digest is `digest` (as ParseArchiveDigest gives it),
// starts the source over with Rewind. Empty on success, otherwise the reason, <package> as given:
//   "the archive in <package> does not match the digest the package carries",
//   "could not read the archive in <package> to check its digest",
//   "could not read the archive in <package> again after checking its digest".
std::string CheckPinnedArchive(ByteSource& source, const std::string& digest, const std::string& package);

}  // namespace kestrova::payload
