// The virtual display driver's machine on Windows: the INF folder walk, SetupAPI for INF files and device nodes,
// newdev for removing a device, the Windows INF folder for published copies, and pnputil. Paths and texts are
// UTF-8 on this side and UTF-16 at every system call, so non-ASCII folders work whatever the ANSI code page.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <vector>

#include "core/unique_handle_win32.h"
#include "drivers/vdd_install.h"

namespace kestrova::drivers {

class Win32VddSystem : public VddSystem {
 public:
  std::string FolderVerdict(const std::string& folder) override;
  std::string FileVerdict(const std::string& file) override;
  std::vector<std::string> ListFilesBelow(const std::string& folder) override;
  std::string ReadDriverVer(const std::string& inf) override;
  size_t ListDevices(const std::string& hardwareId) override;
  std::string DeviceDriverVersion(size_t index) override;
  std::string DeviceInfPath(size_t index) override;
  DeviceRemoval UninstallDevice(size_t index) override;
  bool CreateDeviceNode(const std::string& inf, const std::string& hardwareId) override;
  std::set<std::string> FindPublishedVddPackages() override;
  long RunPnputil(const std::string& arguments) override;

 private:
  DevInfoList list_;
  std::vector<SP_DEVINFO_DATA> devices_;
};

}  // namespace kestrova::drivers
