#include "drivers/vdd_install.h"

#include "core/report.h"
#include "drivers/driver_version.h"
#include "drivers/pnputil.h"
#include "drivers/trusted_source.h"
#include "drivers/vdd_rules.h"

namespace kestrova::drivers {
namespace {

bool AnyDeviceRuns(VddSystem& system, size_t devices, const std::string& version) {
  for (size_t i = 0; i < devices; ++i) {
    if (SameDriverVersion(system.DeviceDriverVersion(i), version)) return true;
  }
  return false;
}

}  // namespace

std::string FindVddInf(VddSystem& system, const std::string& folder) {
  return PickVddInf(folder, system.ListFilesBelow(folder)).value_or("");
}

int InstallVdd(VddSystem& system, const std::string& infFolder, const std::string& hardwareId) {
  if (RefusedSource(infFolder, system.FolderVerdict(infFolder))) return 1;
  const std::string inf = FindVddInf(system, infFolder);
  if (inf.empty()) {
    Report(kReportError, "drivers: no single VDD INF under %s", infFolder.c_str());
    return 1;
  }
  if (RefusedSource(inf, system.FileVerdict(inf))) return 1;
  const std::string package = system.ReadDriverVer(inf);
  if (package.empty()) {
    Report(kReportError, "drivers: could not read DriverVer from %s", inf.c_str());
    return 1;
  }
  // No device can ever match an empty id, so a node created with it would be left behind on every run and the
  // install would still end in failure after pnputil.
  if (hardwareId.empty()) {
    Report(kReportError, "drivers: the hardware id is empty; no device node is created without one");
    return 1;
  }

  const size_t devices = system.ListDevices(hardwareId);
  if (devices == 0) {
    Report(kReportInfo, "drivers: no %s device yet", hardwareId.c_str());
    if (!system.CreateDeviceNode(inf, hardwareId)) return 1;
  } else {
    bool allCurrent = true;
    for (size_t i = 0; i < devices; ++i) {
      const std::string running = system.DeviceDriverVersion(i);
      Report(kReportInfo, "drivers: %s runs driver version '%s', package is %s", hardwareId.c_str(), running.c_str(),
             package.c_str());
      if (!SameDriverVersion(running, package)) allCurrent = false;
    }
    if (allCurrent) {
      Report(kReportInfo, "drivers: VDD %s already installed; skipping", package.c_str());
      return 0;
    }
  }

  const long code = system.RunPnputil(AddDriverArguments(inf));
  if (code == 3010) {
    Report(kReportWarning, "drivers: pnputil asked for a reboot (3010). Release defect: installs must never need one (D9)");
  }
  if (code != 0 && code != 259 && code != 3010) {
    Report(kReportError, "drivers: pnputil failed with %ld", code);
    return 1;
  }
  if (!AnyDeviceRuns(system, system.ListDevices(hardwareId), package)) {
    Report(kReportError, "drivers: pnputil returned %ld but no %s device runs %s", code, hardwareId.c_str(),
           package.c_str());
    return 1;
  }
  Report(kReportInfo, "drivers: VDD %s installed (pnputil %ld)", package.c_str(), code);
  return 0;
}

int RemoveVdd(VddSystem& system, const std::string& hardwareId) {
  std::set<std::string> packages = system.FindPublishedVddPackages();
  const size_t devices = system.ListDevices(hardwareId);
  for (size_t i = 0; i < devices; ++i) {
    const std::string published = system.DeviceInfPath(i);
    if (IsPublishedInfName(published)) {
      packages.insert(published);
    } else if (!published.empty()) {
      Report(kReportWarning, "drivers: a %s device names the driver package '%s', which is not a published INF name; "
             "not deleting it", hardwareId.c_str(), published.c_str());
    }
    const DeviceRemoval removal = system.UninstallDevice(i);
    if (removal.removed) {
      Report(kReportInfo, "drivers: removed a %s device node%s", hardwareId.c_str(),
             removal.rebootRequested ? " (reboot requested)" : "");
    } else {
      Report(kReportWarning, "drivers: could not remove a %s device node: %lu", hardwareId.c_str(), removal.error);
    }
  }
  for (const std::string& name : packages) {
    const long code = system.RunPnputil(DeleteDriverArguments(name));
    if (code != 0) Report(kReportWarning, "drivers: pnputil /delete-driver %s returned %ld", name.c_str(), code);
  }
  if (devices == 0 && packages.empty()) Report(kReportInfo, "drivers: no VDD device or package to remove");
  return 0;
}

}  // namespace kestrova::drivers
