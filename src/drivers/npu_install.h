// install-npu as decisions: only on an Intel processor whose machine is x64 natively, only when the INF exists,
// and never failing the install. The processor, the machine type, the file check and pnputil are reached through
// NpuSystem, so the decisions run against a scripted double in the tests. Messages are reported through Report.
#pragma once

#include <string>

namespace kestrova::drivers {

constexpr unsigned short kMachineAmd64 = 0x8664;

struct NativeMachineQuery {
  bool succeeded = false;
  unsigned short machine = 0;  // when succeeded
  unsigned long error = 0;     // the last error when not
};

class NpuSystem {
 public:
  virtual ~NpuSystem() = default;
  // The 12-character vendor text of processor information leaf 0 (EBX, EDX, ECX), "GenuineIntel" on Intel.
  virtual std::string CpuVendor() = 0;
  // IsWow64Process2 for this process: the native machine of the system.
  virtual NativeMachineQuery NativeMachine() = 0;
  virtual bool InfExists(const std::string& inf) = 0;
  // Why the INF must not be used (see trusted_source.h); empty when it may.
  virtual std::string FileVerdict(const std::string& inf) = 0;
  // Runs pnputil and logs its output; returns its exit code or -1.
  virtual long RunPnputil(const std::string& arguments) = 0;
};

// 0 for a skipped or failed NPU driver, which is logged and the install goes on; 1 only for an INF refused by its
// FileVerdict (ERROR "drivers: SECURITY: <inf> is not admin-only (<verdict>); not using it"), before pnputil runs.
int InstallNpu(NpuSystem& system, const std::string& inf);

}  // namespace kestrova::drivers
