#include "drivers/driver_version.h"

namespace kestrova::drivers {

std::optional<DriverVersion> ParseDriverVersion(std::string_view text) {
  DriverVersion version{};
  size_t part = 0;
  size_t start = 0;
  for (;;) {
    if (part == version.size()) return std::nullopt;
    size_t end = text.find('.', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view digits = text.substr(start, end - start);
    // 18 digits always fit in 64 bits, so the sum below cannot wrap.
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (const char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    version[part++] = value;
    if (end == text.size()) return version;
    start = end + 1;
  }
}

bool SameDriverVersion(std::string_view a, std::string_view b) {
  const auto parsedA = ParseDriverVersion(a);
  const auto parsedB = ParseDriverVersion(b);
  if (parsedA && parsedB) return *parsedA == *parsedB;
  return a == b;
}

}  // namespace kestrova::drivers
