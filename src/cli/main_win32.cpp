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
