// The TCP port exclusion table as netsh prints it ("netsh int ipv4 show excludedportrange protocol=tcp") and the
// product's range 50990-50999 judged against it. Pure text and arithmetic: running netsh and the registry mark
// belong to port_reservation.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::machine {

constexpr uint32_t kFirstReservedPort = 50990;
constexpr uint32_t kReservedPortCount = 10;
constexpr uint32_t kLastReservedPort = kFirstReservedPort + kReservedPortCount - 1;

// One line of the table: start <= end <= 65535; `administered` when the line carried the "*" mark.
struct PortExclusion {
  uint32_t start = 0;
  uint32_t end = 0;
  bool administered = false;

  bool operator==(const PortExclusion&) const = default;
};

// The range against the table; the numbers are fixed.
enum class PortRangeState : uint32_t {
  AllAdministered = 0,
  PartlyAdministered = 1,
  Free = 2,
  PartlyDynamic = 3,
  AllDynamic = 4,
};

// The lines of netsh's output that are ranges, in output order: exactly two tokens, or three whose third is "*",
// each number 1-5 decimal digits and at most 65535, the second not below the first. Titles, column heads, dashes,
// the footnote and every malformed line are skipped. Never fails; any bytes are accepted.
std::vector<PortExclusion> ParseExcludedPortRanges(std::string_view output);

// AllAdministered when every port of 50990-50999 lies in an administered exclusion, PartlyAdministered when some
// do; otherwise AllDynamic / PartlyDynamic by the ports in the other exclusions, Free when none is covered.
PortRangeState ClassifyPortRange(const std::vector<PortExclusion>& exclusions);

// The exclusions that overlap 50990-50999 as "start-end" with "*" after an administered one, joined with ", ";
// "none" when there is none.
std::string DescribeExclusionsTouchingRange(const std::vector<PortExclusion>& exclusions);

// Whether an administered exclusion of exactly 50990-50999 is in the table (the one reserve-ports adds).
bool HasExactAdministeredExclusion(const std::vector<PortExclusion>& exclusions);

// "int ipv4 <verb> excludedportrange protocol=tcp startport=50990 numberofports=10 store=persistent".
std::string PortExclusionChangeArguments(std::string_view verb);

// The listing's arguments: "int ipv4 show excludedportrange protocol=tcp".
inline constexpr const char* kListExclusionsArguments = "int ipv4 show excludedportrange protocol=tcp";

}  // namespace kestrova::machine
