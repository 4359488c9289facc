// The Update key behind UpdateKeyStore: created or opened once per run in the 64-bit view, closed with the store.
#include "machine/commands.h"
#include "machine/managed_record.h"
#include "machine/state_key.h"

namespace kestrova::machine {
namespace {

class Win32UpdateKeyStore : public UpdateKeyStore {
 public:
  long Open(const StateLocation& location) override {
    return CreateStateKey(location, UpdateKeyPath(location), KEY_SET_VALUE, &key_);
  }
  long WriteDword(const wchar_t* name, uint32_t value) override {
    const DWORD data = value;
    return RegSetValueExW(key_.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
  }
  long DeleteValue(const wchar_t* name) override { return RegDeleteValueW(key_.get(), name); }

 private:
  RegKey key_;
};

}  // namespace

int RecordManaged(const StateLocation& location, const std::string& uiLevel, const std::string& autoUpdate,
                  const std::string& reinstall, const std::string& selfUpdate) {
  Win32UpdateKeyStore store;
  return RecordManaged(store, location, uiLevel, autoUpdate, reinstall, selfUpdate);
}

}  // namespace kestrova::machine
