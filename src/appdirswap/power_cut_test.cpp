// Cuts the power after every mutation of a repair, a clean-up pass, a swap, a commit of a staged tree and the removal
// of a stale one; boots the volume as it was left and cuts the recovering repair at every mutation too. After each
// boot every copy the rules keep must still be intact in the family, ActiveVersion must name what APPDIR holds, and a
// clean repair and the operation's follow-up must leave APPDIR with an acceptable version.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "appdirswap/cleanup.h"
#include "appdirswap/repair.h"
#include "appdirswap/scripted_file_system.h"
#include "appdirswap/staging_moves.h"
#include "appdirswap/swap.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

constexpr wchar_t kAppdir[] = L"C:\\Corvella";
constexpr char kOldVersion[] = "1.0.0";  // ScriptedFileSystem::kFamilyVersions[0], the version APPDIR starts with

enum class Operation { Repair, CleanUp, Swap, Commit, DeleteStale };

struct Scenario {
  Operation operation;
  const char* family;  // as ScriptedFileSystem::AddFamily spells it
  // Versions intact in APPDIR, .staging or .lkg (for a commit also .staging.partial) after every cut and repair.
  std::set<std::string> must_survive;
  std::set<std::string> acceptable;  // versions APPDIR may hold after a repair and the follow-up
  bool forward_busy = false;         // the rename of .staging to APPDIR stays busy for the whole budget
  uint32_t forward_error = 0;        // the rename of .staging to APPDIR fails with this
};

std::string CutName(size_t cut) {
  return cut == 0 ? "no power cut" : "power cut after mutation " + std::to_string(cut);
}

std::string OldVersion(const Scenario& scenario) { return scenario.family[0] == 'c' ? kOldVersion : ""; }

ScriptedFileSystem Volume(const Scenario& scenario) {
  ScriptedFileSystem fs;
  fs.AddFamily(kAppdir, scenario.family);
  fs.active_version = Utf8ToWide(OldVersion(scenario));
  if (scenario.forward_busy) fs.rename_scripts[L"C:\\Corvella.staging"] = {UINT32_MAX, 32, 0};
  if (scenario.forward_error != 0) fs.rename_scripts[L"C:\\Corvella.staging"] = {0, 0, scenario.forward_error};
  return fs;
}

// A repair never touches an APPDIR that holds a version and, unless the power is cut, never ends torn or
// unrecoverable in these families.
void Repair(ScriptedFileSystem& fs) {
  const std::string before = fs.IntactVersion(kAppdir);
  const SwapResult repair = RepairTransaction(kAppdir, fs, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
  const std::string after = fs.IntactVersion(kAppdir);
  if (!before.empty()) {
    EXPECT_EQ(after, before);
  }
  if (fs.stop_after != 0) return;
  EXPECT_NE(repair.outcome, Outcome::Torn);
  EXPECT_NE(repair.outcome, Outcome::Unrecoverable);
  if (!repair.version.empty()) {
    EXPECT_EQ(WideToUtf8(fs.active_version), after);
  }
}

void Run(Operation operation, ScriptedFileSystem& fs) {
  GcPassResult pass;
  switch (operation) {
    case Operation::Repair: Repair(fs); break;
    case Operation::CleanUp:
      ASSERT_TRUE(CleanLeftovers(kAppdir, fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
      break;
    case Operation::Swap:
      PlanAndSwap(kAppdir, fs, SwapHooks{}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
      break;
    case Operation::Commit: CommitUnderLock(kAppdir, fs, RetryBudgets{}, fs.MakeRemover()); break;
    case Operation::DeleteStale: DeleteStaleStagingUnderLock(kAppdir, fs, RetryBudgets{}, fs.MakeRemover()); break;
  }
  EXPECT_EQ(fs.unlocked_mutations, 0u);
  EXPECT_EQ(fs.links_descended, 0u);
  EXPECT_FALSE(fs.lock_held);
}

// True when the journal's last rename into APPDIR came after its last ActiveVersion write.
bool ActiveVersionOneWriteBehind(const ScriptedFileSystem& fs) {
  const std::string into_appdir = " -> " + WideToUtf8(kAppdir);
  for (auto entry = fs.journal.rbegin(); entry != fs.journal.rend(); ++entry) {
    if (entry->compare(0, 7, "active ") == 0) return false;
    if (entry->size() > into_appdir.size() &&
        entry->compare(entry->size() - into_appdir.size(), into_appdir.size(), into_appdir) == 0) {
      return true;
    }
  }
  return false;
}

// `must_survive` is left out after the follow-up of a commit: the swap removes a .staging.partial it finds.
void CheckCopies(const ScriptedFileSystem& fs, const Scenario& scenario, const char* when, bool must_survive = true) {
  SCOPED_TRACE(when);
  const std::string in_appdir = fs.IntactVersion(kAppdir);
  if (fs.Exists(kAppdir)) {
    EXPECT_FALSE(in_appdir.empty()) << "APPDIR holds half a version";
  }
  const std::string old = OldVersion(scenario);
  if (!old.empty()) {
    EXPECT_TRUE(in_appdir == old || fs.IntactVersion(L"C:\\Corvella.lkg") == old) << old << " left APPDIR and .lkg";
  }
  std::set<std::string> family = {in_appdir, fs.IntactVersion(L"C:\\Corvella.staging"),
                                  fs.IntactVersion(L"C:\\Corvella.lkg")};
  if (scenario.operation == Operation::Commit) family.insert(fs.IntactVersion(L"C:\\Corvella.staging.partial"));
  for (const std::string& version : must_survive ? scenario.must_survive : std::set<std::string>()) {
    EXPECT_EQ(family.count(version), 1u) << version << " is intact nowhere in the family";
  }
  // While APPDIR is missing ActiveVersion still names the version that left it.
  const std::string active = WideToUtf8(fs.active_version);
  if (active != in_appdir) {
    EXPECT_TRUE(active == old && (in_appdir.empty() || ActiveVersionOneWriteBehind(fs)))
        << "ActiveVersion '" << active << "' beside APPDIR '" << in_appdir << "'";
  }
}

// After the recovering repair, cut or not: a clean repair, then the operation's follow-up.
void CheckRecovery(ScriptedFileSystem& fs, const Scenario& scenario, size_t cut) {
  SCOPED_TRACE(CutName(cut) + " in the recovering repair");
  CheckCopies(fs, scenario, "booted after the recovering repair");
  Repair(fs);
  const std::string version = fs.IntactVersion(kAppdir);
  EXPECT_EQ(scenario.acceptable.count(version), 1u) << "APPDIR holds '" << version << "'";
  CheckCopies(fs, scenario, "after a clean repair");

  switch (scenario.operation) {
    case Operation::Repair: return;
    case Operation::CleanUp: {
      // A second pass must finish the removals without touching APPDIR either.
      GcPassResult pass;
      ASSERT_TRUE(CleanLeftovers(kAppdir, fs, RetryBudgets{}, fs.MakeVerifier(), fs.MakeRemover(), pass));
      EXPECT_FALSE(fs.Exists(L"C:\\Corvella.rejected"));
      break;
    }
    default:
      // A swap after the boot leaves the volume no worse, and never puts a half-moved tree into APPDIR.
      PlanAndSwap(kAppdir, fs, SwapHooks{}, fs.MakeVerifier(), fs.MakeRemover(), RetryBudgets{});
      break;
  }
  EXPECT_EQ(scenario.acceptable.count(fs.IntactVersion(kAppdir)), 1u) << "after the follow-up";
  if (scenario.operation == Operation::CleanUp || scenario.operation == Operation::Swap) {
    EXPECT_FALSE(fs.Exists(L"C:\\Corvella.staging.partial"));
  }
  CheckCopies(fs, scenario, "after the follow-up", scenario.operation != Operation::Commit);
}

const char* OperationName(Operation operation) {
  switch (operation) {
    case Operation::Repair: return "repair";
    case Operation::CleanUp: return "clean-up";
    case Operation::Swap: return "swap";
    case Operation::Commit: return "commit";
    case Operation::DeleteStale: return "stale .staging removal";
  }
  return "?";
}

size_t MinimumMutations(Operation operation) {
  switch (operation) {
    case Operation::Repair:
    case Operation::Swap: return 2;  // the rename and the ActiveVersion write, or the two renames of an exchange
    case Operation::CleanUp: return 4;
    default: return 1;
  }
}

struct SweepFigures {
  size_t mutations = 0;  // first and second cuts
  size_t states = 0;
};

SweepFigures Sweep(const Scenario* begin, const Scenario* end) {
  SweepFigures figures;
  for (const Scenario* scenario = begin; scenario != end; ++scenario) {
    const std::string name = std::string(OperationName(scenario->operation)) + " of " + scenario->family;
    SCOPED_TRACE(name);
    const Operation operation = scenario->operation;
    size_t second_cuts = 0;
    const size_t n = test::SweepPowerCuts(
        Volume(*scenario), [operation](ScriptedFileSystem& fs) { Run(operation, fs); },
        [&](ScriptedFileSystem& booted, size_t cut) {
          SCOPED_TRACE(CutName(cut));
          CheckCopies(booted, *scenario, "booted");
          if (operation != Operation::Repair && operation != Operation::Swap) {
            EXPECT_EQ(booted.IntactVersion(kAppdir), OldVersion(*scenario)) << "APPDIR was touched";
          }
          second_cuts += test::SweepPowerCuts(
              booted, [](ScriptedFileSystem& fs) { Run(Operation::Repair, fs); },
              [&](ScriptedFileSystem& rebooted, size_t second_cut) { CheckRecovery(rebooted, *scenario, second_cut); },
              figures.states);
        },
        figures.states);
    EXPECT_GE(n, MinimumMutations(operation));
    std::printf("power-cut sweep: %s, N = %zu, %zu second cuts\n", name.c_str(), n, second_cuts);
    figures.mutations += n + second_cuts;
  }
  return figures;
}

// Prints the figures and records them as the test's properties "<prefix>mutations" and "<prefix>states".
void Report(const char* what, const std::string& prefix, const SweepFigures& figures) {
  std::printf("power-cut sweep of %s: %zu mutations cut, %zu states checked\n", what, figures.mutations,
              figures.states);
  ::testing::Test::RecordProperty(prefix + "mutations", static_cast<int>(figures.mutations));
  ::testing::Test::RecordProperty(prefix + "states", static_cast<int>(figures.states));
}

TEST(PowerCutTest, EveryCutOfARepairAndOfACleanUpKeepsEveryCopy) {
  // 2.0.0 is the staged version, 0.9.0 the last-known-good one, 1.0.0 the APPDIR of a clean-up.
  const Scenario repairs[] = {
      {Operation::Repair, "acca", {"0.9.0", "2.0.0"}, {"0.9.0", "2.0.0"}},  // between the two renames of a swap
      {Operation::Repair, "aaca", {"0.9.0"}, {"0.9.0"}},
      {Operation::Repair, "accc", {"0.9.0", "2.0.0"}, {"0.9.0"}},  // a rejected version beside both copies
      {Operation::Repair, "adca", {"0.9.0"}, {"0.9.0"}},           // a damaged staged tree
      {Operation::Repair, "acaa", {"2.0.0"}, {"2.0.0"}},
      {Operation::Repair, "acca", {"0.9.0", "2.0.0"}, {"0.9.0", "2.0.0"}, true},
      {Operation::Repair, "aoco", {"0.9.0"}, {"0.9.0"}},  // strangers' copies go before .lkg comes back
  };
  const Scenario cleanups[] = {
      {Operation::CleanUp, "cccri", {"1.0.0", "2.0.0"}, {"1.0.0"}},  // every kind of leftover; .lkg superseded
      {Operation::CleanUp, "cdcaa", {"1.0.0", "0.9.0"}, {"1.0.0"}},  // a staged tree that fails verification
      {Operation::CleanUp, "coiaf", {"1.0.0"}, {"1.0.0"}},           // copies without markers or admin owners
  };
  const SweepFigures repair = Sweep(std::begin(repairs), std::end(repairs));
  const SweepFigures cleanup = Sweep(std::begin(cleanups), std::end(cleanups));
  const SweepFigures figures{repair.mutations + cleanup.mutations, repair.states + cleanup.states};
  Report("repairs and clean-ups", "", figures);
}

TEST(PowerCutTest, EveryCutOfASwapKeepsEveryCopy) {
  // 1.0.0 is the APPDIR before the swap, 2.0.0 the staged version, 0.9.0 an older last-known-good copy, which may go
  // only for a staged version that verifies.
  const Scenario swaps[] = {
      {Operation::Swap, "cca", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}},
      {Operation::Swap, "ccc", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}},    // the clean-up first removes .lkg
      {Operation::Swap, "cccri", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}},  // and every other kind of leftover
      {Operation::Swap, "ccoaf", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}},
      {Operation::Swap, "cci", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}},
      {Operation::Swap, "cdc", {"1.0.0", "0.9.0"}, {"1.0.0"}},  // a staged tree that fails verification goes
      {Operation::Swap, "cda", {"1.0.0"}, {"1.0.0"}},           // the transaction refuses it, then it goes
      {Operation::Swap, "cca", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}, false, 87},  // rolled back
      {Operation::Swap, "cca", {"1.0.0", "2.0.0"}, {"1.0.0", "2.0.0"}, true},       // busy for the whole budget
      {Operation::Swap, "acc", {"0.9.0", "2.0.0"}, {"2.0.0"}},  // APPDIR already missing: the swap recovers it
  };
  const SweepFigures figures = Sweep(std::begin(swaps), std::end(swaps));
  Report("swaps", "swap_", figures);
}

TEST(PowerCutTest, EveryCutOfACommitOrOfAStaleStagingRemovalKeepsAppdir) {
  // .staging.partial holds 3.0.0, committed with its marker; an old .staging holds 2.0.0 (or has no marker, or is a
  // link), .lkg 0.9.0.
  const Scenario moves[] = {
      {Operation::Commit, "caaac", {"1.0.0", "3.0.0"}, {"1.0.0", "3.0.0"}},
      {Operation::Commit, "ccaac", {"1.0.0", "3.0.0"}, {"1.0.0", "3.0.0"}},
      {Operation::Commit, "ciaac", {"1.0.0", "3.0.0"}, {"1.0.0", "3.0.0"}},
      {Operation::Commit, "craac", {"1.0.0", "3.0.0"}, {"1.0.0", "3.0.0"}},
      {Operation::Commit, "cccac", {"1.0.0", "3.0.0", "0.9.0"}, {"1.0.0", "3.0.0"}},  // .lkg may go only in the swap
      {Operation::DeleteStale, "cca", {"1.0.0"}, {"1.0.0"}},
      {Operation::DeleteStale, "cic", {"1.0.0", "0.9.0"}, {"1.0.0"}},
      {Operation::DeleteStale, "cr", {"1.0.0"}, {"1.0.0"}},
  };
  const SweepFigures figures = Sweep(std::begin(moves), std::end(moves));
  Report("staging moves", "staging_", figures);
}

}  // namespace
}  // namespace kestrova::appdirswap
