// Whether this process runs with an elevated token. Commands that judge the rights on what they are about to write
// skip that judgement for an unelevated run, which cannot harm what administrators own anyway. Windows only.
#pragma once

namespace kestrova {

#ifdef _WIN32
// True only when the token is readable and says "not elevated"; an unreadable token counts as elevated.
bool IsKnownUnelevated();
#endif

}  // namespace kestrova
