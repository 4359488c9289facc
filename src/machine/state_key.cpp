#include "machine/state_key.h"

namespace kestrova::machine {

std::string UpdateKeyPath(const StateLocation& location) { return location.key + "\\Update"; }

}  // namespace kestrova::machine
