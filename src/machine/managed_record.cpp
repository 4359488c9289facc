#include "machine/managed_record.h"

#include "core/report.h"
#include "machine/state_key.h"

namespace kestrova::machine {

RunKind ClassifyRun(const std::string& reinstall, const std::string& selfUpdate) {
  if (selfUpdate == "1") return RunKind::SelfUpdate;
  if (!reinstall.empty()) return RunKind::RepairOrReinstall;
  return RunKind::FreshInstall;
}

bool IsValidAutoUpdateChoice(const std::string& autoUpdate) { return autoUpdate == "0" || autoUpdate == "1"; }

bool IsSilentUiLevel(const std::string& uiLevel) {
  if (uiLevel.empty()) return false;
  uint64_t value = 0;
  for (const char c : uiLevel) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    // Past 32 bits the text names no UI level; stopping here also keeps the arithmetic from overflowing.
    if (value > 0xFFFFFFFFull) return false;
  }
  return (value & 0xF) == 2;
}

ManagedRecord DecideManagedRecord(const std::string& uiLevel, const std::string& autoUpdate) {
  ManagedRecord record;
  const bool choice = IsValidAutoUpdateChoice(autoUpdate);
  record.managedInstall = IsSilentUiLevel(uiLevel) && !choice ? 1 : 0;
  record.deleteAutoUpdate = !choice;
  record.autoUpdate = autoUpdate == "1" ? 1 : 0;
  return record;
}

int RecordManaged(UpdateKeyStore& store, const StateLocation& location, const std::string& uiLevel,
                  const std::string& autoUpdate, const std::string& reinstall, const std::string& selfUpdate) {
  const RunKind kind = ClassifyRun(reinstall, selfUpdate);
  if (!autoUpdate.empty() && !IsValidAutoUpdateChoice(autoUpdate)) {
    Report(kReportWarning, "managed: ignoring CORVELLA_AUTOUPDATE '%s'; only 0 or 1 is accepted", autoUpdate.c_str());
  }
  if (kind != RunKind::FreshInstall) {
    Report(kReportInfo, "managed: repair or self-update; keeping ManagedInstall and InstallAutoUpdate");
    return 0;
  }
  if (NamesHiveRoot(location)) {
    Report(kReportError, "managed: the state key is empty; not writing below the root of the hive");
    return 0;
  }
  const ManagedRecord record = DecideManagedRecord(uiLevel, autoUpdate);
  const long opened = store.Open(location);
  if (opened != 0) {
    Report(kReportError, "managed: could not open %s: %ld", UpdateKeyPath(location).c_str(), opened);
    return 0;
  }
  const long wrote = store.WriteDword(L"ManagedInstall", record.managedInstall);
  if (wrote != 0) {
    Report(kReportError, "managed: could not write ManagedInstall: %ld", wrote);
  } else {
    Report(kReportInfo, "managed: ManagedInstall=%lu (UILevel '%s', CORVELLA_AUTOUPDATE '%s')",
           static_cast<unsigned long>(record.managedInstall), uiLevel.c_str(), autoUpdate.c_str());
  }
  if (record.deleteAutoUpdate) {
    const long deleted = store.DeleteValue(L"InstallAutoUpdate");
    if (deleted == 0) {
      Report(kReportInfo, "managed: deleted InstallAutoUpdate (no CORVELLA_AUTOUPDATE on this install)");
    } else if (deleted != kErrorFileNotFound) {
      Report(kReportError, "managed: could not delete InstallAutoUpdate: %ld", deleted);
    }
  } else {
    const long written = store.WriteDword(L"InstallAutoUpdate", record.autoUpdate);
    if (written != 0) {
      Report(kReportError, "managed: could not write InstallAutoUpdate: %ld", written);
    } else {
      Report(kReportInfo, "managed: InstallAutoUpdate=%lu", static_cast<unsigned long>(record.autoUpdate));
    }
  }
  return 0;
}

}  // namespace kestrova::machine
