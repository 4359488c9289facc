#include "drivers/pnputil.h"

#include "core/system_tool.h"

namespace kestrova::drivers {

long RunPnputil(const std::string& arguments) {
  std::string output;
  const long code = RunSystemTool("drivers", "pnputil", arguments, kPnputilTimeLimitMs, &output);
  LogToolOutput("pnputil", output);
  return code;
}

}  // namespace kestrova::drivers
