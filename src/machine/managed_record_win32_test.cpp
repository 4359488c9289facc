// record-managed against the registry: the Update key below a test state key under HKEY_CURRENT_USER, and the
// type of every value written.
#include <gtest/gtest.h>

#include "core/log.h"
#include "machine/commands.h"
#include "machine/state_key_test_support_win32.h"
#include "support/log_capture_win32.h"

namespace kestrova::machine {
namespace {

class RecordManagedRegistryTest : public testing::Test {
 protected:
  void SetUp() override { InstallLogReportSink(); }
  test::TestStateKey state_{"managed"};
};

TEST_F(RecordManagedRegistryTest, WritesDwordsUnderTheUpdateKey) {
  EXPECT_EQ(RecordManaged(state_.location, "2", "1", "", ""), 0);
  auto managed = state_.Read("Update", L"ManagedInstall");
  auto autoUpdate = state_.Read("Update", L"InstallAutoUpdate");
  EXPECT_EQ(managed.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(managed.size, 4u);
  EXPECT_EQ(managed.number, 0u);
  EXPECT_EQ(autoUpdate.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(autoUpdate.number, 1u);

  EXPECT_EQ(RecordManaged(state_.location, "5", "0", "", ""), 0);
  EXPECT_EQ(state_.Read("Update", L"ManagedInstall").number, 0u);
  autoUpdate = state_.Read("Update", L"InstallAutoUpdate");
  EXPECT_EQ(autoUpdate.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(autoUpdate.number, 0u);

  kestrova::test::LogCapture log;
  EXPECT_EQ(RecordManaged(state_.location, "34", "", "", ""), 0);
  managed = state_.Read("Update", L"ManagedInstall");
  EXPECT_EQ(managed.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(managed.number, 1u);
  EXPECT_EQ(state_.Read("Update", L"InstallAutoUpdate").type, static_cast<DWORD>(REG_NONE));
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                             "INFO managed: ManagedInstall=1 (UILevel '34', CORVELLA_AUTOUPDATE '')",
                             "INFO managed: deleted InstallAutoUpdate (no CORVELLA_AUTOUPDATE on this install)"}));
}

TEST_F(RecordManagedRegistryTest, AReinstallLeavesTheKeyUntouched) {
  EXPECT_EQ(RecordManaged(state_.location, "2", "", "ALL", ""), 0);
  EXPECT_EQ(RecordManaged(state_.location, "2", "", "", "1"), 0);
  EXPECT_FALSE(state_.Exists());
}

}  // namespace
}  // namespace kestrova::machine
