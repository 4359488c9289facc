// The machine-settings commands as the dispatcher calls them: reserve-ports, release-ports, record-managed and
// uninstall on this machine. Windows build only; the decisions behind them are in port_reservation.h,
// managed_record.h and uninstall_rules.h.
#pragma once

#include <string>

#include "cli/run_context.h"

namespace kestrova::machine {

// 0 covered already, 1 failed, 3 added by this run, 5 held by dynamic reservations.
int ReservePorts(const StateLocation& location);
// Always 0.
int ReleasePorts(const StateLocation& location);
// The UTF-8 values of --uilevel, --autoupdate, --reinstall and --selfupdate (absent ones empty). Always 0.
int RecordManaged(const StateLocation& location, const std::string& uiLevel, const std::string& autoUpdate,
                  const std::string& reinstall, const std::string& selfUpdate);

}  // namespace kestrova::machine
