// A stand-in for a system tool (pnputil, netsh) in tests. Copied into the test prefix's system folder under the
// tool's name, it follows the script file beside it (same name, extension ".script"), appends the command line it
// received to the file with extension ".calls", writes the scripted bytes and exits with the scripted code.
//
// Script: one "key=value" per line; "#" starts a comment line. "when=<text>" starts a rule that applies when the
// text occurs in the command line after the program name; lines before the first "when" form the rule used when
// no other matches. The first matching rule wins. Keys of a rule:
//   exit=<n>            exit code (default 0; 0x.. accepted)
//   out=<bytes>         bytes to standard output; err=<bytes> to standard error; written in script order.
//                       Escapes: \r \n \t \\ \xHH
//   out-file=<path>     the bytes of a file to standard output (nothing when it is missing)
//   repeat=<n>          write the rule's output n times
//   copy=<from>|<to>    after writing, copy file <from> over <to> (a state file the next call reads)
//   delay=<ms>          sleep before exiting
//   grandchild=<ms>     start a copy of this program that inherits the output handles and sleeps that long
//   device-version=<hardware id>|<version>
//                       set the driver version property of every device node with that hardware id, as a real
//                       pnputil /add-driver /install leaves the devices it updated
//   remove-devices=<hardware id>
//                       remove every device node with that hardware id (test clean-up; Wine has no
//                       DiUninstallDevice)
#include <windows.h>

#include <devpropdef.h>
#include <setupapi.h>

#include <cstdlib>
#include <string>
#include <vector>

// The toolchain's setupapi.h lacks the declaration; its import library has the function.
extern "C" WINSETUPAPI WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                                                DEVPROPTYPE, const BYTE*, DWORD, DWORD);

namespace {

struct Piece {
  bool toError;
  bool fromFile;
  std::string bytes;  // the bytes, or the file's path
};

struct Rule {
  std::string when;
  bool isDefault = true;
  DWORD exitCode = 0;
  std::vector<Piece> pieces;
  unsigned long repeat = 1;
  std::vector<std::pair<std::string, std::string>> copies;
  DWORD delayMs = 0;
  DWORD grandchildMs = 0;
  bool hasGrandchild = false;
  std::vector<std::pair<std::string, std::string>> deviceVersions;
  std::vector<std::string> removeDevices;
};

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), (int)wide.size(), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), (int)text.size(), out.data(), n);
  return out;
}

bool ReadAll(const std::wstring& path, std::string* data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) data->append(buffer, got);
  CloseHandle(file);
  return true;
}

void WriteAll(HANDLE target, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    if (!WriteFile(target, bytes.data() + done, (DWORD)(bytes.size() - done), &wrote, nullptr) || wrote == 0) return;
    done += wrote;
  }
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r') out += '\r';
    else if (c == 'n') out += '\n';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < text.size()) {
      out += (char)std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else out += c;
  }
  return out;
}

std::vector<Rule> ParseScript(const std::string& script) {
  std::vector<Rule> rules(1);
  size_t start = 0;
  while (start < script.size()) {
    size_t end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    Rule& rule = rules.back();
    if (key == "when") {
      rules.emplace_back();
      rules.back().when = value;
      rules.back().isDefault = false;
    } else if (key == "exit") {
      rule.exitCode = (DWORD)std::strtoul(value.c_str(), nullptr, 0);
    } else if (key == "out" || key == "err") {
      rule.pieces.push_back({key == "err", false, Unescape(value)});
    } else if (key == "out-file") {
      rule.pieces.push_back({false, true, value});
    } else if (key == "repeat") {
      rule.repeat = std::strtoul(value.c_str(), nullptr, 0);
    } else if (key == "copy") {
      const size_t bar = value.find('|');
      if (bar != std::string::npos) rule.copies.emplace_back(value.substr(0, bar), value.substr(bar + 1));
    } else if (key == "delay") {
      rule.delayMs = (DWORD)std::strtoul(value.c_str(), nullptr, 0);
    } else if (key == "device-version") {
      const size_t bar = value.find('|');
      if (bar != std::string::npos) rule.deviceVersions.emplace_back(value.substr(0, bar), value.substr(bar + 1));
    } else if (key == "remove-devices") {
      rule.removeDevices.push_back(value);
    } else if (key == "grandchild") {
      rule.grandchildMs = (DWORD)std::strtoul(value.c_str(), nullptr, 0);
      rule.hasGrandchild = true;
    }
  }
  return rules;
}

// The command line after the program name, however the caller quoted the program.
std::wstring ArgumentPart(const wchar_t* line) {
  const wchar_t* p = line;
  if (*p == L'"') {
    ++p;
    while (*p && *p != L'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != L' ' && *p != L'\t') ++p;
  }
  while (*p == L' ' || *p == L'\t') ++p;
  return p;
}

// Calls `act` for every device node (present or not) one of whose hardware ids equals `hardwareId`, any case.
template <typename Act>
void ForEachDevice(const std::string& hardwareId, Act act) {
  HDEVINFO all = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (all == INVALID_HANDLE_VALUE) return;
  const std::wstring wanted = Widen(hardwareId);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(all, i, &device); ++i) {
    wchar_t ids[2048] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(all, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                           sizeof ids - 4, nullptr)) {
      continue;
    }
    for (const wchar_t* id = ids; *id; id += wcslen(id) + 1) {
      if (_wcsicmp(id, wanted.c_str()) == 0) {
        act(all, &device);
        break;
      }
    }
  }
  SetupDiDestroyDeviceInfoList(all);
}

void SetDeviceVersion(const std::string& hardwareId, const std::string& version) {
  static const DEVPROPKEY kDriverVersion = {
      {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 3};
  const std::wstring text = Widen(version);
  ForEachDevice(hardwareId, [&](HDEVINFO list, SP_DEVINFO_DATA* device) {
    SetupDiSetDevicePropertyW(list, device, &kDriverVersion, DEVPROP_TYPE_STRING,
                              reinterpret_cast<const BYTE*>(text.c_str()), (DWORD)((text.size() + 1) * sizeof(wchar_t)),
                              0);
  });
}

void RemoveDevices(const std::string& hardwareId) {
  ForEachDevice(hardwareId, [](HDEVINFO list, SP_DEVINFO_DATA* device) { SetupDiRemoveDevice(list, device); });
}

void StartGrandchild(const std::wstring& self, DWORD sleepMs) {
  std::wstring line = L"\"" + self + L"\" --fake-sleep " + std::to_wstring(sleepMs);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION started{};
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                     &started)) {
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
}

}  // namespace

int wmain() {
  const std::wstring arguments = ArgumentPart(GetCommandLineW());
  if (arguments.rfind(L"--fake-sleep ", 0) == 0) {
    Sleep((DWORD)std::wcstoul(arguments.c_str() + 13, nullptr, 10));
    return 0;
  }

  wchar_t module[MAX_PATH * 4];
  const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
  std::wstring self(module, length);
  const std::wstring base = self.substr(0, self.rfind(L'.'));

  HANDLE calls = CreateFileW((base + L".calls").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, 0, nullptr);
  if (calls != INVALID_HANDLE_VALUE) {
    WriteAll(calls, Narrow(GetCommandLineW()) + "\n");
    CloseHandle(calls);
  }

  std::string script;
  if (!ReadAll(base + L".script", &script)) return 97;
  const std::vector<Rule> rules = ParseScript(script);
  const std::string argumentText = Narrow(arguments);
  const Rule* chosen = &rules.front();
  for (const Rule& rule : rules) {
    if (!rule.isDefault && argumentText.find(rule.when) != std::string::npos) {
      chosen = &rule;
      break;
    }
  }

  if (chosen->hasGrandchild) StartGrandchild(self, chosen->grandchildMs);
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  for (unsigned long n = 0; n < chosen->repeat; ++n) {
    for (const Piece& piece : chosen->pieces) {
      std::string bytes = piece.bytes;
      if (piece.fromFile) {
        bytes.clear();
        ReadAll(Widen(piece.bytes), &bytes);
      }
      WriteAll(piece.toError ? err : out, bytes);
    }
  }
  for (const auto& [hardwareId, version] : chosen->deviceVersions) SetDeviceVersion(hardwareId, version);
  for (const std::string& hardwareId : chosen->removeDevices) RemoveDevices(hardwareId);
  for (const auto& [from, to] : chosen->copies) CopyFileW(Widen(from).c_str(), Widen(to).c_str(), FALSE);
  Sleep(chosen->delayMs);
  return (int)chosen->exitCode;
}
