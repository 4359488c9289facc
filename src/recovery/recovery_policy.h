// The policy by which administrators switch the recovery task off: where the value lives and which stored values
// mean "off". The decision is portable; reading the registry is the Windows side's. Nothing here registers or removes
// the task.
#pragma once

#include <cstdint>

#include "core/policy_location.h"

namespace kestrova::recovery {

// The policy key used when the location names none, and the value read under it.
inline constexpr wchar_t kDefaultPolicyKey[] = L"SOFTWARE\\Policies\\Kestrova\\Corvella";
inline constexpr wchar_t kPolicyValueName[] = L"RecoveryTaskEnabled";

// Registry value type numbers as the registry API defines them, for the portable decision.
inline constexpr uint32_t kRegDword = 4;

// What a query of the policy value into a 4-byte buffer gave: whether it succeeded (ERROR_MORE_DATA, for a value too
// large for the buffer, is a failure), the type, the size in bytes and the bytes filled.
struct PolicyValue {
  bool queried = false;
  uint32_t type = 0;
  uint32_t size = 0;
  unsigned char data[4] = {};
};

// True only for a REG_DWORD of exactly 4 bytes holding 0. A missing key or value, another type or size, or any other
// number leaves the task enabled.
bool PolicyDisablesTask(const PolicyValue& value);

// The key a location names: its own key, or kDefaultPolicyKey when that is empty.
WideString PolicyKey(const PolicyLocation& policy);

#ifdef _WIN32
// Reads the value under HKEY_CURRENT_USER (current_user) or HKEY_LOCAL_MACHINE, 64-bit view, and decides with
// PolicyDisablesTask. Any failure to read means "not disabled".
bool IsRecoveryDisabledByPolicy(const PolicyLocation& policy);
#endif

}  // namespace kestrova::recovery
