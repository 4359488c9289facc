#include "cli/install_folder_guard.h"

#include <windows.h>

#include "cli/run_context.h"
#include "core/elevation.h"
#include "core/log.h"
#include "core/unique_handle_win32.h"
#include "securefs/paths.h"
#include "securefs/trust_evaluation.h"

namespace kestrova {
std::string InstallFolderProblem(const WideString& folder) {
  // Its display form would drop the "\\?\" of "\\?\Volume{...}\x" and leave a relative path to be judged below the
  // current directory instead.
  if (securefs::IsOtherDeviceForm(folder)) return WideToUtf8(folder) + " is not an absolute path on a drive letter";
  const WideString display = securefs::DisplayPath(securefs::LongPath(folder));
  const WideString parent = InstallFolderParent(display);
  if (parent.empty()) return WideToUtf8(display) + " has no parent folder";
  return securefs::CheckPathAndParents(parent, securefs::WalkMode::MissingJudged);
}

std::string InstallFolderCreateRights(const WideString& folder) {
  if (securefs::IsOtherDeviceForm(folder)) return {};
  const WideString parent = InstallFolderParent(securefs::DisplayPath(securefs::LongPath(folder)));
  return parent.empty() ? std::string() : securefs::CreateRightsText(parent);
}

bool GuardInstallFolder(const char* command, const WideString& folder) {
  if (IsKnownUnelevated()) return true;
  const std::string reason = InstallFolderProblem(folder);
  if (reason.empty()) {
    // Installing beside folders that others may add to stays possible (C:\Corvella is a supported shape); only the
    // update's renames would give a planted sibling its chance, and the update engine refuses to swap there.
    const std::string createRights = InstallFolderCreateRights(folder);
    if (!createRights.empty()) LogWarn("%s: %s; updates will not swap there", command, createRights.c_str());
    return true;
  }
  LogError(
      "%s: SECURITY: refusing to write next to %s: %s. Install Corvella under Program Files or a folder only "
      "administrators can change",
      command, WideToUtf8(folder).c_str(), reason.c_str());
  return false;
}

}  // namespace kestrova
