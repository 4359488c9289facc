// SecureCreateFolder with its judging and securing steps behind a small class, so that a test can stand between
// them: answer the judgement where Wine makes every folder fail on its owner, or swap the folder for another between
// two steps and see which object the descriptor lands on. The product always uses the class as it is; nothing at run
// time chooses other steps.
#pragma once

#include <string>

#include "core/text.h"
#include "core/unique_handle_win32.h"
#include "securefs/trust_walk.h"

namespace kestrova::securefs {

// The verdict on `parent` and the folders above it in `mode`: empty when admin-only.
using ParentJudge = std::string (*)(const WideString& parent, WalkMode mode);

class SecureCreateSteps {
 public:
  virtual ~SecureCreateSteps() = default;
  // CheckPathAndParents.
  virtual std::string JudgeParent(const WideString& parent, WalkMode mode);
  // OpenForSecuring: the entry as itself, never through a link.
  virtual FileHandle Open(const WideString& longPath);
  // IsOwnedByAdmins of the opened object.
  virtual bool OwnedByAdmins(HANDLE folder);
  // ApplySddl of kAdminFolderSddl through the handle; `path` names the folder in messages.
  virtual bool Secure(HANDLE folder, const WideString& path);
};

// SecureCreateFolder of secure_folders.h, taking its steps from `steps`.
bool SecureCreateFolderWith(const WideString& path, SecureCreateSteps& steps);

// SecureCreateFolder of secure_folders.h, judging the parent with `judge`.
bool SecureCreateFolderWith(const WideString& path, ParentJudge judge);

}  // namespace kestrova::securefs
