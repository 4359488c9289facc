#include "drivers/pnputil.h"

namespace kestrova::drivers {

std::string AddDriverArguments(std::string_view inf) {
  std::string arguments = "/add-driver \"";
  arguments += inf;
  arguments += "\" /install";
  return arguments;
}

std::string DeleteDriverArguments(std::string_view publishedName) {
  std::string arguments = "/delete-driver ";
  arguments += publishedName;
  arguments += " /uninstall";
  return arguments;
}

}  // namespace kestrova::drivers
