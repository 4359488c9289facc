// Where driver packages and certificates may come from: the folder and the file the tool installs from must be
// admin-only, since an elevated install would otherwise carry whatever a standard user put there into the driver
// store or the machine's trusted roots. The judgement itself is securefs's; this module words the refusal.
#pragma once

#include <string>

#include "core/text.h"

namespace kestrova::drivers {

// With a non-empty verdict, reports ERROR "drivers: SECURITY: <path> is not admin-only (<verdict>); not using it"
// and returns true; false (and nothing reported) for an empty one.
bool RefusedSource(const std::string& path, const std::string& verdict);

#ifdef _WIN32
// securefs's CheckTrustedFolder, or CheckTrustedFile when `isFile`, on the path. Empty without judging for a run
// that is known to be unelevated: it holds no right a standard user lacks, so nothing it reads can raise anyone's.
std::string TrustedSourceVerdict(const WideString& path, bool isFile);
#endif

}  // namespace kestrova::drivers
