#include <windows.h>

#include <cpuid.h>

#include <cstring>

#include "core/text.h"
#include "drivers/commands.h"
#include "drivers/npu_install.h"
#include "drivers/pnputil.h"
#include "drivers/trusted_source.h"

namespace kestrova::drivers {
namespace {

class Win32NpuSystem : public NpuSystem {
 public:
  std::string CpuVendor() override {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    char vendor[12];
    std::memcpy(vendor, &ebx, 4);
    std::memcpy(vendor + 4, &edx, 4);
    std::memcpy(vendor + 8, &ecx, 4);
    // A vendor text with a zero byte inside is shorter than 12 characters, as a C string would read it.
    return std::string(vendor, strnlen(vendor, sizeof vendor));
  }

  NativeMachineQuery NativeMachine() override {
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (IsWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) return {true, nativeMachine, 0};
    const DWORD error = GetLastError();
    return {false, 0, error};
  }

  bool InfExists(const std::string& inf) override {
    const WideString wide = Utf8ToWide(inf);
    return !wide.empty() && GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::string FileVerdict(const std::string& inf) override { return TrustedSourceVerdict(Utf8ToWide(inf), true); }

  long RunPnputil(const std::string& arguments) override { return drivers::RunPnputil(arguments); }
};

}  // namespace

int InstallNpu(const std::string& inf) {
  Win32NpuSystem system;
  return InstallNpu(system, inf);
}

}  // namespace kestrova::drivers
