// Who, besides administrators, may create entries in a folder: the rule that keeps the folder beside the install
// folder free of planted names between two renames of an update. Pure data in, UTF-8 text out; reading the folder
// and asking the system for account names are left to the trust walk and its reader.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "securefs/trust_judgement.h"

namespace kestrova::securefs {

inline constexpr uint32_t kRightAddFile = 0x00000002;
inline constexpr uint32_t kRightAddSubdirectory = 0x00000004;

// The name of a well-known group: "S-1-5-32-545" BUILTIN\Users, "S-1-1-0" Everyone, "S-1-5-11"
// NT AUTHORITY\Authenticated Users, "S-1-5-4" NT AUTHORITY\INTERACTIVE, "S-1-5-32-546" BUILTIN\Guests; empty for any
// other SID.
std::string_view WellKnownAccountName(std::string_view sid);

// Asked for the name of a SID outside the well-known table; returns "" when it knows none.
using AccountNamer = std::function<std::string(const std::string& sid)>;

// Empty when no one but SYSTEM, Administrators, TrustedInstaller and the creator placeholders may create entries in
// the folder the snapshot was read from. Otherwise the first ACCESS_ALLOWED entry in effect (inherit-only, deny and
// other allow types skipped) whose EffectiveFileRights hold FILE_ADD_SUBDIRECTORY gives "<account> may create
// folders in <folder>", one holding only FILE_ADD_FILE "<account> may create files in <folder>". <account> is the
// well-known name, else what `namer` gives, else the SID text ("an unread SID" when the SID was not read). The owner
// and the NULL DACL are JudgeSnapshot's to refuse and are not looked at.
std::string JudgeCreateRights(const SecuritySnapshot& snapshot, const std::string& folder, const AccountNamer& namer);

}  // namespace kestrova::securefs
