#include "payload/manifest.h"

#include <charconv>

namespace kestrova::payload {

std::string DigestHex(const Sha256Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(64);
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string FormatManifest(const std::vector<Entry>& entries) {
  std::string text = "{\n  \"files\": [\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    const Entry& entry = entries[i];
    text += "    {\"path\": \"";
    // Paths that passed IsSafeRelativePath hold no quote, backslash or control byte, so raw bytes are valid JSON.
    text += entry.path;
    text += "\", \"size\": ";
    char digits[20];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, entry.size);
    (void)ec;  // 20 digits hold every 64-bit value.
    text.append(digits, end);
    text += ", \"sha256\": \"";
    text += DigestHex(entry.sha256);
    text += "\"}";
    text += i + 1 < entries.size() ? ",\n" : "\n";
  }
  text += "  ]\n}\n";
  return text;
}

WideString EntryTargetPath(WideView folder, std::string_view entryPath) {
  WideString target(folder);
  target += L'\\';
  target += Utf8ToWide(entryPath);
  // The whole result, folder included: a folder given with "/" comes out with "\" too.
  for (wchar_t& c : target) {
    if (c == L'/') c = L'\\';
  }
  return target;
}

}  // namespace kestrova::payload
