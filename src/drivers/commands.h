// The driver and certificate commands as the dispatcher calls them: install-vdd, remove-vdd, install-npu and
// install-cert on this machine. Windows build only; the decisions behind them are in vdd_install.h and
// npu_install.h, the certificate thumbprint in certificate.h.
#pragma once

#include <string>

#include "core/text.h"

namespace kestrova::drivers {

// The INF folder (UTF-8, already cleaned up as a folder argument) and the hardware id. 0 installed, 1 failed.
int InstallVdd(const std::string& infFolder, const std::string& hardwareId);
// Always 0.
int RemoveVdd(const std::string& hardwareId);
// The --inf value unchanged. 0, or 1 when the INF is refused as not admin-only.
int InstallNpu(const std::string& inf);
// The --cer value unchanged. 0 when the certificate is in both LocalMachine stores afterwards, else 1.
int InstallCert(const WideString& certificate);

}  // namespace kestrova::drivers
