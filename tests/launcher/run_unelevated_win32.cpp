// RunUnelevated.exe <program> [arguments...]: starts the program with the linked token of our own elevated
// token, so an end-to-end test can run the tool as an unelevated administrator, waits for it and returns its
// exit code. Standard handles are passed through so the test captures the child's output. Tests only.
#include <windows.h>

#include <cstdio>
#include <string>

#include "core/unique_handle_win32.h"

namespace {

// Quotes one argument so that CommandLineToArgvW and the C runtime give it back unchanged.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

int Fail(const char* what) {
  const DWORD error = GetLastError();
  std::fprintf(stderr, "RunUnelevated: %s failed: %lu\n", what, error);
  return 255;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: RunUnelevated <program> [arguments...]\n", stderr);
    return 255;
  }
  std::wstring commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine.push_back(L' ');
    commandLine += Quote(argv[i]);
  }

  kestrova::KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return Fail("OpenProcessToken");
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    return Fail("GetTokenInformation(TokenLinkedToken)");
  }
  kestrova::KernelHandle unelevated(linked.LinkedToken);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessAsUserW(unelevated.get(), argv[1], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &process)) {
    return Fail("CreateProcessAsUserW");
  }
  kestrova::KernelHandle child(process.hProcess);
  kestrova::KernelHandle thread(process.hThread);
  WaitForSingleObject(child.get(), INFINITE);
  DWORD code = 255;
  GetExitCodeProcess(child.get(), &code);
  return static_cast<int>(code);
}
