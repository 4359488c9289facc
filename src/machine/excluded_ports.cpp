#include "machine/excluded_ports.h"

namespace kestrova::machine {
namespace {

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> tokens;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) tokens.push_back(line.substr(start, i - start));
  }
  return tokens;
}

// 1 to 5 decimal digits, at most 65535; a sixth digit is refused before it could overflow anything.
bool ParsePort(std::string_view token, uint32_t* port) {
  if (token.empty() || token.size() > 5) return false;
  uint32_t value = 0;
  for (const char c : token) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > 65535) return false;
  *port = value;
  return true;
}

bool Contains(const PortExclusion& exclusion, uint32_t port) {
  return exclusion.start <= port && port <= exclusion.end;
}

}  // namespace

std::vector<PortExclusion> ParseExcludedPortRanges(std::string_view output) {
  std::vector<PortExclusion> exclusions;
  size_t start = 0;
  while (start <= output.size()) {
    size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    const std::vector<std::string_view> tokens = Tokens(output.substr(start, end - start));
    start = end + 1;
    const bool marked = tokens.size() == 3 && tokens[2] == "*";
    if (tokens.size() != 2 && !marked) continue;
    PortExclusion exclusion;
    if (!ParsePort(tokens[0], &exclusion.start) || !ParsePort(tokens[1], &exclusion.end)) continue;
    if (exclusion.end < exclusion.start) continue;
    exclusion.administered = marked;
    exclusions.push_back(exclusion);
  }
  return exclusions;
}

PortRangeState ClassifyPortRange(const std::vector<PortExclusion>& exclusions) {
  uint32_t administered = 0;
  uint32_t dynamic = 0;
  for (uint32_t port = kFirstReservedPort; port <= kLastReservedPort; ++port) {
    bool inAdministered = false;
    bool inDynamic = false;
    for (const PortExclusion& exclusion : exclusions) {
      if (!Contains(exclusion, port)) continue;
      (exclusion.administered ? inAdministered : inDynamic) = true;
    }
    if (inAdministered) {
      ++administered;
    } else if (inDynamic) {
      ++dynamic;
    }
  }
  if (administered == kReservedPortCount) return PortRangeState::AllAdministered;
  if (administered > 0) return PortRangeState::PartlyAdministered;
  if (dynamic == kReservedPortCount) return PortRangeState::AllDynamic;
  if (dynamic > 0) return PortRangeState::PartlyDynamic;
  return PortRangeState::Free;
}

std::string DescribeExclusionsTouchingRange(const std::vector<PortExclusion>& exclusions) {
  std::string description;
  for (const PortExclusion& exclusion : exclusions) {
    if (exclusion.end < kFirstReservedPort || exclusion.start > kLastReservedPort) continue;
    if (!description.empty()) description += ", ";
    description += std::to_string(exclusion.start) + "-" + std::to_string(exclusion.end);
    if (exclusion.administered) description += "*";
  }
  return description.empty() ? "none" : description;
}

bool HasExactAdministeredExclusion(const std::vector<PortExclusion>& exclusions) {
  for (const PortExclusion& exclusion : exclusions) {
    if (exclusion.administered && exclusion.start == kFirstReservedPort && exclusion.end == kLastReservedPort) {
      return true;
    }
  }
  return false;
}

std::string PortExclusionChangeArguments(std::string_view verb) {
  std::string arguments = "int ipv4 ";
  arguments += verb;
  arguments += " excludedportrange protocol=tcp startport=" + std::to_string(kFirstReservedPort) +
               " numberofports=" + std::to_string(kReservedPortCount) + " store=persistent";
  return arguments;
}

}  // namespace kestrova::machine
