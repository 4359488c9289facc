// Recognising the product's own process, which a swap must not pull APPDIR from under: the rule on image names is
// portable; CorvellaRunningCheck walks the machine's processes and logs the one it finds (Windows only).
#pragma once

#include <string_view>

namespace kestrova::appdirswap {

// The product's process image names: "corvella.exe", or "corvella-" then "v" and a digit, or "corvella-", a word of
// ASCII letters and digits, "-", "v" and a digit; anything may follow before ".exe". The fixed parts ("corvella",
// "v", ".exe") ignore letter case.
bool IsCorvellaProcessName(std::string_view image_name);

#ifdef _WIN32
// True when a process whose image name passes IsCorvellaProcessName runs (with a non-zero id); it then logs
// "swap: <name> is running (PID <id>); leaving the staging dir for Dovrecat". False also when the processes cannot be
// listed.
bool CorvellaRunningCheck();
#endif

}  // namespace kestrova::appdirswap
