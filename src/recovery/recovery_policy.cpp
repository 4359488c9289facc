#include "recovery/recovery_policy.h"

namespace kestrova::recovery {

bool PolicyDisablesTask(const PolicyValue& value) {
  if (!value.queried || value.type != kRegDword || value.size != 4) return false;
  return value.data[0] == 0 && value.data[1] == 0 && value.data[2] == 0 && value.data[3] == 0;
}

WideString PolicyKey(const PolicyLocation& policy) {
  return policy.key.empty() ? WideString(kDefaultPolicyKey) : policy.key;
}

}  // namespace kestrova::recovery
