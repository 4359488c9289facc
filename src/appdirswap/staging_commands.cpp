#include "appdirswap/staging_commands.h"

namespace kestrova::appdirswap {

bool IsCommitVersion(std::string_view text) {
  size_t groups = 0;
  size_t digits = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.' && digits > 0) {
      ++groups;
      digits = 0;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  ++groups;
  return groups == 3 || groups == 4;
}

}  // namespace kestrova::appdirswap
