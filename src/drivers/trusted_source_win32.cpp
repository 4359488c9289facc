#include "drivers/trusted_source.h"

#include "core/elevation.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::drivers {

std::string TrustedSourceVerdict(const WideString& path, bool isFile) {
  if (IsKnownUnelevated()) return {};
  return isFile ? securefs::CheckTrustedFile(path) : securefs::CheckTrustedFolder(path);
}

}  // namespace kestrova::drivers
