// Where administrators set the recovery policy, as the command line chose it. Only the location; reading the policy
// belongs to the recovery task, resolving it from the options to the command line.
#pragma once

#include "core/text.h"

namespace kestrova {

// The local machine hive unless "--policy-root hkcu"; an empty key means the recovery task's default policy key.
struct PolicyLocation {
  bool current_user = false;
  WideString key;
};

}  // namespace kestrova
