// Cuts the power after every mutation of a repair, of a clean-up pass and of a whole swap, boots the volume as it was
// left and runs a fresh repair: APPDIR must then hold the old or the new version intact, never neither.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "appdirswap/cleanup.h"
#include "appdirswap/repair.h"
#include "appdirswap/scripted_file_system.h"
#include "appdirswap/swap.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

constexpr wchar_t kAppdir[] = L"C:\\Corvella";

struct Scenario {
  const char* family;  // as ScriptedFileSystem::AddFamily spells it
  std::set<std::string> acceptable;  // versions APPDIR may hold after the boot and a repair
  bool forward_busy = false;         // the rename of .staging to APPDIR stays busy for the whole budget
  uint32_t forward_error = 0;        // the rename of .staging to APPDIR fails with this
};

void CheckBootAndRepair(ScriptedFileSystem& booted, const Scenario& scenario, size_t cut) {
  SCOPED_TRACE("power cut after mutation " + std::to_string(cut));
  const SwapResult repair = RepairTransaction(kAppdir, booted, booted.MakeVerifier(), booted.MakeRemover(), RetryBudgets{});
  EXPECT_NE(repair.outcome, Outcome::Torn);
  EXPECT_NE(repair.outcome, Outcome::Unrecoverable);
  const std::string version = booted.IntactVersion(kAppdir);
  EXPECT_EQ(scenario.acceptable.count(version), 1u) << "APPDIR holds '" << version << "'";
  if (!repair.version.empty()) {
    EXPECT_EQ(WideToUtf8(booted.active_version), version);
  }
}

ScriptedFileSystem Volume(const Scenario& scenario) {
  ScriptedFileSystem fs;
  fs.AddFamily(kAppdir, scenario.family);
  if (scenario.forward_busy) fs.rename_scripts[L"C:\\Corvella.staging"] = {UINT32_MAX, 32, 0};
  if (scenario.forward_error != 0) fs.rename_scripts[L"C:\\Corvella.staging"] = {0, 0, scenario.forward_error};
  return fs;
}

TEST(PowerCutTest, EveryCutOfARepairAndOfACleanUpLeavesAnAppdir) {
  // 2.0.0 is the staged version, 0.9.0 the last-known-good one, 1.0.0 the APPDIR of a clean-up.
  const Scenario repairs[] = {
      {"acca", {"0.9.0", "2.0.0"}},  // between the two renames of a swap
      {"aaca", {"0.9.0"}},
      {"accc", {"0.9.0"}},           // a rejected version beside both copies
      {"adca", {"0.9.0"}},           // a damaged staged tree
      {"acaa", {"2.0.0"}},
      {"acca", {"0.9.0", "2.0.0"}, true},
  };
  const Scenario cleanups[] = {
      {"cccri", {"1.0.0"}},  // every kind of leftover
      {"cdcaa", {"1.0.0"}},  // a staged tree that fails verification beside a usable .lkg
      {"coiaf", {"1.0.0"}},  // copies without markers or admin owners
  };

  size_t total_mutations = 0;
  size_t states = 0;
  for (const Scenario& scenario : repairs) {
    SCOPED_TRACE(std::string("repair: ") + scenario.family);
    const size_t n = test::SweepPowerCuts(
        Volume(scenario),
        [](ScriptedFileSystem& fs) { RepairTransaction(kAppdir, fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{}); },
        [&](ScriptedFileSystem& booted, size_t cut) { CheckBootAndRepair(booted, scenario, cut); }, states);
    EXPECT_GE(n, 2u);  // the rename and the ActiveVersion write
    std::printf("power-cut sweep: repair of %s, N = %zu\n", scenario.family, n);
    total_mutations += n;
  }
  for (const Scenario& scenario : cleanups) {
    SCOPED_TRACE(std::string("clean-up: ") + scenario.family);
    const size_t n = test::SweepPowerCuts(
        Volume(scenario),
        [](ScriptedFileSystem& fs) {
          GcPassResult pass;
          ASSERT_TRUE(CleanLeftovers(kAppdir, fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
          EXPECT_EQ(fs.unlocked_mutations, 0u);
        },
        [&](ScriptedFileSystem& booted, size_t cut) {
          // A second pass after the boot must finish the removals without touching APPDIR either.
          GcPassResult pass;
          ASSERT_TRUE(
              CleanLeftovers(kAppdir, booted, RetryBudgets{}, booted.MakeVerifier(), booted.MakeRemover(), pass));
          CheckBootAndRepair(booted, scenario, cut);
          EXPECT_FALSE(booted.Exists(L"C:\\Corvella.staging.partial"));
          EXPECT_FALSE(booted.Exists(L"C:\\Corvella.rejected"));
        },
        states);
    EXPECT_GE(n, 4u);
    std::printf("power-cut sweep: clean-up of %s, N = %zu\n", scenario.family, n);
    total_mutations += n;
  }
  std::printf("power-cut sweep: %zu mutations cut, %zu states checked\n", total_mutations, states);
  RecordProperty("mutations", static_cast<int>(total_mutations));
  RecordProperty("states", static_cast<int>(states));
}

TEST(PowerCutTest, EveryCutOfASwapLeavesAnAppdir) {
  // 1.0.0 is the APPDIR before the swap, 2.0.0 the staged version, 0.9.0 an older last-known-good copy.
  const Scenario swaps[] = {
      {"cca", {"1.0.0", "2.0.0"}},
      {"ccc", {"1.0.0", "2.0.0"}},    // the clean-up first removes the superseded .lkg
      {"cccri", {"1.0.0", "2.0.0"}},  // and every other kind of leftover
      {"ccoaf", {"1.0.0", "2.0.0"}},
      {"cci", {"1.0.0", "2.0.0"}},
      {"cdc", {"1.0.0"}},             // a staged tree that fails verification is deleted, the .lkg kept
      {"cda", {"1.0.0"}},             // the transaction refuses it, then it is deleted
      {"cca", {"1.0.0", "2.0.0"}, false, 87},  // the second rename fails and the first is rolled back
      {"cca", {"1.0.0", "2.0.0"}, true},       // the same with a file busy for the whole budget
      {"acc", {"2.0.0"}},             // APPDIR already missing: the swap recovers it
  };
  size_t total_mutations = 0;
  size_t states = 0;
  for (const Scenario& scenario : swaps) {
    SCOPED_TRACE(std::string("swap: ") + scenario.family);
    const size_t n = test::SweepPowerCuts(
        Volume(scenario),
        [](ScriptedFileSystem& fs) {
          PlanAndSwap(kAppdir, fs, SwapHooks{}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
          EXPECT_EQ(fs.unlocked_mutations, 0u);
          EXPECT_EQ(fs.links_descended, 0u);
          EXPECT_FALSE(fs.lock_held);
        },
        [&](ScriptedFileSystem& booted, size_t cut) {
          const std::string before_repair = booted.IntactVersion(kAppdir);
          CheckBootAndRepair(booted, scenario, cut);
          // A present APPDIR is never half a version: a cut leaves it whole or moves it whole.
          if (booted.Exists(kAppdir)) {
            EXPECT_FALSE(booted.IntactVersion(kAppdir).empty());
          }
          if (!before_repair.empty()) {
            EXPECT_EQ(booted.IntactVersion(kAppdir), before_repair);
          }
          // ActiveVersion names the version in APPDIR, or is one write behind it after a cut right after the rename.
          const std::string active = WideToUtf8(booted.active_version);
          EXPECT_TRUE(active.empty() || scenario.acceptable.count(active) == 1) << active;
          // A second swap after the boot leaves the volume no worse, whatever was left to finish.
          PlanAndSwap(kAppdir, booted, SwapHooks{}, booted.MakeVerifier(), booted.MakeRemover(), RetryBudgets{});
          EXPECT_EQ(scenario.acceptable.count(booted.IntactVersion(kAppdir)), 1u);
          EXPECT_FALSE(booted.Exists(L"C:\\Corvella.staging.partial"));
        },
        states);
    EXPECT_GE(n, 2u);  // at least the renames that put one version in APPDIR's place
    std::printf("power-cut sweep: swap of %s, N = %zu\n", scenario.family, n);
    total_mutations += n;
  }
  std::printf("power-cut sweep of a swap: %zu mutations cut, %zu states checked\n", total_mutations, states);
  RecordProperty("swap_mutations", static_cast<int>(total_mutations));
  RecordProperty("swap_states", static_cast<int>(states));
}

}  // namespace
}  // namespace kestrova::appdirswap
