#include "drivers/vdd_system_win32.h"

#include <devpropdef.h>
#include <newdev.h>

#include "core/log.h"
#include "core/system_tool.h"
#include "core/text.h"
#include "drivers/commands.h"
#include "drivers/pnputil.h"
#include "drivers/trusted_source.h"
#include "drivers/vdd_rules.h"
#include "securefs/paths.h"

namespace kestrova::drivers {
namespace {

// DEVPKEY_Device_DriverVersion, spelled out so that no translation unit has to instantiate the devpkey GUIDs.
const DEVPROPKEY kDriverVersionKey = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 3};

std::string Trimmed(const WideString& text) { return std::string(TrimBlanksAndQuotes(WideToUtf8(text))); }

WideString Joined(const WideString& folder, const WideString& name) {
  if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
  return folder + L"\\" + name;
}

// Reparse points are skipped whole: a linked folder is not entered and a linked file is not a candidate.
void Walk(const WideString& folder, std::vector<std::string>& files) {
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileExW(securefs::LongPath(Joined(folder, L"*")).c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find) return;
  do {
    const WideString name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
    const WideString path = Joined(folder, name);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      Walk(path, files);
    } else {
      files.push_back(WideToUtf8(path));
    }
  } while (FindNextFileW(find.get(), &entry));
}

// A REG_MULTI_SZ of wide texts as separate UTF-8 texts; stops at the first empty entry or the buffer's end.
std::vector<std::string> MultiStringEntries(const wchar_t* data, size_t count) {
  std::vector<std::string> entries;
  size_t start = 0;
  while (start < count && data[start] != L'\0') {
    size_t end = start;
    while (end < count && data[end] != L'\0') ++end;
    entries.push_back(WideToUtf8(WideView(data + start, end - start)));
    start = end + 1;
  }
  return entries;
}

bool ReadWholeFile(const WideString& path, std::string* data) {
  FileHandle file(CreateFileW(securefs::LongPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) data->append(chunk, got);
  return true;
}

}  // namespace

std::string Win32VddSystem::FolderVerdict(const std::string& folder) {
  return TrustedSourceVerdict(Utf8ToWide(folder), false);
}

std::string Win32VddSystem::FileVerdict(const std::string& file) {
  return TrustedSourceVerdict(Utf8ToWide(file), true);
}

std::vector<std::string> Win32VddSystem::ListFilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  const WideString wide = Utf8ToWide(folder);
  if (!wide.empty()) Walk(wide, files);
  return files;
}

std::string Win32VddSystem::ReadDriverVer(const std::string& inf) {
  InfFile file(SetupOpenInfFileW(Utf8ToWide(inf).c_str(), nullptr, INF_STYLE_WIN4, nullptr));
  if (!file) return "";
  INFCONTEXT line;
  if (!SetupFindFirstLineW(file.get(), L"Version", L"DriverVer", &line)) return "";
  wchar_t field[128];
  if (!SetupGetStringFieldW(&line, 2, field, 128, nullptr)) return "";
  return Trimmed(field);
}

size_t Win32VddSystem::ListDevices(const std::string& hardwareId) {
  devices_.clear();
  // Every class, present or not: a phantom device node with the id is compared and removed like a present one.
  list_.reset(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES));
  if (!list_) return 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(list_.get(), i, &device); ++i) {
    wchar_t ids[2047];
    DWORD type = 0;
    DWORD size = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(list_.get(), &device, SPDRP_HARDWAREID, &type,
                                           reinterpret_cast<BYTE*>(ids), sizeof ids, &size)) {
      continue;
    }
    if (HardwareIdsContain(MultiStringEntries(ids, size / sizeof(wchar_t)), hardwareId)) devices_.push_back(device);
  }
  return devices_.size();
}

std::string Win32VddSystem::DeviceDriverVersion(size_t index) {
  wchar_t version[127];
  DEVPROPTYPE type = 0;
  DWORD size = 0;
  if (!SetupDiGetDevicePropertyW(list_.get(), &devices_.at(index), &kDriverVersionKey, &type,
                                 reinterpret_cast<BYTE*>(version), sizeof version, &size, 0) ||
      type != DEVPROP_TYPE_STRING) {
    return "";
  }
  return Trimmed(WideString(version, wcsnlen(version, size / sizeof(wchar_t))));
}

std::string Win32VddSystem::DeviceInfPath(size_t index) {
  const HKEY opened = SetupDiOpenDevRegKey(list_.get(), &devices_.at(index), DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (opened == INVALID_HANDLE_VALUE) return "";
  RegKey key(opened);
  wchar_t path[260];
  DWORD size = sizeof path;
  if (RegGetValueW(key.get(), nullptr, L"InfPath", RRF_RT_REG_SZ, nullptr, path, &size) != ERROR_SUCCESS) return "";
  return WideToUtf8(path);
}

DeviceRemoval Win32VddSystem::UninstallDevice(size_t index) {
  BOOL reboot = FALSE;
  if (DiUninstallDevice(nullptr, list_.get(), &devices_.at(index), 0, &reboot)) return {true, reboot != FALSE, 0};
  const DWORD error = GetLastError();
  return {false, false, error};
}

bool Win32VddSystem::CreateDeviceNode(const std::string& inf, const std::string& hardwareId) {
  GUID classGuid;
  wchar_t className[256];
  if (!SetupDiGetINFClassW(Utf8ToWide(inf).c_str(), &classGuid, className, 256, nullptr)) {
    const DWORD error = GetLastError();
    LogError("drivers: could not read the device class of %s: %lu", inf.c_str(), error);
    return false;
  }
  DevInfoList list(SetupDiCreateDeviceInfoList(&classGuid, nullptr));
  if (!list) {
    const DWORD error = GetLastError();
    LogError("drivers: SetupDiCreateDeviceInfoList failed: %lu", error);
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  // A multi-string of one entry: the id and two terminating zero characters.
  WideString ids = Utf8ToWide(hardwareId);
  ids.push_back(L'\0');
  ids.push_back(L'\0');
  const bool created =
      SetupDiCreateDeviceInfoW(list.get(), className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID, &device) &&
      SetupDiSetDeviceRegistryPropertyW(list.get(), &device, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(ids.data()),
                                        static_cast<DWORD>(ids.size() * sizeof(wchar_t))) &&
      SetupDiCallClassInstaller(DIF_REGISTERDEVICE, list.get(), &device);
  const DWORD error = GetLastError();
  if (!created) {
    LogError("drivers: could not create the %s device node: %lu", hardwareId.c_str(), error);
    return false;
  }
  LogInfo("drivers: created device node %s (class %s)", hardwareId.c_str(), WideToUtf8(className).c_str());
  return true;
}

std::set<std::string> Win32VddSystem::FindPublishedVddPackages() {
  std::set<std::string> packages;
  wchar_t windows[MAX_PATH];
  const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return packages;
  const WideString infFolder = Joined(WideString(windows, length), L"INF");
  WIN32_FIND_DATAW entry;
  FindHandle find(FindFirstFileExW(Joined(infFolder, L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, 0));
  if (!find) return packages;
  do {
    if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
    const std::string name = WideToUtf8(entry.cFileName);
    if (!IsPublishedInfName(name)) continue;
    std::string bytes;
    if (ReadWholeFile(Joined(infFolder, entry.cFileName), &bytes) && MentionsVddInf(bytes)) packages.insert(name);
  } while (FindNextFileW(find.get(), &entry));
  return packages;
}

long Win32VddSystem::RunPnputil(const std::string& arguments) { return drivers::RunPnputil(arguments); }

int InstallVdd(const std::string& infFolder, const std::string& hardwareId) {
  Win32VddSystem system;
  return InstallVdd(system, infFolder, hardwareId);
}

int RemoveVdd(const std::string& hardwareId) {
  Win32VddSystem system;
  return RemoveVdd(system, hardwareId);
}

}  // namespace kestrova::drivers
