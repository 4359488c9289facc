// Test helper for the machine commands under Wine: a state location of its own under HKEY_CURRENT_USER, deleted
// with everything below it at the end, and readers of what the commands left there.
#pragma once

#include <windows.h>

#include <string>

#include "core/state_location.h"

namespace kestrova::machine::test {

class TestStateKey {
 public:
  explicit TestStateKey(const std::string& name) {
    location.current_user = true;
    location.key = "Software\\KestrovaTests\\" + name + "-" + std::to_string(GetCurrentProcessId());
    Delete();
  }
  ~TestStateKey() { Delete(); }
  TestStateKey(const TestStateKey&) = delete;
  TestStateKey& operator=(const TestStateKey&) = delete;

  std::wstring Key(const std::string& below = "") const {
    const std::string path = below.empty() ? location.key : location.key + "\\" + below;
    return std::wstring(path.begin(), path.end());
  }

  bool Exists(const std::string& below = "") const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Key(below).c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != 0) return false;
    RegCloseKey(key);
    return true;
  }

  // The value's type and, for a four-byte value, its number; type REG_NONE when it is absent.
  struct Value {
    DWORD type = REG_NONE;
    DWORD size = 0;
    DWORD number = 0;
  };
  Value Read(const std::string& below, const wchar_t* name) const {
    Value value;
    value.size = sizeof value.number;
    if (RegGetValueW(HKEY_CURRENT_USER, Key(below).c_str(), name, RRF_RT_ANY | RRF_SUBKEY_WOW6464KEY, &value.type,
                     &value.number, &value.size) != ERROR_SUCCESS) {
      return Value{};
    }
    return value;
  }

  void SetDword(const std::string& below, const wchar_t* name, DWORD number) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, Key(below).c_str(), name, REG_DWORD, &number, sizeof number);
  }
  void SetText(const std::string& below, const wchar_t* name, const std::wstring& text) const {
    RegSetKeyValueW(HKEY_CURRENT_USER, Key(below).c_str(), name, REG_SZ, text.c_str(),
                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }

  StateLocation location;

 private:
  void Delete() const { RegDeleteTreeW(HKEY_CURRENT_USER, Key().c_str()); }
};

}  // namespace kestrova::machine::test
