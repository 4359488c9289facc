// reserve-ports and release-ports as decisions: when netsh is asked to add or delete the persistent exclusion of
// 50990-50999, how the outcome is verified by listing again, and when the "PortReservation" mark is written or
// removed. netsh and the registry are reached through PortSystem, so the decisions run against a scripted double
// in the tests; the Windows side is port_system_win32.cpp. Messages go through Report with the prefix "ports: ".
#pragma once

#include <string>
#include <vector>

#include "core/state_location.h"
#include "machine/excluded_ports.h"
#include "machine/state_key.h"

namespace kestrova::machine {

// Exit codes of reserve-ports beyond 0 (covered already) and 1 (netsh could not list, or the add did not take).
constexpr int kExitPortsReserved = 3;
constexpr int kExitPortsDynamic = 5;

class PortSystem {
 public:
  virtual ~PortSystem() = default;
  // Runs netsh with the argument text and its 60-second limit (the run line logged with "ports"). Returns its exit
  // code, or -1 when it could not be run to the end; `output` receives every byte it wrote.
  virtual long RunNetsh(const std::string& arguments, std::string* output) = 0;
  // Whether "PortReservation" under the location reads as a REG_DWORD other than 0; any failure reads as no.
  virtual bool ReadReservationMark(const StateLocation& location) = 0;
  // Creates or opens the key (64-bit view) and sets "PortReservation" to the REG_DWORD 1. 0 or the Win32 error.
  virtual long WriteReservationMark(const StateLocation& location) = 0;
  // Deletes "PortReservation". 0, kErrorFileNotFound when the key or the value is missing, or the Win32 error.
  virtual long DeleteReservationMark(const StateLocation& location) = 0;
};

// Lists the table through netsh and logs how many exclusions it has and which touch the range. On a non-zero exit
// code logs netsh's output and an ERROR line, and returns false.
bool ListPortExclusions(PortSystem& system, std::vector<PortExclusion>* exclusions);

// Runs netsh with "add" or "delete" for the range and logs its output and exit code; the caller lists again.
void ChangePortExclusion(PortSystem& system, const char* verb);

bool HasPortReservationMark(PortSystem& system, const StateLocation& location);

// Deletes the mark; a failure other than a missing key or value is a WARN line.
void DeletePortReservationMark(PortSystem& system, const StateLocation& location);

// Adds the exclusion when the range is free, and marks it after a verified add. 0, 1, 3 or 5 as above.
int ReservePorts(PortSystem& system, const StateLocation& location);

// Deletes the exclusion only when the mark says this tool added it; removes the mark after a verified delete or
// when the exclusion is gone already. An empty state key (the hive's root) is refused with an ERROR line before
// the mark is read. Always 0.
int ReleasePorts(PortSystem& system, const StateLocation& location);

}  // namespace kestrova::machine
