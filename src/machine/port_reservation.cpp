#include "machine/port_reservation.h"

#include "core/report.h"
#include "core/system_tool.h"

namespace kestrova::machine {
namespace {

void ReportToolOutput(const std::string& output) {
  for (const std::string& line : ToolOutputLines(output)) Report(kReportInfo, "  netsh: %s", line.c_str());
}

int ReportByState(PortSystem& system, const StateLocation& location, PortRangeState state) {
  switch (state) {
    case PortRangeState::AllAdministered:
      Report(kReportInfo, "ports: %u-%u is already reserved by an administered exclusion%s", kFirstReservedPort,
             kLastReservedPort,
             HasPortReservationMark(system, location) ? " that Corvella added"
                                                      : " that Corvella did not add; an uninstall leaves it");
      return 0;
    case PortRangeState::PartlyAdministered:
      Report(kReportInfo,
             "ports: an administered exclusion Corvella did not add covers part of %u-%u; the SDK binds there, so "
             "leaving it",
             kFirstReservedPort, kLastReservedPort);
      return 0;
    case PortRangeState::PartlyDynamic:
      Report(kReportWarning,
             "ports: a dynamic reservation holds part of %u-%u; the SDK still has a free port. The next Dovrecat "
             "start tries again",
             kFirstReservedPort, kLastReservedPort);
      return kExitPortsDynamic;
    case PortRangeState::AllDynamic:
      Report(kReportWarning,
             "ports: dynamic reservations hold all of %u-%u, so the SDK cannot start until Dovrecat adds the "
             "exclusion at its next start, normally at boot before WSL or Docker reserve ports",
             kFirstReservedPort, kLastReservedPort);
      return kExitPortsDynamic;
    case PortRangeState::Free:
      break;
  }
  // Only reached with Free, which the caller has handled; a state outside the enumeration is a failure.
  return 1;
}

}  // namespace

bool ListPortExclusions(PortSystem& system, std::vector<PortExclusion>* exclusions) {
  exclusions->clear();
  std::string output;
  const long code = system.RunNetsh(kListExclusionsArguments, &output);
  if (code != 0) {
    ReportToolOutput(output);
    Report(kReportError, "ports: netsh could not list the port exclusions (exit %ld)", code);
    return false;
  }
  *exclusions = ParseExcludedPortRanges(output);
  Report(kReportInfo, "ports: %lu exclusions; touching %u-%u: %s", static_cast<unsigned long>(exclusions->size()),
         kFirstReservedPort, kLastReservedPort, DescribeExclusionsTouchingRange(*exclusions).c_str());
  return true;
}

void ChangePortExclusion(PortSystem& system, const char* verb) {
  std::string output;
  const long code = system.RunNetsh(PortExclusionChangeArguments(verb), &output);
  ReportToolOutput(output);
  Report(kReportInfo, "ports: netsh %s exited %ld", verb, code);
}

bool HasPortReservationMark(PortSystem& system, const StateLocation& location) {
  return system.ReadReservationMark(location);
}

void DeletePortReservationMark(PortSystem& system, const StateLocation& location) {
  const long error = system.DeleteReservationMark(location);
  if (error != 0 && error != kErrorFileNotFound) {
    Report(kReportWarning, "ports: could not delete %s\\PortReservation (%ld)", location.key.c_str(), error);
  }
}

int ReservePorts(PortSystem& system, const StateLocation& location) {
  std::vector<PortExclusion> exclusions;
  if (!ListPortExclusions(system, &exclusions)) return 1;
  PortRangeState state = ClassifyPortRange(exclusions);
  if (state == PortRangeState::Free) {
    ChangePortExclusion(system, "add");
    if (!ListPortExclusions(system, &exclusions)) return 1;
    state = ClassifyPortRange(exclusions);
    if (state == PortRangeState::AllAdministered) {
      const long error = system.WriteReservationMark(location);
      if (error != 0) {
        Report(kReportWarning,
               "ports: could not record %s\\PortReservation (%ld); an uninstall will leave the exclusion",
               location.key.c_str(), error);
      }
      Report(kReportInfo, "ports: reserved %u-%u", kFirstReservedPort, kLastReservedPort);
      return kExitPortsReserved;
    }
    if (state == PortRangeState::Free) {
      Report(kReportError, "ports: netsh did not add the %u-%u exclusion", kFirstReservedPort, kLastReservedPort);
      return 1;
    }
    Report(kReportInfo, "ports: the exclusion table changed while adding %u-%u", kFirstReservedPort, kLastReservedPort);
  }
  return ReportByState(system, location, state);
}

int ReleasePorts(PortSystem& system, const StateLocation& location) {
  if (NamesHiveRoot(location)) {
    Report(kReportError, "ports: the state key is empty; not reading or deleting PortReservation at the root of the "
                         "hive");
    return 0;
  }
  if (!HasPortReservationMark(system, location)) {
    Report(kReportInfo, "ports: Corvella did not add a %u-%u exclusion; leaving the exclusion table as it is",
           kFirstReservedPort, kLastReservedPort);
    return 0;
  }
  std::vector<PortExclusion> exclusions;
  if (!ListPortExclusions(system, &exclusions)) return 0;
  if (!HasExactAdministeredExclusion(exclusions)) {
    Report(kReportInfo, "ports: the %u-%u exclusion Corvella added is gone already", kFirstReservedPort,
           kLastReservedPort);
    DeletePortReservationMark(system, location);
    return 0;
  }
  ChangePortExclusion(system, "delete");
  if (!ListPortExclusions(system, &exclusions) || HasExactAdministeredExclusion(exclusions)) {
    Report(kReportError, "ports: could not delete the %u-%u exclusion", kFirstReservedPort, kLastReservedPort);
    return 0;
  }
  DeletePortReservationMark(system, location);
  Report(kReportInfo, "ports: deleted the %u-%u exclusion", kFirstReservedPort, kLastReservedPort);
  return 0;
}

}  // namespace kestrova::machine
