#include "payload/safe_path.h"

#include <cstddef>
#include <cstdint>

#include "core/text.h"
#include "payload/archive_format.h"

namespace kestrova::payload {
namespace {

bool IsForbiddenByte(uint8_t b) {
  if (b < 0x20 || b == 0x7F) return true;
  switch (b) {
    case '"':
    case '*':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      return true;
    default:
      return false;
  }
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool StemEquals(std::string_view stem, const char* name) {
  for (size_t i = 0; i < stem.size(); ++i) {
    if (UpperAscii(stem[i]) != name[i]) return false;
  }
  return true;
}

// Windows resolves these names to devices in every folder and with any extension, so "aux.txt" opens the
// AUX device rather than a file. COM0 and LPT0 are not devices, nor is anything longer (CONSOLE, lpt10).
bool IsReservedDeviceName(std::string_view component) {
  const std::string_view stem = component.substr(0, component.find('.'));
  if (stem.size() == 3) {
    return StemEquals(stem, "CON") || StemEquals(stem, "PRN") || StemEquals(stem, "AUX") ||
           StemEquals(stem, "NUL");
  }
  if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') {
    return StemEquals(stem.substr(0, 3), "COM") || StemEquals(stem.substr(0, 3), "LPT");
  }
  return false;
}

// Windows strips a trailing dot or space from a name when it opens it, so "a." and "a " would land on "a".
bool IsSafeComponent(std::string_view component) {
  if (component.empty() || component == "." || component == "..") return false;
  const char last = component.back();
  if (last == '.' || last == ' ') return false;
  return !IsReservedDeviceName(component);
}

}  // namespace

bool IsSafeRelativePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxPathLength) return false;
  if (!IsWellFormedUtf8(path)) return false;
  for (const char c : path) {
    if (IsForbiddenByte(static_cast<uint8_t>(c))) return false;
  }
  size_t start = 0;
  while (true) {
    const size_t slash = path.find('/', start);
    const std::string_view component =
        path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (!IsSafeComponent(component)) return false;
    if (slash == std::string_view::npos) return true;
    start = slash + 1;
  }
}

}  // namespace kestrova::payload
