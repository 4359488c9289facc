// The names of APPDIR's sibling folders that more than the update engine needs: the dispatcher's rollback
// removes the partial staging folder by the same name that stage writes it under.
#pragma once

#include "core/text.h"

namespace kestrova::appdirswap {

// APPDIR with ".staging.partial" appended; empty for an empty APPDIR.
WideString PartialStagingPath(WideView appdir);

}  // namespace kestrova::appdirswap
