#include "drivers/vdd_install.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/report.h"
#include "support/report_lines.h"
#include "drivers/vdd_rules.h"

namespace kestrova::drivers {
namespace {

using Lines = std::vector<std::string>;

// What the code under test reported while the fixture lived, as "LEVEL text" lines.
const Lines& Reports() { return kestrova::test::ReportLines::Lines(); }

struct FakeDevice {
  std::vector<std::string> ids;
  std::string version;
  std::string infPath;
  DeviceRemoval removal{true, false, 0};
};

// The machine as a script: files below folders, INF versions, devices before and after pnputil, pnputil codes.
// Every call that changes or asks the machine is recorded in `calls`.
class ScriptedVddSystem : public VddSystem {
 public:
  std::map<std::string, std::vector<std::string>> files;
  std::map<std::string, std::string> driverVer;
  std::vector<FakeDevice> devices;
  std::optional<std::vector<FakeDevice>> devicesAfterPnputil;
  bool createSucceeds = true;
  std::set<std::string> published;
  std::deque<long> pnputilCodes;
  std::map<std::string, std::string> verdicts;  // by folder or file; none: admin-only
  Lines judged;
  Lines calls;

  std::string FolderVerdict(const std::string& folder) override { return Verdict(folder); }
  std::string FileVerdict(const std::string& file) override { return Verdict(file); }
  std::vector<std::string> ListFilesBelow(const std::string& folder) override {
    const auto found = files.find(folder);
    return found == files.end() ? std::vector<std::string>{} : found->second;
  }
  std::string ReadDriverVer(const std::string& inf) override {
    const auto found = driverVer.find(inf);
    return found == driverVer.end() ? "" : found->second;
  }
  size_t ListDevices(const std::string& hardwareId) override {
    listed_.clear();
    for (size_t i = 0; i < devices.size(); ++i) {
      if (HardwareIdsContain(devices[i].ids, hardwareId)) listed_.push_back(i);
    }
    return listed_.size();
  }
  std::string DeviceDriverVersion(size_t index) override { return devices.at(listed_.at(index)).version; }
  std::string DeviceInfPath(size_t index) override { return devices.at(listed_.at(index)).infPath; }
  DeviceRemoval UninstallDevice(size_t index) override {
    calls.push_back("uninstall " + std::to_string(listed_.at(index)));
    return devices.at(listed_.at(index)).removal;
  }
  bool CreateDeviceNode(const std::string& inf, const std::string& hardwareId) override {
    calls.push_back("create " + inf + " " + hardwareId);
    if (createSucceeds) devices.push_back(FakeDevice{{hardwareId}, "", ""});
    return createSucceeds;
  }
  std::set<std::string> FindPublishedVddPackages() override { return published; }
  long RunPnputil(const std::string& arguments) override {
    calls.push_back("pnputil " + arguments);
    if (devicesAfterPnputil) devices = *devicesAfterPnputil;
    if (pnputilCodes.empty()) return 0;
    const long code = pnputilCodes.front();
    pnputilCodes.pop_front();
    return code;
  }

 private:
  std::string Verdict(const std::string& path) {
    judged.push_back(path);
    const auto found = verdicts.find(path);
    return found == verdicts.end() ? "" : found->second;
  }
  std::vector<size_t> listed_;
};

constexpr char kHwid[] = "Root\\CorvellaVirtualDisplay";
constexpr char kFolder[] = "C:\\Program Files\\Corvella\\drivers\\vdd";
constexpr char kInf[] = "C:\\Program Files\\Corvella\\drivers\\vdd\\x64\\CorvellaVirtualDisplay.inf";
const std::string kAdd = std::string("pnputil /add-driver \"") + kInf + "\" /install";

class VddInstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    system_.files[kFolder] = {std::string(kFolder) + "\\readme.txt", kInf, std::string(kFolder) + "\\x64\\vdd.cat"};
    system_.driverVer[kInf] = "1.0.5";
  }
  kestrova::test::ReportLines reports_;

  static FakeDevice Device(const std::string& version) { return FakeDevice{{"ROOT\\corvellavirtualdisplay"}, version, ""}; }

  int Install(const std::string& hardwareId = kHwid) { return InstallVdd(system_, kFolder, hardwareId); }

  ScriptedVddSystem system_;
};

TEST_F(VddInstallTest, NoSingleInfFailsWithoutTouchingTheMachine) {
  system_.files[kFolder] = {std::string(kFolder) + "\\a.inf", std::string(kFolder) + "\\sub\\b.INF"};
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(Reports(), Lines{std::string("ERROR drivers: no single VDD INF under ") + kFolder});
  EXPECT_TRUE(system_.calls.empty());
}

TEST_F(VddInstallTest, TheFolderIsJudgedBeforeItIsSearchedAndTheInfBeforeItIsRead) {
  system_.verdicts[kInf] = "BUILTIN\\Users may create files in C:\\x";
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(system_.judged, (Lines{kFolder, kInf}));
  EXPECT_EQ(Reports(), Lines{std::string("ERROR drivers: SECURITY: ") + kInf +
                             " is not admin-only (BUILTIN\\Users may create files in C:\\x); not using it"});
  EXPECT_TRUE(system_.calls.empty());

  system_.verdicts[kFolder] = "C:\\: owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";
  system_.judged.clear();
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(system_.judged, Lines{kFolder});
}

TEST_F(VddInstallTest, AnUnopenableFolderHasNoInf) {
  system_.files.clear();
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(Reports(), Lines{std::string("ERROR drivers: no single VDD INF under ") + kFolder});
}

TEST_F(VddInstallTest, AnInfWithoutDriverVerFails) {
  system_.driverVer.clear();
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(Reports(), Lines{std::string("ERROR drivers: could not read DriverVer from ") + kInf});
  EXPECT_TRUE(system_.calls.empty());
}

TEST_F(VddInstallTest, WithoutADeviceCreatesTheNodeThenRunsPnputil) {
  system_.devicesAfterPnputil = std::vector<FakeDevice>{Device("1.0.5.0")};
  EXPECT_EQ(Install(), 0);
  EXPECT_EQ(system_.calls, (Lines{std::string("create ") + kInf + " " + kHwid, kAdd}));
  EXPECT_EQ(Reports(), (Lines{std::string("INFO drivers: no ") + kHwid + " device yet",
                              "INFO drivers: VDD 1.0.5 installed (pnputil 0)"}));
}

TEST_F(VddInstallTest, ADeviceNodeThatCannotBeCreatedFailsBeforePnputil) {
  system_.createSucceeds = false;
  EXPECT_EQ(Install(), 1);
  EXPECT_EQ(system_.calls, Lines{std::string("create ") + kInf + " " + kHwid});
}

TEST_F(VddInstallTest, ADeviceRunningTheSameVersionInAnotherSpellingIsAlreadyInstalled) {
  system_.devices = {Device("1.0.5.0")};
  EXPECT_EQ(Install(), 0);
  EXPECT_TRUE(system_.calls.empty());
  EXPECT_EQ(Reports(), (Lines{std::string("INFO drivers: ") + kHwid + " runs driver version '1.0.5.0', package is 1.0.5",
                              "INFO drivers: VDD 1.0.5 already installed; skipping"}));
}

TEST_F(VddInstallTest, HardwareIdsAreComparedWithoutCase) {
  system_.devices = {Device("1.0.5")};
  EXPECT_EQ(Install("root\\CORVELLAVIRTUALDISPLAY"), 0);
  EXPECT_TRUE(system_.calls.empty());
}

TEST_F(VddInstallTest, OneOutdatedDeviceOfTwoRunsPnputilAndOneMatchSufficesAfterwards) {
  system_.devices = {Device("1.0.5"), Device("1.0.4")};
  system_.devicesAfterPnputil = std::vector<FakeDevice>{Device("1.0.4"), Device("1.0.5.0")};
  EXPECT_EQ(Install(), 0);
  EXPECT_EQ(system_.calls, Lines{kAdd});
  EXPECT_EQ(Reports(), (Lines{std::string("INFO drivers: ") + kHwid + " runs driver version '1.0.5', package is 1.0.5",
                              std::string("INFO drivers: ") + kHwid + " runs driver version '1.0.4', package is 1.0.5",
                              "INFO drivers: VDD 1.0.5 installed (pnputil 0)"}));
}

TEST_F(VddInstallTest, AVersionTextThatDoesNotParseMatchesOnlyItself) {
  system_.driverVer[kInf] = "1.0.5-beta";
  system_.devices = {Device("1.0.5")};
  system_.devicesAfterPnputil = std::vector<FakeDevice>{Device("1.0.5-beta")};
  EXPECT_EQ(Install(), 0);
  EXPECT_EQ(system_.calls, Lines{kAdd});
}

struct PnputilCase {
  const char* name;
  long code;
  bool deviceRunsPackageAfterwards;
  int exitCode;
  Lines tail;  // the reports after the "runs driver version" line
};

class VddPnputilCodeTest : public VddInstallTest, public ::testing::WithParamInterface<PnputilCase> {};

TEST_P(VddPnputilCodeTest, JudgesTheCodeAndTheDevicesAfterwards) {
  const PnputilCase& c = GetParam();
  system_.devices = {Device("1.0.4")};
  system_.devicesAfterPnputil = std::vector<FakeDevice>{Device(c.deviceRunsPackageAfterwards ? "1.0.5" : "1.0.4")};
  system_.pnputilCodes = {c.code};
  EXPECT_EQ(Install(), c.exitCode);
  EXPECT_EQ(system_.calls, Lines{kAdd});
  ASSERT_GE(Reports().size(), 1u);
  EXPECT_EQ(Lines(Reports().begin() + 1, Reports().end()), c.tail);
}

const std::string kNoDevice = std::string(" but no ") + kHwid + " device runs 1.0.5";

INSTANTIATE_TEST_SUITE_P(
    Codes, VddPnputilCodeTest,
    ::testing::Values(
        PnputilCase{"Zero", 0, true, 0, {"INFO drivers: VDD 1.0.5 installed (pnputil 0)"}},
        PnputilCase{"NothingNewer259", 259, true, 0, {"INFO drivers: VDD 1.0.5 installed (pnputil 259)"}},
        PnputilCase{"Reboot3010", 3010, true, 0,
                    {"WARN drivers: pnputil asked for a reboot (3010). Release defect: installs must never need one (D9)",
                     "INFO drivers: VDD 1.0.5 installed (pnputil 3010)"}},
        PnputilCase{"ZeroButStillOld", 0, false, 1, {"ERROR drivers: pnputil returned 0" + kNoDevice}},
        PnputilCase{"NothingNewerButStillOld", 259, false, 1, {"ERROR drivers: pnputil returned 259" + kNoDevice}},
        PnputilCase{"RebootButStillOld", 3010, false, 1,
                    {"WARN drivers: pnputil asked for a reboot (3010). Release defect: installs must never need one (D9)",
                     "ERROR drivers: pnputil returned 3010" + kNoDevice}},
        PnputilCase{"Failure", 1, true, 1, {"ERROR drivers: pnputil failed with 1"}},
        PnputilCase{"NotRunToTheEnd", -1, true, 1, {"ERROR drivers: pnputil failed with -1"}},
        PnputilCase{"AccessDenied", 5, true, 1, {"ERROR drivers: pnputil failed with 5"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VddInstallTest, AnEmptyHardwareIdCreatesNoDeviceNode) {
  EXPECT_EQ(Install(""), 1);
  EXPECT_TRUE(system_.calls.empty());
  EXPECT_EQ(Reports(), Lines{"ERROR drivers: the hardware id is empty; no device node is created without one"});
}

class VddRemoveTest : public VddInstallTest {};

TEST_F(VddRemoveTest, NothingToRemove) {
  system_.devices = {FakeDevice{{"PCI\\VEN_8086"}, "1.0", "oem1.inf"}};
  EXPECT_EQ(RemoveVdd(system_, kHwid), 0);
  EXPECT_TRUE(system_.calls.empty());
  EXPECT_EQ(Reports(), Lines{"INFO drivers: no VDD device or package to remove"});
}

TEST_F(VddRemoveTest, RemovesEveryDeviceThenDeletesEveryPackageOnceInByteOrder) {
  system_.published = {"oem7.inf", "oem12.inf"};
  system_.devices = {FakeDevice{{"x", kHwid}, "1.0", "oem7.inf"},
                     FakeDevice{{"PCI\\VEN_8086"}, "1.0", "oem99.inf"},
                     FakeDevice{{"root\\corvellavirtualdisplay"}, "", "oem3.inf", DeviceRemoval{true, true, 0}},
                     FakeDevice{{kHwid}, "", "", DeviceRemoval{false, false, 5}}};
  system_.pnputilCodes = {0, 0, 3010};
  EXPECT_EQ(RemoveVdd(system_, kHwid), 0);
  EXPECT_EQ(system_.calls, (Lines{"uninstall 0", "uninstall 2", "uninstall 3",
                                  "pnputil /delete-driver oem12.inf /uninstall",
                                  "pnputil /delete-driver oem3.inf /uninstall",
                                  "pnputil /delete-driver oem7.inf /uninstall"}));
  EXPECT_EQ(Reports(), (Lines{std::string("INFO drivers: removed a ") + kHwid + " device node",
                              std::string("INFO drivers: removed a ") + kHwid + " device node (reboot requested)",
                              std::string("WARN drivers: could not remove a ") + kHwid + " device node: 5",
                              "WARN drivers: pnputil /delete-driver oem7.inf returned 3010"}));
}

TEST_F(VddRemoveTest, AFailedDeletionDoesNotStopTheNext) {
  system_.published = {"oem1.inf", "oem2.inf"};
  system_.pnputilCodes = {-1, 0};
  EXPECT_EQ(RemoveVdd(system_, kHwid), 0);
  EXPECT_EQ(system_.calls, (Lines{"pnputil /delete-driver oem1.inf /uninstall", "pnputil /delete-driver oem2.inf /uninstall"}));
  EXPECT_EQ(Reports(), Lines{"WARN drivers: pnputil /delete-driver oem1.inf returned -1"});
}

// The registry's InfPath goes into pnputil's command line only when it is a published INF name.
TEST_F(VddRemoveTest, AnInfPathThatIsNotAPublishedNameIsNeverPassedOn) {
  system_.devices = {FakeDevice{{kHwid}, "1.0", "oem1.inf /force"}, FakeDevice{{kHwid}, "1.0", "oem2.inf"}};
  EXPECT_EQ(RemoveVdd(system_, kHwid), 0);
  EXPECT_EQ(system_.calls, (Lines{"uninstall 0", "uninstall 1", "pnputil /delete-driver oem2.inf /uninstall"}));
  EXPECT_EQ(Reports()[0], std::string("WARN drivers: a ") + kHwid +
                              " device names the driver package 'oem1.inf /force', which is not a published INF name; "
                              "not deleting it");
}

TEST_F(VddRemoveTest, AnEmptyHardwareIdDeletesOnlyThePublishedPackages) {
  system_.published = {"oem4.inf"};
  system_.devices = {FakeDevice{{kHwid}, "1.0", "oem7.inf"}};
  EXPECT_EQ(RemoveVdd(system_, ""), 0);
  EXPECT_EQ(system_.calls, Lines{"pnputil /delete-driver oem4.inf /uninstall"});
  EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace kestrova::drivers
