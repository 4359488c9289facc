// The machine behind PortSystem: netsh from the system folder through the runner, the "PortReservation" mark in
// the registry's 64-bit view.
#include "core/system_tool.h"
#include "machine/commands.h"
#include "machine/port_reservation.h"
#include "machine/state_key.h"

namespace kestrova::machine {
namespace {

constexpr wchar_t kMarkValue[] = L"PortReservation";

class Win32PortSystem : public PortSystem {
 public:
  long RunNetsh(const std::string& arguments, std::string* output) override {
    return RunSystemTool("ports", "netsh", arguments, kNetshTimeLimitMs, output);
  }

  bool ReadReservationMark(const StateLocation& location) override {
    RegKey key;
    if (OpenStateKey(location, location.key, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    // A value longer than four bytes fails with ERROR_MORE_DATA and so counts as not set.
    const LSTATUS status =
        RegQueryValueExW(key.get(), kMarkValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value && value != 0;
  }

  long WriteReservationMark(const StateLocation& location) override {
    RegKey key;
    const long opened = CreateStateKey(location, location.key, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) return opened;
    const DWORD one = 1;
    return RegSetValueExW(key.get(), kMarkValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
  }

  long DeleteReservationMark(const StateLocation& location) override {
    RegKey key;
    const long opened = OpenStateKey(location, location.key, KEY_SET_VALUE, &key);
    if (opened != ERROR_SUCCESS) return opened;
    return RegDeleteValueW(key.get(), kMarkValue);
  }
};

}  // namespace

int ReservePorts(const StateLocation& location) {
  Win32PortSystem system;
  return ReservePorts(system, location);
}

int ReleasePorts(const StateLocation& location) {
  Win32PortSystem system;
  return ReleasePorts(system, location);
}

}  // namespace kestrova::machine
