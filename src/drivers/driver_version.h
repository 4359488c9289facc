// Driver version texts as the INF's DriverVer line and a device's driver-version property give them, and when two
// of them name the same version. Pure text; where the texts come from is the driver commands' business.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrova::drivers {

using DriverVersion = std::array<uint64_t, 4>;

// One to four "."-separated parts of 1 to 18 decimal digits each; missing parts are 0. Anything else (an empty
// part, more than four parts, any other character, the empty text) is not a version.
std::optional<DriverVersion> ParseDriverVersion(std::string_view text);

// Equal as four numbers when both parse (1.2 equals 1.2.0.0, 01.2 equals 1.2); otherwise only when the texts are
// byte-for-byte equal.
bool SameDriverVersion(std::string_view a, std::string_view b);

}  // namespace kestrova::drivers
