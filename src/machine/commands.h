// The machine-settings commands as the dispatcher calls them: reserve-ports, release-ports, record-managed and
// uninstall on this machine. Windows build only; the decisions behind them are in port_reservation.h,
// managed_record.h and uninstall_rules.h.
#pragma once

#include <string>

#include "core/state_location.h"
#include "core/text.h"

namespace kestrova::machine {

// 0 covered already, 1 failed, 3 added by this run, 5 held by dynamic reservations.
int ReservePorts(const StateLocation& location);
// Always 0.
int ReleasePorts(const StateLocation& location);
// The UTF-8 values of --uilevel, --autoupdate, --reinstall and --selfupdate (absent ones empty). Always 0.
int RecordManaged(const StateLocation& location, const std::string& uiLevel, const std::string& autoUpdate,
                  const std::string& reinstall, const std::string& selfUpdate);

// Whether uninstall refuses APPDIR outright, before any of its steps (the dispatcher's included): a path ParseAppdir
// rejects that depends on a current folder (JudgeRejectedAppDir). Logs ERROR "uninstall: APPDIR <path> <reason>;
// nothing is removed" when it does.
bool RefusesAppDir(const WideString& appdir);

// uninstall's own steps, after the dispatcher has asked RefusesAppDir, removed the recovery task and released the
// ports for the machine root: the folders beside APPDIR, APPDIR when IsRemovableAppDir, the updates folder unless it
// is a drive root or a system folder, and the Update key (not for an empty state key, which names the hive's root).
// An APPDIR that RefusesAppDir refuses removes nothing; any other that ParseAppdir rejects keeps APPDIR and the
// folders beside it with WARN "uninstall: leaving <path> and the folders beside it: <reason>". APPDIR as the
// dispatcher normalised it; the updates folder as resolved. Failures are log lines; always 0.
int Uninstall(const StateLocation& location, const WideString& appdir, const WideString& updates);

// Whether APPDIR (its long-path form) may be removed: not a drive root, not one of the six known folders Program
// Files, Program Files (x86), ProgramData, Windows, the profiles folder and the user's profile, not a folder
// RemovalRefusal refuses, and an existing real folder holding a "manifest.json" that is a file and not a link.
bool IsRemovableAppDir(const WideString& longPath);

// Removes the file or folder tree at the long path if anything is there: INFO "uninstall: removed %s" or ERROR
// "uninstall: could not remove %s: <Win32 code>", both with the display form; nothing is logged when nothing is
// there.
void RemoveIfPresent(const WideString& longPath);

}  // namespace kestrova::machine
