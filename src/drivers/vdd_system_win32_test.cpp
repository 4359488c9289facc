#include "drivers/vdd_system_win32.h"

#include <gtest/gtest.h>

#include <devpropdef.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "support/fake_tool_win32.h"
#include "support/log_capture_win32.h"

// The toolchain's setupapi.h lacks the declaration; its import library has the function.
extern "C" WINSETUPAPI WINBOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*,
                                                                DEVPROPTYPE, const BYTE*, DWORD, DWORD);

namespace kestrova::drivers {
namespace {

using Lines = std::vector<std::string>;
using test::WriteBytes;

const DEVPROPKEY kDriverVersionKey = {
    {0xa8b865dd, 0x2e3d, 0x4094, {0xad, 0x97, 0xe5, 0x93, 0xa7, 0x0c, 0x75, 0xd6}}, 3};

// A scratch folder directly under C:\ with a non-ASCII name, as a user might unpack the drivers.
class VddFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = L"C:\\Kestrova Tr\u00e4iber " + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
  }
  void TearDown() override {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      if (!DeleteFileW(it->c_str())) RemoveDirectoryW(it->c_str());
    }
    RemoveDirectoryW(root_.c_str());
  }
  std::wstring Folder(const std::wstring& relative) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
    created_.push_back(path);
    return path;
  }
  std::string File(const std::wstring& relative, const std::string& bytes) {
    const std::wstring path = root_ + L"\\" + relative;
    EXPECT_TRUE(WriteBytes(path, bytes));
    created_.push_back(path);
    return WideToUtf8(path);
  }
  std::string RootUtf8() const { return WideToUtf8(root_); }

  std::wstring root_;
  std::vector<std::wstring> created_;
  Win32VddSystem system_;
};

constexpr char kInfText[] =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=Display\r\n"
    "ClassGuid={4d36e968-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Corvella%\r\n"
    "DriverVer = 05/01/2024, 1.0.5.0 \r\n"
    "CatalogFile=CorvellaVirtualDisplay.cat\r\n"
    "[Strings]\r\n"
    "Corvella=\"Corvella\"\r\n";

TEST_F(VddFolderTest, ReadDriverVerReadsTheSecondFieldTrimmed) {
  const std::string plain = File(L"plain.inf", kInfText);
  EXPECT_EQ(system_.ReadDriverVer(plain), "1.0.5.0");
  const std::string quoted = File(L"quoted.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=\"05/01/2024\",\"2.1\"\r\n");
  EXPECT_EQ(system_.ReadDriverVer(quoted), "2.1");
}

TEST_F(VddFolderTest, ReadDriverVerFailsToEmpty) {
  EXPECT_EQ(system_.ReadDriverVer(File(L"nodate.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=05/01/2024\r\n")), "");
  EXPECT_EQ(system_.ReadDriverVer(File(L"noline.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n")), "");
  EXPECT_EQ(system_.ReadDriverVer(File(L"othersection.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Other]\r\nDriverVer=05/01/2024,1.0\r\n")), "");
  EXPECT_EQ(system_.ReadDriverVer(RootUtf8() + "\\missing.inf"), "");
  EXPECT_EQ(system_.ReadDriverVer(""), "");
}

TEST_F(VddFolderTest, FindVddInfWalksSubfoldersAndPrefersTheNamedInf) {
  Folder(L"x64");
  Folder(L"x64\\\u663e\u793a");
  File(L"other.inf", kInfText);
  File(L"readme.txt", "x");
  const std::string named = File(L"x64\\\u663e\u793a\\CORVELLAVIRTUALDISPLAY.INF", kInfText);
  EXPECT_EQ(FindVddInf(system_, RootUtf8()), named);
  EXPECT_EQ(FindVddInf(system_, RootUtf8() + "\\"), RootUtf8() + "\\x64\\\xe6\x98\xbe\xe7\xa4\xba\\CORVELLAVIRTUALDISPLAY.INF");
}

TEST_F(VddFolderTest, FindVddInfNeedsASingleInfWhenNoneIsNamed) {
  Folder(L"sub");
  const std::string only = File(L"sub\\driver.inf", kInfText);
  File(L"driver.cat", "x");
  EXPECT_EQ(FindVddInf(system_, RootUtf8()), only);
  File(L"second.INF", kInfText);
  EXPECT_EQ(FindVddInf(system_, RootUtf8()), "");
  EXPECT_EQ(FindVddInf(system_, RootUtf8() + "\\missing"), "");
}

// The published-copy search reads the real Windows INF folder; the test plants its own oem names there.
TEST(FindPublishedVddPackagesTest, FindsCopiesThatNameThePackageInEitherEncoding) {
  wchar_t windows[MAX_PATH];
  const std::wstring inf = std::wstring(windows, GetWindowsDirectoryW(windows, MAX_PATH)) + L"\\INF\\";
  CreateDirectoryW(inf.c_str(), nullptr);
  const std::string pid = std::to_string(GetCurrentProcessId());
  std::string utf16 = "\xff\xfe";
  for (const char c : std::string("; CorvellaVirtualDisplay.inf\r\n")) utf16 += {c, '\0'};
  const std::vector<std::pair<std::string, std::string>> planted = {
      {"oem9" + pid + "1.inf", "[Version]\r\n; Original name: corvellavirtualdisplay.INF\r\n"},
      {"OEM9" + pid + "2.INF", utf16},
      {"oem9" + pid + "3.inf", "[Version]\r\n; Original name: other.inf\r\n"},
      {"oem9" + pid + "4.pnf", "CorvellaVirtualDisplay.inf"},
      {"x9" + pid + "5.inf", "CorvellaVirtualDisplay.inf"}};
  for (const auto& [name, text] : planted) ASSERT_TRUE(WriteBytes(inf + Utf8ToWide(name), text)) << name;
  const std::set<std::string> found = Win32VddSystem().FindPublishedVddPackages();
  for (const auto& [name, text] : planted) DeleteFileW((inf + Utf8ToWide(name)).c_str());
  std::set<std::string> ours;
  for (const std::string& name : found) {
    if (name.find(pid) != std::string::npos) ours.insert(name);
  }
  EXPECT_EQ(ours, (std::set<std::string>{"OEM9" + pid + "2.INF", "oem9" + pid + "1.inf"}));
}

// Creates a device node as install-vdd does, finds it by its hardware id, reads a driver version set on it and
// removes it again with SetupDiRemoveDevice (Wine's DiUninstallDevice is a stub that ends the process).
TEST_F(VddFolderTest, CreatedDeviceNodeIsFoundByItsHardwareIdAndReportsItsDriverVersion) {
  const std::string inf = File(L"CorvellaVirtualDisplay.inf", kInfText);
  const std::string hardwareId = "Root\\KestrovaTestDisplay" + std::to_string(GetCurrentProcessId());
  test::LogCapture log;
  ASSERT_EQ(system_.ListDevices(hardwareId), 0u);
  ASSERT_TRUE(system_.CreateDeviceNode(inf, hardwareId));
  EXPECT_EQ(log.Lines(), Lines{"INFO drivers: created device node " + hardwareId + " (class Display)"});

  Win32VddSystem lister;
  ASSERT_EQ(lister.ListDevices("ROOT\\kestrovatestdisplay" + std::to_string(GetCurrentProcessId())), 1u);
  EXPECT_EQ(lister.DeviceDriverVersion(0), "");
  EXPECT_EQ(lister.DeviceInfPath(0), "");

  HDEVINFO all = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  ASSERT_NE(all, INVALID_HANDLE_VALUE);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool removed = false;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(all, i, &device); ++i) {
    wchar_t ids[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(all, &device, SPDRP_HARDWAREID, nullptr, reinterpret_cast<BYTE*>(ids),
                                           sizeof ids - 4, nullptr) ||
        _wcsicmp(ids, Utf8ToWide(hardwareId).c_str()) != 0) {
      continue;
    }
    const std::wstring version = L" 1.0.5.0\r\n";
    if (SetupDiSetDevicePropertyW(all, &device, &kDriverVersionKey, DEVPROP_TYPE_STRING,
                                  reinterpret_cast<const BYTE*>(version.c_str()),
                                  static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)), 0)) {
      Win32VddSystem reader;
      ASSERT_EQ(reader.ListDevices(hardwareId), 1u);
      EXPECT_EQ(reader.DeviceDriverVersion(0), "1.0.5.0");
    } else {
      ADD_FAILURE() << "SetupDiSetDevicePropertyW failed: " << GetLastError();
    }
    removed = SetupDiRemoveDevice(all, &device);
  }
  SetupDiDestroyDeviceInfoList(all);
  EXPECT_TRUE(removed);
  EXPECT_EQ(Win32VddSystem().ListDevices(hardwareId), 0u);
}

TEST_F(VddFolderTest, CreateDeviceNodeLogsAnUnreadableInf) {
  test::LogCapture log;
  const std::string missing = RootUtf8() + "\\missing.inf";
  EXPECT_FALSE(system_.CreateDeviceNode(missing, "Root\\KestrovaNever"));
  const Lines lines = log.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("ERROR drivers: could not read the device class of " + missing + ": ", 0), 0u) << lines[0];
}

TEST(ListDevicesTest, AnEmptyHardwareIdMatchesNoDevice) {
  Win32VddSystem system;
  EXPECT_EQ(system.ListDevices(""), 0u);
}

}  // namespace
}  // namespace kestrova::drivers
