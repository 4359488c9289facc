#include "drivers/npu_install.h"

#include "core/report.h"
#include "drivers/pnputil.h"
#include "drivers/trusted_source.h"

namespace kestrova::drivers {
namespace {

void ReportSkipped(const std::string& vendor) {
  Report(kReportInfo, "drivers: CPU vendor '%s' on a non-Intel or non-x64 machine; skipping the Intel NPU driver",
         vendor.c_str());
}

}  // namespace

int InstallNpu(NpuSystem& system, const std::string& inf) {
  const std::string vendor = system.CpuVendor();
  if (vendor.size() != 12 || vendor != "GenuineIntel") {
    ReportSkipped(vendor);
    return 0;
  }
  const NativeMachineQuery query = system.NativeMachine();
  if (!query.succeeded) {
    // With no error code the call gave no answer at all; the tool itself is an x64 build, so that is assumed.
    if (query.error != 0) {
      Report(kReportWarning, "drivers: IsWow64Process2 failed: %lu; assuming the build machine 0x%04X", query.error,
             static_cast<unsigned>(kMachineAmd64));
    }
  } else if (query.machine != kMachineAmd64) {
    ReportSkipped(vendor);
    return 0;
  }
  if (!system.InfExists(inf)) {
    Report(kReportError, "drivers: Intel NPU driver INF not found at %s; skipping it", inf.c_str());
    return 0;
  }
  // Unlike a missing driver, a planted one is not a reason to go on quietly: the install must show it.
  if (RefusedSource(inf, system.FileVerdict(inf))) return 1;
  const long code = system.RunPnputil(AddDriverArguments(inf));
  if (code == 0 || code == 259) {
    Report(kReportInfo, "drivers: Intel NPU driver installed (pnputil %ld)", code);
  } else {
    Report(kReportWarning, "drivers: pnputil returned %ld for the Intel NPU driver; continuing the install", code);
  }
  return 0;
}

}  // namespace kestrova::drivers
