// Test helpers for code that runs system tools: installs the FakeTool stand-in (tests/faketool) into the
// system folder under a tool's name with a script, reads back the command lines it received, and removes it all
// again. Windows build only; header-only so the support library stays portable.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/scratch_folder_win32.h"

namespace kestrova::test {

inline std::wstring SystemFolderW() {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, n);
}

// The FakeTool program the build made: build/windows/tests/faketool, found from this test program's own place
// (build/windows/src/<folder>/<name>_tests.exe).
inline std::wstring FakeToolProgram() {
  wchar_t module[MAX_PATH * 4];
  std::wstring path(module, GetModuleFileNameW(nullptr, module, MAX_PATH * 4));
  for (int up = 0; up < 3; ++up) path = path.substr(0, path.find_last_of(L"\\/"));
  return path + L"\\tests\\faketool\\FakeTool.exe";
}

// FakeTool installed as <system folder>\<name>.exe for the life of the object. Wine runs its built-in netsh
// instead of a file copied over it unless told otherwise; a test of netsh holds a NativeNetshOverride too.
class FakeSystemTool {
 public:
  FakeSystemTool(const std::wstring& name, const std::string& script) : base_(SystemFolderW() + L"\\" + name) {
    // Wine's own placeholder (netsh.exe) is put back afterwards.
    saved_ = MoveFileExW((base_ + L".exe").c_str(), (base_ + L".exe.kestrova-saved").c_str(), MOVEFILE_REPLACE_EXISTING);
    EXPECT_TRUE(CopyFileW(FakeToolProgram().c_str(), (base_ + L".exe").c_str(), FALSE))
        << "FakeTool.exe missing: " << WideToUtf8(FakeToolProgram()) << " error " << GetLastError();
    DeleteFileW((base_ + L".calls").c_str());
    SetScript(script);
  }
  ~FakeSystemTool() {
    for (const wchar_t* extension : {L".script", L".calls"}) DeleteFileW((base_ + extension).c_str());
    // A grandchild the tool started may still run from the program file; it cannot be deleted until it ends.
    for (int attempt = 0; attempt < 300 && !DeleteFileW((base_ + L".exe").c_str()); ++attempt) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) break;
      Sleep(100);
    }
    if (saved_) MoveFileExW((base_ + L".exe.kestrova-saved").c_str(), (base_ + L".exe").c_str(), 0);
  }
  FakeSystemTool(const FakeSystemTool&) = delete;
  FakeSystemTool& operator=(const FakeSystemTool&) = delete;

  void SetScript(const std::string& script) { EXPECT_TRUE(WriteBytes(base_ + L".script", script)); }

  // Every command line the tool received, in order.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    if (!Exists(base_ + L".calls")) return calls;  // never started
    const std::string text = ReadBytes(base_ + L".calls");
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      calls.push_back(text.substr(start, end - start));
    }
    return calls;
  }

  // "\"<system folder>\<name>.exe\" " as the runner starts it, in UTF-8.
  std::string QuotedProgram() const {
    std::string quoted(1, '"');
    quoted += WideToUtf8(base_);
    quoted += ".exe\" ";
    return quoted;
  }

 private:
  std::wstring base_;
  bool saved_ = false;
};

// Makes Wine load a netsh.exe stand-in rather than its built-in netsh: "netsh.exe"="native" under
// HKCU\Software\Wine\DllOverrides for the life of the object (a previous value is put back). Changing
// WINEDLLOVERRIDES inside a running process is not enough: the running process decides for its children.
class NativeNetshOverride {
 public:
  NativeNetshOverride() {
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", 0, nullptr, 0, KEY_READ | KEY_WRITE,
                    nullptr, &key_, nullptr);
    wchar_t old[256];
    DWORD size = sizeof old;
    had_ = RegGetValueW(key_, nullptr, L"netsh.exe", RRF_RT_REG_SZ, nullptr, old, &size) == ERROR_SUCCESS;
    if (had_) old_ = old;
    const wchar_t native[] = L"native";
    RegSetValueExW(key_, L"netsh.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(native), sizeof native);
  }
  ~NativeNetshOverride() {
    if (had_) {
      RegSetValueExW(key_, L"netsh.exe", 0, REG_SZ, reinterpret_cast<const BYTE*>(old_.c_str()),
                     static_cast<DWORD>((old_.size() + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key_, L"netsh.exe");
    }
    RegCloseKey(key_);
  }
  NativeNetshOverride(const NativeNetshOverride&) = delete;
  NativeNetshOverride& operator=(const NativeNetshOverride&) = delete;

 private:
  HKEY key_ = nullptr;
  bool had_ = false;
  std::wstring old_;
};

}  // namespace kestrova::test
