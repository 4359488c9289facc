#include "recovery/recovery_policy.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "core/unique_handle_win32.h"

namespace kestrova::recovery {
namespace {

// A policy key of this test run's own under the current user's hive, removed afterwards.
class RecoveryPolicyRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = L"Software\\KestrovaTests\\Policy-" + std::to_wstring(GetCurrentProcessId());
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KestrovaTests");  // only when no other run left keys in it
  }

  void Set(DWORD type, const void* data, DWORD size) {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), kPolicyValueName, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  bool Disabled() { return IsRecoveryDisabledByPolicy(PolicyLocation{true, key_}); }

  std::wstring key_;
};

TEST_F(RecoveryPolicyRegistryTest, MissingKeyOrValueLeavesTheTaskEnabled) {
  EXPECT_FALSE(Disabled());
  RegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            key.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_FALSE(Disabled());
}

TEST_F(RecoveryPolicyRegistryTest, DwordZeroDisables) {
  const DWORD zero = 0;
  Set(REG_DWORD, &zero, sizeof zero);
  EXPECT_TRUE(Disabled());
  // The same value read from the machine's hive is another key: nothing is there.
  EXPECT_FALSE(IsRecoveryDisabledByPolicy(PolicyLocation{false, key_}));
}

TEST_F(RecoveryPolicyRegistryTest, EveryOtherStoredValueLeavesTheTaskEnabled) {
  const DWORD one = 1;
  Set(REG_DWORD, &one, sizeof one);
  EXPECT_FALSE(Disabled()) << "REG_DWORD 1";
  const wchar_t text[] = L"0";
  Set(REG_SZ, text, sizeof text);
  EXPECT_FALSE(Disabled()) << "REG_SZ 0";
  const unsigned char four[4] = {};
  Set(REG_BINARY, four, sizeof four);
  EXPECT_FALSE(Disabled()) << "REG_BINARY 00000000";
  const ULONGLONG wide = 0;
  Set(REG_QWORD, &wide, sizeof wide);
  EXPECT_FALSE(Disabled()) << "REG_QWORD 0";
  const unsigned char two[2] = {};
  Set(REG_DWORD, two, sizeof two);
  EXPECT_FALSE(Disabled()) << "REG_DWORD of two bytes";
  Set(REG_DWORD_BIG_ENDIAN, four, sizeof four);
  EXPECT_FALSE(Disabled()) << "REG_DWORD_BIG_ENDIAN 0";
}

}  // namespace
}  // namespace kestrova::recovery
