// Feeds arbitrary bytes to the exclusion-table parser and checks what every parsed line promises.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "machine/excluded_ports.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view output(reinterpret_cast<const char*>(data), size);
  const auto exclusions = kestrova::machine::ParseExcludedPortRanges(output);
  for (const auto& exclusion : exclusions) {
    if (exclusion.start > exclusion.end || exclusion.end > 65535) std::abort();
  }
  // Each range needs at least three bytes ("1 1"), and lines are separated by a line feed.
  if (exclusions.size() > size / 4 + 1) std::abort();
  kestrova::machine::ClassifyPortRange(exclusions);
  kestrova::machine::DescribeExclusionsTouchingRange(exclusions);
  return 0;
}
