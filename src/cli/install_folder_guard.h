// Whether a folder may serve as the install folder, and the guard that refuses an elevated run to write next to
// one that non-administrators can change. The judgement of rights itself belongs to the secure file system.
#pragma once

#include <string>

#include "core/text.h"

namespace kestrova {

// The UTF-8 reason why `folder` cannot be the install folder (its parent, or a folder above it, is not
// admin-only, or it has no parent folder, or it is a volume or device path: "<folder> is not an absolute path on a
// drive letter"); empty when it can.
std::string InstallFolderProblem(const WideString& folder);

// The UTF-8 text naming who besides administrators may create entries in the existing parent folder of `folder`
// ("BUILTIN\Users may create folders in C:\"): an update could not swap the install folder there safely. Empty
// when nobody else may, or when the parent is missing or cannot be read (InstallFolderProblem judges those).
std::string InstallFolderCreateRights(const WideString& folder);

// True when `command` may write next to `folder`. An unelevated run passes without a check (it cannot harm what
// administrators own); otherwise a problem is logged as a SECURITY error under the command's name and the
// result is false. A folder that passes while InstallFolderCreateRights names someone is logged as a warning,
// "<command>: <text>; updates will not swap there", and still passes.
bool GuardInstallFolder(const char* command, const WideString& folder);

}  // namespace kestrova
