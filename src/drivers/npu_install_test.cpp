#include "drivers/npu_install.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/report.h"
#include "support/report_lines.h"

namespace kestrova::drivers {
namespace {

using Lines = std::vector<std::string>;

// What the code under test reported while the fixture lived, as "LEVEL text" lines.
const Lines& Reports() { return kestrova::test::ReportLines::Lines(); }

class ScriptedNpuSystem : public NpuSystem {
 public:
  std::string vendor = "GenuineIntel";
  NativeMachineQuery machine{true, kMachineAmd64, 0};
  bool infExists = true;
  long pnputilCode = 0;
  std::string verdict;
  Lines calls;

  std::string CpuVendor() override { return vendor; }
  NativeMachineQuery NativeMachine() override { return machine; }
  bool InfExists(const std::string& inf) override {
    calls.push_back("exists " + inf);
    return infExists;
  }
  std::string FileVerdict(const std::string& inf) override {
    calls.push_back("judge " + inf);
    return verdict;
  }
  long RunPnputil(const std::string& arguments) override {
    calls.push_back("pnputil " + arguments);
    return pnputilCode;
  }
};

constexpr char kInf[] = "C:\\Program Files\\Corvella\\drivers\\npu\\npu.inf";
const std::string kExists = std::string("exists ") + kInf;
const std::string kJudge = std::string("judge ") + kInf;
const std::string kAdd = std::string("pnputil /add-driver \"") + kInf + "\" /install";
const std::string kInstalled = "INFO drivers: Intel NPU driver installed (pnputil ";
std::string Skipped(const std::string& vendor) {
  return "INFO drivers: CPU vendor '" + vendor +
         "' on a non-Intel or non-x64 machine; skipping the Intel NPU driver";
}
std::string Continuing(long code) {
  return "WARN drivers: pnputil returned " + std::to_string(code) + " for the Intel NPU driver; continuing the install";
}

struct NpuCase {
  const char* name;
  std::string vendor;
  NativeMachineQuery machine;
  bool infExists;
  long pnputilCode;
  Lines calls;
  Lines reports;
};

class InstallNpuTest : public ::testing::TestWithParam<NpuCase> {
 protected:
  kestrova::test::ReportLines reports_;
};

TEST_P(InstallNpuTest, DecidesAndExitsZero) {
  const NpuCase& c = GetParam();
  ScriptedNpuSystem system;
  system.vendor = c.vendor;
  system.machine = c.machine;
  system.infExists = c.infExists;
  system.pnputilCode = c.pnputilCode;
  EXPECT_EQ(InstallNpu(system, kInf), 0);
  EXPECT_EQ(system.calls, c.calls);
  EXPECT_EQ(Reports(), c.reports);
}

const NativeMachineQuery kX64{true, kMachineAmd64, 0};
const NativeMachineQuery kArm64{true, 0xAA64, 0};

INSTANTIATE_TEST_SUITE_P(
    Table, InstallNpuTest,
    ::testing::Values(
        NpuCase{"IntelX64", "GenuineIntel", kX64, true, 0, {kExists, kJudge, kAdd}, {kInstalled + "0)"}},
        NpuCase{"NothingNewer259", "GenuineIntel", kX64, true, 259, {kExists, kJudge, kAdd}, {kInstalled + "259)"}},
        NpuCase{"Reboot3010IsOnlyAWarning", "GenuineIntel", kX64, true, 3010, {kExists, kJudge, kAdd}, {Continuing(3010)}},
        NpuCase{"NotRunToTheEnd", "GenuineIntel", kX64, true, -1, {kExists, kJudge, kAdd}, {Continuing(-1)}},
        NpuCase{"Failure", "GenuineIntel", kX64, true, 1, {kExists, kJudge, kAdd}, {Continuing(1)}},
        NpuCase{"Amd", "AuthenticAMD", kX64, true, 0, {}, {Skipped("AuthenticAMD")}},
        NpuCase{"VendorCaseMatters", "genuineintel", kX64, true, 0, {}, {Skipped("genuineintel")}},
        NpuCase{"EmptyVendor", "", kX64, true, 0, {}, {Skipped("")}},
        NpuCase{"IntelUnderArm64Emulation", "GenuineIntel", kArm64, true, 0, {}, {Skipped("GenuineIntel")}},
        NpuCase{"Intel32BitMachine", "GenuineIntel", NativeMachineQuery{true, 0x014c, 0}, true, 0, {},
                {Skipped("GenuineIntel")}},
        NpuCase{"MachineQueryFailsWithACode", "GenuineIntel", NativeMachineQuery{false, 0, 120}, true, 0,
                {kExists, kJudge, kAdd},
                {"WARN drivers: IsWow64Process2 failed: 120; assuming the build machine 0x8664", kInstalled + "0)"}},
        NpuCase{"MachineQueryFailsSilently", "GenuineIntel", NativeMachineQuery{false, 0, 0}, true, 0,
                {kExists, kJudge, kAdd}, {kInstalled + "0)"}},
        NpuCase{"MissingInf", "GenuineIntel", kX64, false, 0, {kExists},
                {std::string("ERROR drivers: Intel NPU driver INF not found at ") + kInf + "; skipping it"}}),
    [](const auto& info) { return std::string(info.param.name); });

class InstallNpuRefusalTest : public ::testing::Test {
 protected:
  kestrova::test::ReportLines reports_;
};

TEST_F(InstallNpuRefusalTest, AnInfThatIsNotAdminOnlyIsRefusedBeforePnputilAndFailsTheInstall) {
  ScriptedNpuSystem system;
  system.verdict = "S-1-5-32-545 holds FILE_WRITE_DATA";
  EXPECT_EQ(InstallNpu(system, kInf), 1);
  EXPECT_EQ(system.calls, (Lines{kExists, kJudge}));
  EXPECT_EQ(Reports(), Lines{std::string("ERROR drivers: SECURITY: ") + kInf +
                             " is not admin-only (S-1-5-32-545 holds FILE_WRITE_DATA); not using it"});
}

}  // namespace
}  // namespace kestrova::drivers
