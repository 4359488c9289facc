#include "securefs/trust_judgement.h"

namespace kestrova::securefs {
namespace {

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericBits = 0xF0000000;

bool IsDenyType(uint8_t aceType) {
  return aceType == kAceAccessDenied || aceType == kAceAccessDeniedObject || aceType == kAceAccessDeniedCallback ||
         aceType == kAceAccessDeniedCallbackObject;
}

// A verdict must always name someone: an entry whose SID could not be read still grants what its mask says.
std::string SidOrUnread(const std::string& sid) { return sid.empty() ? std::string("an unread SID") : sid; }

}  // namespace

bool IsTrustedPrincipal(std::string_view sid) {
  return sid == kSidLocalSystem || sid == kSidAdministrators || sid == kSidTrustedInstaller;
}

bool IsPlaceholderPrincipal(std::string_view sid) {
  return sid == kSidOwnerRights || sid == kSidCreatorOwner || sid == kSidCreatorGroup;
}

uint32_t EffectiveFileRights(uint32_t accessMask) {
  uint32_t rights = accessMask & ~kGenericBits;
  if (accessMask & kGenericRead) rights |= 0x00120089;
  if (accessMask & kGenericWrite) rights |= 0x00120116;
  if (accessMask & kGenericExecute) rights |= 0x001200A0;
  if (accessMask & kGenericAll) rights |= 0x001F01FF;
  return rights;
}

std::string RightsText(uint32_t rights) {
  static constexpr struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {{kRightDelete, "DELETE"},
                {kRightWriteDac, "WRITE_DAC"},
                {kRightWriteOwner, "WRITE_OWNER"},
                {kRightFileDeleteChild, "FILE_DELETE_CHILD"},
                {kRightFileWriteData, "FILE_WRITE_DATA"},
                {kRightFileAppendData, "FILE_APPEND_DATA"}};
  std::string text;
  for (const auto& entry : kNames) {
    if (!(rights & entry.bit)) continue;
    if (!text.empty()) text += "+";
    text += entry.name;
  }
  return text;
}

namespace {

std::string JudgeGuarding(const SecuritySnapshot& snapshot, uint32_t guarded) {
  if (!IsTrustedPrincipal(snapshot.owner)) {
    return "owner " + (snapshot.owner.empty() ? std::string("unknown") : snapshot.owner) +
           " is not SYSTEM, Administrators or TrustedInstaller";
  }
  if (snapshot.noDacl) return "no DACL: everyone has full control";
  for (const AceRecord& ace : snapshot.aces) {
    if (ace.aceFlags & kAceInheritOnly) continue;
    if (IsDenyType(ace.aceType)) continue;
    // Object, callback and compound allow entries carry conditions or object types this judgement does not
    // evaluate; treating them as harmless could wave through a grant, so they fail instead.
    if (ace.aceType != kAceAccessAllowed) {
      return "allow ACE of type " + std::to_string(ace.aceType) + " (callback, object or compound) for " +
             SidOrUnread(ace.sid) + " is not supported";
    }
    if (IsTrustedPrincipal(ace.sid) || IsPlaceholderPrincipal(ace.sid)) continue;
    const uint32_t shared = EffectiveFileRights(ace.accessMask) & guarded;
    if (shared != 0) return SidOrUnread(ace.sid) + " holds " + RightsText(shared);
  }
  return {};
}

}  // namespace

std::string JudgeSnapshot(const SecuritySnapshot& snapshot, bool deleteCounts) {
  // A drive root's DELETE is left to others on purpose: the root of a volume cannot be deleted or renamed, and
  // Windows itself grants it to Authenticated Users on system drives.
  return JudgeGuarding(snapshot, deleteCounts ? kGuardedRights : (kGuardedRights & ~kRightDelete));
}

std::string JudgeFileSnapshot(const SecuritySnapshot& snapshot) { return JudgeGuarding(snapshot, kGuardedFileRights); }

SecuritySnapshot ChildSnapshot(const SecuritySnapshot& parent) {
  SecuritySnapshot child;
  child.owner = std::string(kSidAdministrators);
  child.noDacl = false;
  for (const AceRecord& ace : parent.aces) {
    if (!(ace.aceFlags & kAceContainerInherit)) continue;
    AceRecord inherited = ace;
    inherited.aceFlags = 0;
    // The creator placeholders become the creator's identity in the child: the tool creates folders as an
    // administrator, and a folder created elevated is owned by Administrators.
    if (inherited.sid == kSidCreatorOwner || inherited.sid == kSidCreatorGroup) {
      inherited.sid = std::string(kSidAdministrators);
    }
    child.aces.push_back(std::move(inherited));
  }
  return child;
}

}  // namespace kestrova::securefs
