#include "recovery/recovery_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrova::recovery {
namespace {

PolicyValue Value(bool queried, uint32_t type, uint32_t size, std::vector<unsigned char> data) {
  PolicyValue value;
  value.queried = queried;
  value.type = type;
  value.size = size;
  for (size_t i = 0; i < data.size() && i < 4; ++i) value.data[i] = data[i];
  return value;
}

TEST(RecoveryPolicyTest, OnlyAFourByteDwordZeroDisablesTheTask) {
  constexpr uint32_t kRegSz = 1, kRegBinary = 3, kRegDwordBigEndian = 5, kRegQword = 11;
  struct Case {
    const char* name;
    PolicyValue value;
    bool disables;
  };
  const std::vector<Case> cases = {
      {"REG_DWORD 0", Value(true, kRegDword, 4, {0, 0, 0, 0}), true},
      {"REG_DWORD 1", Value(true, kRegDword, 4, {1, 0, 0, 0}), false},
      {"REG_DWORD 0x00000100", Value(true, kRegDword, 4, {0, 1, 0, 0}), false},
      {"REG_DWORD 0x00010000", Value(true, kRegDword, 4, {0, 0, 1, 0}), false},
      {"REG_DWORD 0x01000000", Value(true, kRegDword, 4, {0, 0, 0, 1}), false},
      {"REG_DWORD 0xFFFFFFFF", Value(true, kRegDword, 4, {0xff, 0xff, 0xff, 0xff}), false},
      {"REG_DWORD of 2 bytes holding 0", Value(true, kRegDword, 2, {0, 0}), false},
      {"REG_DWORD of 0 bytes", Value(true, kRegDword, 0, {}), false},
      {"text \"0\"", Value(true, kRegSz, 4, {'0', 0, 0, 0}), false},
      {"REG_BINARY of 4 zero bytes", Value(true, kRegBinary, 4, {0, 0, 0, 0}), false},
      {"REG_DWORD_BIG_ENDIAN 0", Value(true, kRegDwordBigEndian, 4, {0, 0, 0, 0}), false},
      {"REG_QWORD 0 (too large: the query fails)", Value(false, kRegQword, 8, {0, 0, 0, 0}), false},
      {"missing key or value", Value(false, 0, 0, {}), false},
      {"failed query that left a DWORD 0 behind", Value(false, kRegDword, 4, {0, 0, 0, 0}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(PolicyDisablesTask(c.value), c.disables) << c.name;
}

TEST(RecoveryPolicyTest, EmptyKeyMeansTheDefaultPolicyKey) {
  EXPECT_EQ(PolicyKey(PolicyLocation{false, L""}), L"SOFTWARE\\Policies\\Kestrova\\Corvella");
  EXPECT_EQ(PolicyKey(PolicyLocation{true, L""}), L"SOFTWARE\\Policies\\Kestrova\\Corvella");
  EXPECT_EQ(PolicyKey(PolicyLocation{true, L"Software\\Tests\\P"}), L"Software\\Tests\\P");
}

}  // namespace
}  // namespace kestrova::recovery
