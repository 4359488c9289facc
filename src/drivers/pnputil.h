// How the driver commands ask pnputil for something: the argument texts, and the run itself (the Windows side
// runs <system folder>\pnputil.exe through the system tool runner with its 10-minute limit and logs the output).
#pragma once

#include <string>
#include <string_view>

namespace kestrova::drivers {

// /add-driver "<inf>" /install
std::string AddDriverArguments(std::string_view inf);

// /delete-driver <published name> /uninstall (the name unquoted, as the INF folder lists it)
std::string DeleteDriverArguments(std::string_view publishedName);

#ifdef _WIN32
// Runs pnputil with the argument text (run lines logged with "drivers", output lines with "pnputil").
// Returns its exit code, -1 when it could not be run to the end.
long RunPnputil(const std::string& arguments);
#endif

}  // namespace kestrova::drivers
