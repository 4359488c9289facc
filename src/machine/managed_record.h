// record-managed: whether this installation counts as centrally managed (a silent fresh install without an explicit
// auto-update choice) and which auto-update choice the installer received, written as "ManagedInstall" and
// "InstallAutoUpdate" under the Update key. The decisions are pure; the key is reached through UpdateKeyStore so
// the command runs against a double in the tests. Messages go through Report with the prefix "managed: ".
#pragma once

#include <cstdint>
#include <string>

#include "core/state_location.h"

namespace kestrova::machine {

enum class RunKind : uint32_t {
  FreshInstall = 0,
  RepairOrReinstall = 1,
  SelfUpdate = 2,
};

// SelfUpdate when the self-update text is exactly "1", else RepairOrReinstall when REINSTALL is not empty.
RunKind ClassifyRun(const std::string& reinstall, const std::string& selfUpdate);

// "0" or "1", nothing else.
bool IsValidAutoUpdateChoice(const std::string& autoUpdate);

// Whether the UILevel text is a plain decimal number (digits only, at most 4294967295) whose low four bits are 2,
// the installer's "no user interface" whatever flags are added above them: "2" and "34" are silent; "2x", " 2",
// "+2", "" and "5" are not.
bool IsSilentUiLevel(const std::string& uiLevel);

// What a fresh install writes: ManagedInstall 1 or 0; InstallAutoUpdate 0 or 1 for a valid choice, or deleted.
struct ManagedRecord {
  uint32_t managedInstall = 0;
  bool deleteAutoUpdate = true;
  uint32_t autoUpdate = 0;
};
ManagedRecord DecideManagedRecord(const std::string& uiLevel, const std::string& autoUpdate);

// The Update key of one run. Each call returns 0 or the Win32 error.
class UpdateKeyStore {
 public:
  virtual ~UpdateKeyStore() = default;
  // Creates or opens the state key's "Update" subkey for setting values (64-bit view, non-volatile).
  virtual long Open(const StateLocation& location) = 0;
  virtual long WriteDword(const wchar_t* name, uint32_t value) = 0;
  // kErrorFileNotFound (2) when the value was not there.
  virtual long DeleteValue(const wchar_t* name) = 0;
};

// The command: warns about an auto-update text other than "", "0" or "1"; keeps the values on a repair,
// reinstall or self-update; otherwise writes them. An empty state key (the hive's root) is refused with an
// ERROR line. Always 0.
int RecordManaged(UpdateKeyStore& store, const StateLocation& location, const std::string& uiLevel,
                  const std::string& autoUpdate, const std::string& reinstall, const std::string& selfUpdate);

}  // namespace kestrova::machine
