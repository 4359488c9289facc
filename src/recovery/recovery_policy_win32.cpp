#include "recovery/recovery_policy.h"

#include <windows.h>

#include "core/unique_handle_win32.h"

namespace kestrova::recovery {

static_assert(kRegDword == REG_DWORD);

bool IsRecoveryDisabledByPolicy(const PolicyLocation& policy) {
  const WideString key = PolicyKey(policy);
  RegKey opened;
  if (RegOpenKeyExW(policy.current_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, key.c_str(), 0,
                    KEY_QUERY_VALUE | KEY_WOW64_64KEY, opened.put()) != ERROR_SUCCESS) {
    return false;
  }
  PolicyValue value;
  DWORD type = 0;
  DWORD size = sizeof value.data;
  // A larger value (REG_QWORD, a long string) gives ERROR_MORE_DATA and counts as not disabling.
  value.queried = RegQueryValueExW(opened.get(), kPolicyValueName, nullptr, &type, value.data, &size) == ERROR_SUCCESS;
  value.type = type;
  value.size = size;
  return PolicyDisablesTask(value);
}

}  // namespace kestrova::recovery
