#include "drivers/trusted_source.h"

#include "core/report.h"

namespace kestrova::drivers {

bool RefusedSource(const std::string& path, const std::string& verdict) {
  if (verdict.empty()) return false;
  Report(kReportError, "drivers: SECURITY: %s is not admin-only (%s); not using it", path.c_str(), verdict.c_str());
  return true;
}

}  // namespace kestrova::drivers
