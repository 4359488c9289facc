// install-vdd and remove-vdd as decisions: which INF, whether the device runs the shipped version, when pnputil
// runs and how its code is judged, what is removed. Every machine access goes through VddSystem, so the decisions
// run against a scripted double in the tests; the Windows side (SetupAPI, pnputil) implements it. Messages are
// reported through Report with the prefix "drivers: ".
#pragma once

#include <set>
#include <string>
#include <vector>

namespace kestrova::drivers {

struct DeviceRemoval {
  bool removed = false;
  bool rebootRequested = false;
  unsigned long error = 0;  // the system's code when not removed
};

class VddSystem {
 public:
  virtual ~VddSystem() = default;
  // Why no driver package may be taken from the folder, or the INF used (see trusted_source.h); empty when it may.
  virtual std::string FolderVerdict(const std::string& folder) = 0;
  virtual std::string FileVerdict(const std::string& file) = 0;
  // Regular files below the folder, recursively, in walk order, as full paths; links are neither listed nor
  // entered. Empty when the folder cannot be opened.
  virtual std::vector<std::string> ListFilesBelow(const std::string& folder) = 0;
  // The DriverVer version field of the INF's Version section, trimmed; "" on any failure.
  virtual std::string ReadDriverVer(const std::string& inf) = 0;
  // Lists the devices (present or not) with the hardware id and returns their number; the Device* calls below
  // take an index into the latest listing.
  virtual size_t ListDevices(const std::string& hardwareId) = 0;
  // The device's driver version property, trimmed; "" when it has none.
  virtual std::string DeviceDriverVersion(size_t index) = 0;
  // The "InfPath" of the device's driver key (the published name); "" when unknown.
  virtual std::string DeviceInfPath(size_t index) = 0;
  virtual DeviceRemoval UninstallDevice(size_t index) = 0;
  // Creates a root device node of the INF's class with the hardware id; logs its own success or failure.
  virtual bool CreateDeviceNode(const std::string& inf, const std::string& hardwareId) = 0;
  // Published copies of the package in the Windows INF folder ("oem12.inf"), ordered byte-wise.
  virtual std::set<std::string> FindPublishedVddPackages() = 0;
  // Runs pnputil and logs its output; returns its exit code or -1.
  virtual long RunPnputil(const std::string& arguments) = 0;
};

// The VDD INF below the folder (PickVddInf over the folder's files), or "" when there is no single one.
std::string FindVddInf(VddSystem& system, const std::string& folder);

// Makes sure a device with the hardware id exists and runs the package's DriverVer. The folder is judged before it is
// searched and the INF found before it is read: a verdict is ERROR "drivers: SECURITY: <path> is not admin-only
// (<verdict>); not using it". Returns 0 when the device runs the package (already or after pnputil), 1 otherwise.
int InstallVdd(VddSystem& system, const std::string& infFolder, const std::string& hardwareId);

// Removes every device with the hardware id and deletes every published copy of the package. Always 0.
int RemoveVdd(VddSystem& system, const std::string& hardwareId);

}  // namespace kestrova::drivers
