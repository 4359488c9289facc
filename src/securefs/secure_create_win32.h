// SecureCreateFolder with the judgement of the folders above handed in, so that the creation and re-securing steps
// can be exercised where no folder is admin-only (under Wine every folder is owned by the Wine user). The product
// always judges with CheckPathAndParents; nothing at run time chooses another judge.
#pragma once

#include <string>

#include "core/text.h"
#include "securefs/trust_walk.h"

namespace kestrova::securefs {

// The verdict on `parent` and the folders above it in `mode`: empty when admin-only.
using ParentJudge = std::string (*)(const WideString& parent, WalkMode mode);

// SecureCreateFolder of secure_folders.h, judging the parent with `judge`.
bool SecureCreateFolderWith(const WideString& path, ParentJudge judge);

}  // namespace kestrova::securefs
