// Where the tool keeps its own state in the registry, as the command line chose it. Only the location; what is
// stored there belongs to the machine commands, resolving it from the options to the command line.
#pragma once

#include <string>

namespace kestrova {

// The registry key under which the tool records its state; the local machine hive unless "--state-root hkcu".
// An empty key names the root of the hive itself.
struct StateLocation {
  bool current_user = false;
  std::string key = "SOFTWARE\\Kestrova\\Corvella";
};

}  // namespace kestrova
