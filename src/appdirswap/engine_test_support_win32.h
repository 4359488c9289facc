// Test support for the Windows tests of the APPDIR engine: real version trees with their manifest.json and marker, a
// second process that holds the swap lock or keeps an entry open (this test binary started again), and a decorator
// that answers the ownership and trust questions Wine cannot answer as Windows would. Tests only.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "appdirswap/file_system.h"
#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "payload/manifest.h"
#include "payload/sha256.h"
#include "support/scratch_folder_win32.h"

namespace kestrova::appdirswap::test {

using kestrova::test::Exists;
using kestrova::test::MakeFolder;
using kestrova::test::RemoveForCleanup;
using kestrova::test::ScratchFolder;
using kestrova::test::WriteTextFile;

inline std::string ReadText(const WideString& path) {
  FileHandle file(CreateFileW(ToLongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr));
  if (!file) return "<unreadable>";
  std::string text(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  text.resize(read);
  return text;
}

// Writes `files` (manifest path -> content) below `folder` (created with the subfolders the paths need), then
// manifest.json listing them with their sizes and digests, then, unless `version` is empty, the ".complete" marker.
inline void WriteVersionTree(const WideString& folder, const std::map<std::string, std::string>& files,
                             const std::string& version) {
  MakeFolder(folder);
  std::vector<payload::Entry> entries;
  for (const auto& [path, content] : files) {
    const WideString target = payload::EntryTargetPath(folder, path);
    for (size_t slash = target.find(L'\\', folder.size() + 1); slash != WideString::npos;
         slash = target.find(L'\\', slash + 1)) {
      if (!Exists(target.substr(0, slash))) MakeFolder(target.substr(0, slash));
    }
    WriteTextFile(target, content);
    payload::Entry entry{path, content.size(), {}};
    payload::Sha256 hash;
    hash.Add(content.data(), content.size());
    EXPECT_TRUE(hash.Finish(&entry.sha256));
    entries.push_back(entry);
  }
  WriteTextFile(folder + L"\\manifest.json", payload::FormatManifest(entries));
  if (!version.empty()) WriteTextFile(folder + L"\\.complete", version);
}

inline std::map<std::string, std::string> VersionFiles(const std::string& version) {
  return {{"corvella.exe", "exe " + version}, {"bin/core.dll", std::string(3 << 20, 'c') + version}};
}

inline std::wstring ReadActiveVersion() {
  wchar_t value[256] = {};
  DWORD bytes = sizeof value;
  const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrova\\Corvella\\Update", L"ActiveVersion",
                                      RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value, &bytes);
  return status == ERROR_SUCCESS ? std::wstring(value) : L"<" + std::to_wstring(status) + L">";
}

// An APPDIR such as C:\Corvella, unique to this run (`name` followed by the process id), and its whole family removed
// before and after.
class DriveRootFamily {
 public:
  explicit DriveRootFamily(const wchar_t* name = L"C:\\CorvellaEngine")
      : appdir_(name + std::to_wstring(GetCurrentProcessId())) {
    Clear();
  }
  ~DriveRootFamily() { Clear(); }
  DriveRootFamily(const DriveRootFamily&) = delete;
  DriveRootFamily& operator=(const DriveRootFamily&) = delete;
  const WideString& appdir() const { return appdir_; }
  WideString operator+(const wchar_t* suffix) const { return appdir_ + suffix; }

 private:
  void Clear() {
    for (const wchar_t* suffix : {L"", L".staging", L".staging.partial", L".lkg", L".rejected", L".swap.lock"}) {
      RemoveForCleanup(ToLongPathForm(appdir_ + suffix));
    }
  }
  WideString appdir_;
};

// IFileSystem with ownership and trust answered by the test, everything else by `inner`: under Wine every entry is
// owned by the Wine user, so without it no copy would ever be usable.
class AdminOwnedDecorator : public IFileSystem {
 public:
  explicit AdminOwnedDecorator(IFileSystem& inner) : inner_(inner) {}
  std::vector<WideString> foreign;  // AdminOnlyVerdict names a stranger for these paths
  std::string parent_reason;        // what UnsafeAncestorReason answers for any path

  PathInfo GetPathInfo(const WideString& path) override { return inner_.GetPathInfo(path); }
  bool ReadSmallFile(const WideString& path, size_t max_bytes, std::string& out) override {
    return inner_.ReadSmallFile(path, max_bytes, out);
  }
  MoveResult Rename(const WideString& from, const WideString& to, uint32_t& error) override {
    return inner_.Rename(from, to, error);
  }
  MoveResult TryLock(const WideString& lock_path, uint32_t& error) override { return inner_.TryLock(lock_path, error); }
  void Unlock() override { inner_.Unlock(); }
  bool IsSystemFolder(const WideString& path) override { return inner_.IsSystemFolder(path); }
  // As Windows answers for a folder an administrator made below an admin-only parent; a file or a missing entry is
  // never admin-only.
  std::string AdminOnlyVerdict(const WideString& path) override {
    for (const WideString& entry : foreign) {
      if (entry == path) return "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";
    }
    const PathInfo info = inner_.GetPathInfo(path);
    if (info.kind == PathKind::Absent) return "cannot open (2)";
    if (info.kind != PathKind::Directory || info.is_reparse_point) return "is not a directory";
    return {};
  }
  MoveResult HoldForMove(const WideString& path, uint32_t& error) override { return inner_.HoldForMove(path, error); }
  void ReleaseHolds() override { inner_.ReleaseHolds(); }
  std::string UnsafeAncestorReason(const WideString&) override { return parent_reason; }
  bool IsInstallerRunning() override { return inner_.IsInstallerRunning(); }
  bool WriteActiveVersion(const WideString& version) override { return inner_.WriteActiveVersion(version); }
  uint64_t NowMs() override { return inner_.NowMs(); }
  void SleepMs(uint32_t ms) override { inner_.SleepMs(ms); }

 private:
  IFileSystem& inner_;
};

// The environment that turns a second run of this binary into the holder process (test code only).
inline constexpr wchar_t kChildModeVariable[] = L"KESTROVA_ENGINE_TEST_CHILD";
inline constexpr wchar_t kChildPathVariable[] = L"KESTROVA_ENGINE_TEST_PATH";
inline constexpr wchar_t kChildEventsVariable[] = L"KESTROVA_ENGINE_TEST_EVENTS";
inline constexpr char kChildTestName[] = "EngineChildProcess.HoldsWhatItIsTold";

// Starts this test binary again, running only the child test, which takes the swap lock on `path` ("lock") or opens
// `path` without delete sharing ("open"), then signals, and keeps it until this object ends.
class HoldingProcess {
 public:
  // `program`, when given, is a copy of this test binary to run instead (under another image name).
  HoldingProcess(const wchar_t* mode, const WideString& path, bool expect_hold = true, const WideString& program = {}) {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount64());
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\KestrovaEngineReady-" + tag).c_str()));
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\KestrovaEngineRelease-" + tag).c_str()));
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!program.empty()) wcsncpy(self, program.c_str(), MAX_PATH - 1);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=" + Utf8ToWide(kChildTestName);
    SetEnvironmentVariableW(kChildModeVariable, mode);
    SetEnvironmentVariableW(kChildPathVariable, path.c_str());
    SetEnvironmentVariableW(kChildEventsVariable, tag.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    started_ = CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info);
    SetEnvironmentVariableW(kChildModeVariable, nullptr);
    SetEnvironmentVariableW(kChildPathVariable, nullptr);
    SetEnvironmentVariableW(kChildEventsVariable, nullptr);
    if (!started_) {
      ADD_FAILURE() << "cannot start the holder: " << GetLastError();
      return;
    }
    process_.reset(info.hProcess);
    KernelHandle thread(info.hThread);
    HANDLE waits[2] = {ready_.get(), process_.get()};
    ready_seen_ = WaitForMultipleObjects(2, waits, FALSE, 60000) == WAIT_OBJECT_0;
    EXPECT_EQ(ready_seen_, expect_hold) << WideToUtf8(path);
  }
  ~HoldingProcess() { Release(); }

  bool Holding() const { return ready_seen_; }

  // Lets the holder go and waits for it to end; its exit code (0 when it held and let go as told).
  DWORD Release() {
    if (!process_) return exit_code_;
    SetEvent(release_.get());
    WaitForSingleObject(process_.get(), 60000);
    GetExitCodeProcess(process_.get(), &exit_code_);
    process_.reset();
    return exit_code_;
  }

 private:
  KernelHandle ready_;
  KernelHandle release_;
  KernelHandle process_;
  bool started_ = false;
  bool ready_seen_ = false;
  DWORD exit_code_ = 1;
};

}  // namespace kestrova::appdirswap::test
