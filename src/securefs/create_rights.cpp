#include "securefs/create_rights.h"

namespace kestrova::securefs {

std::string_view WellKnownAccountName(std::string_view sid) {
  static constexpr struct {
    std::string_view sid;
    std::string_view name;
  } kNames[] = {{"S-1-5-32-545", "BUILTIN\\Users"},
                {"S-1-1-0", "Everyone"},
                {"S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
                {"S-1-5-4", "NT AUTHORITY\\INTERACTIVE"},
                {"S-1-5-32-546", "BUILTIN\\Guests"}};
  for (const auto& entry : kNames) {
    if (entry.sid == sid) return entry.name;
  }
  return {};
}

std::string JudgeCreateRights(const SecuritySnapshot& snapshot, const std::string& folder, const AccountNamer& namer) {
  for (const AceRecord& ace : snapshot.aces) {
    if (ace.aceFlags & kAceInheritOnly) continue;
    // Deny entries are not subtracted, as in JudgeSnapshot: erring that way can only warn more. Every other allow
    // type is refused by JudgeSnapshot already.
    if (ace.aceType != kAceAccessAllowed) continue;
    if (IsTrustedPrincipal(ace.sid) || IsPlaceholderPrincipal(ace.sid)) continue;
    const uint32_t rights = EffectiveFileRights(ace.accessMask);
    if (!(rights & (kRightAddFile | kRightAddSubdirectory))) continue;
    std::string account(WellKnownAccountName(ace.sid));
    // A name from the system is asked for only for SIDs outside the table, so the well-known groups read the same
    // on every language of Windows and under Wine.
    if (account.empty() && !ace.sid.empty()) account = namer(ace.sid);
    if (account.empty()) account = ace.sid.empty() ? std::string("an unread SID") : ace.sid;
    const char* what = (rights & kRightAddSubdirectory) ? " may create folders in " : " may create files in ";
    return account + what + folder;
  }
  return {};
}

}  // namespace kestrova::securefs
