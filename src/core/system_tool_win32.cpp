#include "core/system_tool.h"

#include <windows.h>

#include "core/log.h"
#include "core/text.h"
#include "core/unique_handle_win32.h"

namespace kestrova {
namespace {

constexpr DWORD kReadChunk = 4096;
constexpr DWORD kReaderWaitMs = 5000;

struct PipeReader {
  HANDLE pipe;
  std::string collected;
};

void ReadUntilClosed(PipeReader& reader) {
  char chunk[kReadChunk];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(reader.pipe, chunk, sizeof chunk, &got, nullptr) || got == 0) return;
    reader.collected.append(chunk, got);
  }
}

DWORD WINAPI ReaderThread(void* context) {
  ReadUntilClosed(*static_cast<PipeReader*>(context));
  return 0;
}

constexpr DWORD kPollMs = 50;

}  // namespace

unsigned long DrainWhileWaiting(void* pipe, void* process, unsigned long timeLimitMs, std::string& collected) {
  const ULONGLONG start = GetTickCount64();
  char chunk[kReadChunk];
  bool pipeOpen = true;
  for (;;) {
    // Only what is already in the pipe is read, so no read can block; a tool that keeps the pipe open without
    // writing, or a grandchild that inherited it, still meets the time limit.
    DWORD available = 0;
    while (pipeOpen) {
      if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
        pipeOpen = false;  // every writer is gone
        break;
      }
      if (available == 0) break;
      DWORD got = 0;
      if (!ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) || got == 0) {
        pipeOpen = false;
        break;
      }
      collected.append(chunk, got);
    }
    const ULONGLONG elapsed = GetTickCount64() - start;
    if (elapsed >= timeLimitMs) return WaitForSingleObject(process, 0);
    const DWORD left = static_cast<DWORD>(timeLimitMs - elapsed);
    const DWORD waited = WaitForSingleObject(process, left < kPollMs ? left : kPollMs);
    if (waited == WAIT_OBJECT_0) {
      // What the tool wrote just before it ended is still in the pipe.
      while (pipeOpen && PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        if (!ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) || got == 0) {
          break;
        }
        collected.append(chunk, got);
      }
      return WAIT_OBJECT_0;
    }
    if (waited != WAIT_TIMEOUT) return waited;
  }
}

long RunSystemTool(const char* prefix, const char* tool, const std::string& arguments, unsigned long timeLimitMs,
                   std::string* output) {
  output->clear();
  // The wide calls keep a non-ASCII system folder or INF path intact; the log shows the same text in UTF-8.
  wchar_t systemFolder[MAX_PATH];
  const UINT folderLength = GetSystemDirectoryW(systemFolder, MAX_PATH);
  if (folderLength == 0 || folderLength >= MAX_PATH) return -1;
  const std::string commandLine =
      SystemToolCommandLine(WideToUtf8(WideView(systemFolder, folderLength)), tool, arguments);
  WideString wideCommandLine = Utf8ToWide(commandLine);
  if (wideCommandLine.empty()) return -1;

  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  KernelHandle readEnd;
  KernelHandle writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, 0)) return -1;
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd.get();
  startup.hStdError = writeEnd.get();
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);

  LogInfo("%s: %s", prefix, commandLine.c_str());
  PROCESS_INFORMATION started{};
  const BOOL created = CreateProcessW(nullptr, wideCommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &startup, &started);
  const DWORD createError = GetLastError();
  // Only the child may hold the write end now, so the reader sees the end of the pipe when the child is gone.
  writeEnd.reset();
  if (!created) {
    LogError("%s: could not start %s: %lu", prefix, tool, createError);
    return -1;
  }
  KernelHandle process(started.hProcess);
  KernelHandle mainThread(started.hThread);

  PipeReader reader{readEnd.get(), {}};
  KernelHandle readerThread(CreateThread(nullptr, 0, &ReaderThread, &reader, 0, nullptr));
  // Without a thread the pipe is drained while waiting: a tool that fills the pipe would otherwise block on its
  // write while we wait for it to exit, and be terminated for a limit it never had a chance to meet.
  const DWORD waited = readerThread ? WaitForSingleObject(process.get(), timeLimitMs)
                                    : DrainWhileWaiting(readEnd.get(), process.get(), timeLimitMs, reader.collected);
  bool timedOut = false;
  if (waited != WAIT_OBJECT_0) {
    LogError("%s: %s did not finish in %lu s (wait %lu); terminating it", prefix, tool, timeLimitMs / 1000,
             waited);
    TerminateProcess(process.get(), 1);
    timedOut = true;
  }

  if (readerThread) {
    // A grandchild that inherited the write end can keep the pipe open long after the tool exited; the read is
    // cancelled then. The cancel can land before the thread enters ReadFile, so it is repeated after every wait.
    while (WaitForSingleObject(readerThread.get(), kReaderWaitMs) != WAIT_OBJECT_0) {
      CancelSynchronousIo(readerThread.get());
    }
    readerThread.reset();
  }
  readEnd.reset();
  *output = std::move(reader.collected);

  if (timedOut) return -1;
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(process.get(), &exitCode)) return -1;
  return static_cast<long>(exitCode);
}

void LogToolOutput(const char* prefix, std::string_view output) {
  for (const std::string& line : ToolOutputLines(output)) LogInfo("  %s: %s", prefix, line.c_str());
}

}  // namespace kestrova
