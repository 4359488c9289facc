// The context several commands share, read from the command line with fixed defaults: the updates folder, the
// registry location of the tool's own state and the location of the recovery policy. Only resolution lives here;
// the commands that read or write these places own what they do there.
#pragma once

#include <string>

#include "cli/options.h"
#include "core/policy_location.h"
#include "core/state_location.h"

namespace kestrova {

// --state-root compared exactly with "hkcu"; --state-key when present, even empty.
StateLocation ResolveStateLocation(const Options& options);

// --policy-root compared exactly with "hkcu"; --policy-key or empty.
PolicyLocation ResolvePolicyLocation(const Options& options);

// --updates-dir through the folder clean-up when present (even when that leaves it empty); otherwise
// `defaultFolder`, which the caller takes from the machine's common application data folder.
WideString ResolveUpdatesFolder(const Options& options, const WideString& defaultFolder);

// The folder whose rights decide whether `display` (an absolute display-form path) may be the install folder:
// the text before the last backslash, keeping a backslash at index 2 (C:\Corvella -> C:\). Empty when the path
// has no parent folder, as for a bare drive.
WideString InstallFolderParent(WideView display);

}  // namespace kestrova
