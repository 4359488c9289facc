#include "appdirswap/corvella_process.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "core/log.h"
#include "core/text.h"
#include "core/unique_handle_win32.h"

namespace kestrova::appdirswap {

bool CorvellaRunningCheck() {
  // The snapshot reports failure as INVALID_HANDLE_VALUE, hence the file-handle owner.
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return false;
  // The wide entries: the name is matched on its ASCII parts either way, and the log line must be UTF-8, which the
  // ANSI code page would not give for a name outside it.
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::string name;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    name = WideToUtf8(entry.szExeFile);
    if (IsCorvellaProcessName(name)) {
      found = true;
      break;
    }
  }
  snapshot.reset();
  if (!found || entry.th32ProcessID == 0) return false;
  LogInfo("swap: %s is running (PID %lu); leaving the staging dir for Dovrecat", name.c_str(),
          static_cast<unsigned long>(entry.th32ProcessID));
  return true;
}

}  // namespace kestrova::appdirswap
