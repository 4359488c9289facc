#include "machine/managed_record.h"

#include <gtest/gtest.h>

#include <map>

#include "core/report.h"
#include "support/report_lines.h"
#include "machine/state_key.h"

namespace kestrova::machine {
namespace {

using Lines = std::vector<std::string>;

// What the code under test reported while the fixture lived, as "LEVEL text" lines.
Lines& Reports() { return kestrova::test::ReportLines::Lines(); }

TEST(ClassifyRunTest, SelfUpdateThenReinstallThenFresh) {
  EXPECT_EQ(ClassifyRun("", "1"), RunKind::SelfUpdate);
  EXPECT_EQ(ClassifyRun("ALL", "1"), RunKind::SelfUpdate);
  EXPECT_EQ(ClassifyRun("ALL", ""), RunKind::RepairOrReinstall);
  EXPECT_EQ(ClassifyRun("ALL", "0"), RunKind::RepairOrReinstall);
  EXPECT_EQ(ClassifyRun("", "0"), RunKind::FreshInstall);
  EXPECT_EQ(ClassifyRun("", "01"), RunKind::FreshInstall);  // only exactly "1" is a self-update
  EXPECT_EQ(ClassifyRun("", ""), RunKind::FreshInstall);
}

TEST(IsSilentUiLevelTest, LowFourBitsTwoOnAPlainDecimalNumber) {
  const std::pair<const char*, bool> cases[] = {
      {"2", true},
      {"34", true},
      {"66", true},
      {"130", true},  // 2 with flag bits above the low four
      {"002", true},
      {"4294967282", true},  // 0xFFFFFFF2, the largest accepted
      {"3", false},
      {"5", false},
      {"18", true},
      {"10", false},  // low four bits 1010: a narrower mask would see the 2 in 010
      {"1", false},
      {"0", false},
      {"", false},
      {"2x", false},
      {"x2", false},
      {" 2", false},
      {"2 ", false},
      {"+2", false},
      {"-14", false},
      {"0x2", false},
      {"2.0", false},
      {"4294967298", false},  // 2^32 + 2: past 32 bits, not a UI level
      {"99999999999999999999999999", false},
  };
  for (const auto& [text, silent] : cases) EXPECT_EQ(IsSilentUiLevel(text), silent) << "'" << text << "'";
}

// The Update key as a map of values, with failures to script; every call recorded.
class ScriptedUpdateKey : public UpdateKeyStore {
 public:
  std::map<std::wstring, uint32_t> values;
  long openError = 0;
  std::map<std::wstring, long> writeErrors;
  long deleteError = 0;
  int opens = 0;

  long Open(const StateLocation&) override {
    ++opens;
    return openError;
  }
  long WriteDword(const wchar_t* name, uint32_t value) override {
    const auto error = writeErrors.find(name);
    if (error != writeErrors.end()) return error->second;
    values[name] = value;
    return 0;
  }
  long DeleteValue(const wchar_t* name) override {
    if (deleteError != 0) return deleteError;
    return values.erase(name) ? 0 : kErrorFileNotFound;
  }
};

class RecordManagedTest : public testing::Test {
 protected:
  int Run(const char* uiLevel, const char* autoUpdate, const char* reinstall = "", const char* selfUpdate = "") {
    return RecordManaged(key, location, uiLevel, autoUpdate, reinstall, selfUpdate);
  }

  ScriptedUpdateKey key;
  StateLocation location;

 private:
  kestrova::test::ReportLines reports_;
};

TEST_F(RecordManagedTest, SilentWithoutChoiceIsManagedAndDropsAnOldChoice) {
  key.values[L"InstallAutoUpdate"] = 1;
  EXPECT_EQ(Run("2", ""), 0);
  EXPECT_EQ(key.values, (std::map<std::wstring, uint32_t>{{L"ManagedInstall", 1}}));
  EXPECT_EQ(Reports(), (Lines{"INFO managed: ManagedInstall=1 (UILevel '2', CORVELLA_AUTOUPDATE '')",
                              "INFO managed: deleted InstallAutoUpdate (no CORVELLA_AUTOUPDATE on this install)"}));

  // Without an old value the deletion gives no line.
  Reports().clear();
  EXPECT_EQ(Run("2", ""), 0);
  EXPECT_EQ(Reports(), (Lines{"INFO managed: ManagedInstall=1 (UILevel '2', CORVELLA_AUTOUPDATE '')"}));
}

TEST_F(RecordManagedTest, TheExamplesOfTheInstallerWriteTheExpectedValues) {
  struct Case {
    const char* uiLevel;
    const char* autoUpdate;
    uint32_t managed;
    int autoUpdateValue;  // -1: absent
  };
  const Case cases[] = {
      {"2", "1", 0, 1}, {"5", "0", 0, 0}, {"34", "", 1, -1}, {"2x", "", 0, -1},
      {"5", "", 0, -1}, {"", "", 0, -1},  {"2", "0", 0, 0},  {"2", "yes", 1, -1},
  };
  for (const Case& c : cases) {
    key.values = {{L"InstallAutoUpdate", 7}};
    EXPECT_EQ(Run(c.uiLevel, c.autoUpdate), 0);
    EXPECT_EQ(key.values[L"ManagedInstall"], c.managed) << c.uiLevel << " " << c.autoUpdate;
    if (c.autoUpdateValue < 0) {
      EXPECT_EQ(key.values.count(L"InstallAutoUpdate"), 0u) << c.uiLevel << " " << c.autoUpdate;
    } else {
      EXPECT_EQ(key.values[L"InstallAutoUpdate"], static_cast<uint32_t>(c.autoUpdateValue));
    }
  }
}

TEST_F(RecordManagedTest, AnInvalidChoiceIsWarnedAboutThenTreatedAsNone) {
  EXPECT_EQ(Run("2", "yes"), 0);
  EXPECT_EQ(Reports(), (Lines{"WARN managed: ignoring CORVELLA_AUTOUPDATE 'yes'; only 0 or 1 is accepted",
                              "INFO managed: ManagedInstall=1 (UILevel '2', CORVELLA_AUTOUPDATE 'yes')"}));
  EXPECT_EQ(key.values, (std::map<std::wstring, uint32_t>{{L"ManagedInstall", 1}}));
}

TEST_F(RecordManagedTest, RepairReinstallAndSelfUpdateKeepTheValues) {
  key.values = {{L"ManagedInstall", 1}, {L"InstallAutoUpdate", 0}};
  const auto kept = key.values;
  EXPECT_EQ(Run("2", "on", "ALL", ""), 0);
  EXPECT_EQ(Run("5", "1", "", "1"), 0);
  EXPECT_EQ(key.values, kept);
  EXPECT_EQ(key.opens, 0);
  EXPECT_EQ(Reports(), (Lines{"WARN managed: ignoring CORVELLA_AUTOUPDATE 'on'; only 0 or 1 is accepted",
                              "INFO managed: repair or self-update; keeping ManagedInstall and InstallAutoUpdate",
                              "INFO managed: repair or self-update; keeping ManagedInstall and InstallAutoUpdate"}));
}

TEST_F(RecordManagedTest, FailuresAreErrorLinesAndTheCommandGoesOn) {
  key.openError = 5;
  EXPECT_EQ(Run("2", "1"), 0);
  EXPECT_EQ(Reports(), (Lines{"ERROR managed: could not open SOFTWARE\\Kestrova\\Corvella\\Update: 5"}));

  Reports().clear();
  key.openError = 0;
  key.writeErrors[L"ManagedInstall"] = 1018;
  EXPECT_EQ(Run("2", "1"), 0);
  EXPECT_EQ(Reports(),
            (Lines{"ERROR managed: could not write ManagedInstall: 1018", "INFO managed: InstallAutoUpdate=1"}));

  Reports().clear();
  key.writeErrors = {{L"InstallAutoUpdate", 5}};
  EXPECT_EQ(Run("5", "0"), 0);
  EXPECT_EQ(Reports().back(), "ERROR managed: could not write InstallAutoUpdate: 5");

  Reports().clear();
  key.deleteError = 5;
  EXPECT_EQ(Run("5", ""), 0);
  EXPECT_EQ(Reports().back(), "ERROR managed: could not delete InstallAutoUpdate: 5");
}

TEST_F(RecordManagedTest, AnEmptyStateKeyIsRefusedBeforeTheRegistryIsTouched) {
  location.key.clear();
  EXPECT_EQ(Run("2", ""), 0);
  EXPECT_EQ(key.opens, 0);
  EXPECT_EQ(Reports(), (Lines{"ERROR managed: the state key is empty; not writing below the root of the hive"}));
}

}  // namespace
}  // namespace kestrova::machine
