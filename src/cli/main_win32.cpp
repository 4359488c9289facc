#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/dispatch.h"
#include "cli/options.h"
#include "core/log.h"

namespace {

// A console that was created for this process alone (a double-click, a service starting us) is dropped; one
// shared with a parent shell stays attached.
void DropOwnConsole() {
  if (GetConsoleWindow() == nullptr) return;
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Before anything else: the DLLs we use beyond the KnownDLLs are delay-loaded (cmake/Subsystem.cmake says why),
  // and from here on every load without a full path, theirs and those of the system DLLs they pull in, searches
  // System32 alone. The exe runs elevated and as SYSTEM from folders others may write to; its own folder, the
  // current directory and PATH must never supply a DLL. The empty SetDllDirectoryW also takes the current directory
  // out of the older search order, which a LoadLibraryEx with LOAD_WITH_ALTERED_SEARCH_PATH still uses. If either
  // call fails we stop: going on would let the next load search the exe's folder.
  if (!SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) || !SetDllDirectoryW(L"")) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "KestrovaPayload: could not limit DLL loading to System32: error %lu\n", error);
    return kestrova::kExitFailure;
  }
  DropOwnConsole();
  // Log lines carry their own CRLF and the usage text its own LF; the C runtime must not translate either.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  kestrova::InstallLogReportSink();

  kestrova::Options options;
  if (!kestrova::ParseCommandLine(argc, argv, options)) {
    std::fputs(kestrova::UsageText(), stderr);
    return kestrova::kExitUsage;
  }
  const int code = kestrova::Dispatch(options);
  if (code == kestrova::kExitUsage) std::fputs(kestrova::UsageText(), stderr);
  kestrova::LogInfo("KestrovaPayload %s exit %d", options.command.c_str(), code);
  kestrova::CloseLogFile();
  return code;
}
