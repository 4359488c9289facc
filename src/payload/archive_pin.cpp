#include "payload/archive_pin.h"

#include <vector>

#include "payload/manifest.h"
#include "payload/sha256.h"

namespace kestrova::payload {
namespace {

constexpr size_t kDigestDigits = 64;
// Large enough that the installer's stream reads stay few; the hash pass holds nothing else.
constexpr size_t kHashBufferBytes = 1u << 20;

}  // namespace

std::optional<std::string> ParseArchiveDigest(std::string_view text) {
  if (text.size() != kDigestDigits) return std::nullopt;
  std::string digits;
  digits.reserve(kDigestDigits);
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      digits += c;
    } else if (c >= 'a' && c <= 'f') {
      digits += c;
    } else if (c >= 'A' && c <= 'F') {
      digits += static_cast<char>(c - 'A' + 'a');
    } else {
      return std::nullopt;
    }
  }
  return digits;
}

std::string CheckPinnedArchive(ByteSource& source, const std::string& digest, const std::string& package) {
  Sha256 hash;
  std::vector<unsigned char> buffer(kHashBufferBytes);
  for (;;) {
    size_t got = 0;
    if (!source.Read(buffer.data(), buffer.size(), &got)) {
      return "could not read the archive in " + package + " to check its digest";
    }
    hash.Add(buffer.data(), got);
    if (got < buffer.size()) break;
  }
  Sha256Digest actual{};
  if (!hash.Finish(&actual)) return "could not read the archive in " + package + " to check its digest";
  if (DigestHex(actual) != digest) return "the archive in " + package + " does not match the digest the package carries";
  if (!source.Rewind()) return "could not read the archive in " + package + " again after checking its digest";
  return {};
}

}  // namespace kestrova::payload
