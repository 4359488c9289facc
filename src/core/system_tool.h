// Running a system tool (pnputil, netsh) from the Windows system folder as a child process: its command line,
// its collected output, and how that output reaches the log. Knows nothing of what a tool is asked to do or what
// its exit codes mean; the callers decide. The runner itself and LogToolOutput exist in the Windows build only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

// Time limits the callers pass to RunSystemTool, in milliseconds.
constexpr unsigned long kPnputilTimeLimitMs = 600000;
constexpr unsigned long kNetshTimeLimitMs = 60000;

// "\"<system folder>\<tool>.exe\" <arguments>": the tool quoted, the argument text unchanged.
std::string SystemToolCommandLine(std::string_view systemFolder, std::string_view tool, std::string_view arguments);

// Removes blanks, tabs, carriage returns, line feeds and double quotes from both ends.
std::string_view TrimBlanksAndQuotes(std::string_view text);

// The lines LogToolOutput writes: the output split at line feeds, each piece trimmed as above, empty pieces
// dropped. Bytes are kept as the tool wrote them (no code-page conversion).
std::vector<std::string> ToolOutputLines(std::string_view output);

// Runs <system folder>\<tool>.exe with the argument text, standard output and standard error on one pipe, and
// waits at most timeLimitMs for it. `output` is cleared first and receives every byte the tool wrote (also when
// it was stopped). Returns the tool's exit code, or -1 when it could not be started, ran past its limit (it is
// then terminated), or its exit code could not be read. Logs the command line (INFO "<prefix>: <command line>"),
// a failed start and a time-out with `prefix` ("drivers", "ports"). Arguments are UTF-8.
long RunSystemTool(const char* prefix, const char* tool, const std::string& arguments, unsigned long timeLimitMs,
                   std::string* output);

#ifdef _WIN32
// The runner's wait when it has no reader thread: reads what is in `pipe` (a pipe handle) without ever blocking on
// it, appending it to `collected`, while waiting at most timeLimitMs for `process` (any waitable handle). Returns
// WAIT_OBJECT_0 once it is signalled (after reading what was left in the pipe), WAIT_TIMEOUT when the limit passed,
// or what the wait gave otherwise.
unsigned long DrainWhileWaiting(void* pipe, void* process, unsigned long timeLimitMs, std::string& collected);
#endif

// Logs every line of ToolOutputLines(output) at INFO as "  <prefix>: <line>"; callers pass the tool's name.
void LogToolOutput(const char* prefix, std::string_view output);

}  // namespace kestrova
