// Whether this Windows process runs under Wine, for the few places where Wine's behaviour would be fatal.
// Only the answer lives here; what to do instead is decided by the caller.
#pragma once

namespace kestrova::payload {

// True when ntdll exports wine_get_version, which only Wine's ntdll does. Computed once.
bool IsRunningUnderWine();

}  // namespace kestrova::payload
