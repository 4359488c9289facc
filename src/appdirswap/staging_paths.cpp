#include "appdirswap/staging_paths.h"

namespace kestrova::appdirswap {

WideString PartialStagingPath(WideView appdir) {
  if (appdir.empty()) return {};
  return WideString(appdir) + L".staging.partial";
}

}  // namespace kestrova::appdirswap
