// The admin-only judgement of one folder's security, read beforehand into a SecuritySnapshot: who owns it, whether
// it has a DACL, and whether any allow entry in effect gives someone other than SYSTEM, Administrators or
// TrustedInstaller a guarded right. Pure data in, UTF-8 verdict fragment out; reading the security of a real folder
// and walking a path are left to the trust walk.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::securefs {

// One DACL entry as read. Mask and SID are read only for the types whose SID follows the mask directly
// (access allowed 0, denied 1, allowed callback 9, denied callback 10); for every other type accessMask is 0 and sid
// is empty. sid is the S-1-... text, empty when it was not read.
struct AceRecord {
  uint8_t aceType = 0;
  uint8_t aceFlags = 0;
  uint32_t accessMask = 0;
  std::string sid;

  bool operator==(const AceRecord&) const = default;
};

// What is read from one folder. owner is the S-1-... text of the owner, empty when there is none or its text could
// not be made; noDacl is true for a NULL DACL; aces are the DACL's entries in DACL order.
struct SecuritySnapshot {
  std::string owner;
  bool noDacl = false;
  std::vector<AceRecord> aces;

  bool operator==(const SecuritySnapshot&) const = default;
};

inline constexpr uint8_t kAceAccessAllowed = 0;
inline constexpr uint8_t kAceAccessDenied = 1;
inline constexpr uint8_t kAceAccessAllowedCompound = 4;
inline constexpr uint8_t kAceAccessAllowedObject = 5;
inline constexpr uint8_t kAceAccessDeniedObject = 6;
inline constexpr uint8_t kAceAccessAllowedCallback = 9;
inline constexpr uint8_t kAceAccessDeniedCallback = 10;
inline constexpr uint8_t kAceAccessAllowedCallbackObject = 11;
inline constexpr uint8_t kAceAccessDeniedCallbackObject = 12;

inline constexpr uint8_t kAceObjectInherit = 0x01;
inline constexpr uint8_t kAceContainerInherit = 0x02;
inline constexpr uint8_t kAceNoPropagateInherit = 0x04;
inline constexpr uint8_t kAceInheritOnly = 0x08;
inline constexpr uint8_t kAceInherited = 0x10;

// The guarded rights, in the order verdicts name them.
inline constexpr uint32_t kRightDelete = 0x00010000;
inline constexpr uint32_t kRightWriteDac = 0x00040000;
inline constexpr uint32_t kRightWriteOwner = 0x00080000;
inline constexpr uint32_t kRightFileDeleteChild = 0x00000040;
inline constexpr uint32_t kGuardedRights = 0x000D0040;
// For a file the tool runs or trusts, writing its content is guarded as well.
inline constexpr uint32_t kRightFileWriteData = 0x00000002;
inline constexpr uint32_t kRightFileAppendData = 0x00000004;
inline constexpr uint32_t kGuardedFileRights = kGuardedRights | kRightFileWriteData | kRightFileAppendData;

inline constexpr std::string_view kSidLocalSystem = "S-1-5-18";
inline constexpr std::string_view kSidAdministrators = "S-1-5-32-544";
inline constexpr std::string_view kSidTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
inline constexpr std::string_view kSidOwnerRights = "S-1-3-4";
inline constexpr std::string_view kSidCreatorOwner = "S-1-3-0";
inline constexpr std::string_view kSidCreatorGroup = "S-1-3-1";

// SYSTEM, Administrators or TrustedInstaller, compared as whole texts, exactly and case-sensitively.
bool IsTrustedPrincipal(std::string_view sid);

// OWNER RIGHTS, CREATOR OWNER or CREATOR GROUP: placeholders whose allow entries grant nothing on the folder itself.
bool IsPlaceholderPrincipal(std::string_view sid);

// The mask with its four generic bits cleared and replaced by what they mean for files: GENERIC_READ 0x00120089,
// GENERIC_WRITE 0x00120116, GENERIC_EXECUTE 0x001200A0, GENERIC_ALL 0x001F01FF.
uint32_t EffectiveFileRights(uint32_t accessMask);

// The names of the guarded rights set in `rights`, joined by "+", in the order DELETE, WRITE_DAC, WRITE_OWNER,
// FILE_DELETE_CHILD, FILE_WRITE_DATA, FILE_APPEND_DATA; other bits are ignored, so no guarded right gives the empty
// text.
std::string RightsText(uint32_t rights);

// Empty when the snapshot is admin-only, otherwise the reason, decided by the first rule that fails: an untrusted
// owner ("owner <sid> is not SYSTEM, Administrators or TrustedInstaller", "unknown" for an empty owner), a NULL DACL
// ("no DACL: everyone has full control"), an allow entry of a type other than ACCESS_ALLOWED ("allow ACE of type <n>
// (callback, object or compound) for <sid> is not supported", "an unread SID" for an empty one), or an allow entry
// for another principal whose rights share guarded bits ("<sid> holds <RightsText>", "an unread SID" for an empty
// one). Inherit-only and deny entries are skipped. With deleteCounts false (a drive root) DELETE is not guarded.
std::string JudgeSnapshot(const SecuritySnapshot& snapshot, bool deleteCounts);

// JudgeSnapshot for a file whose content the tool runs or trusts: the same rules, with FILE_WRITE_DATA and
// FILE_APPEND_DATA guarded besides (kGuardedFileRights) and DELETE always counted.
std::string JudgeFileSnapshot(const SecuritySnapshot& snapshot);

// The security a folder would get if an administrator created it inside `parent`: owner Administrators, a DACL of
// the parent's container-inheritable entries in order, each with its flags cleared and with CREATOR OWNER and
// CREATOR GROUP replaced by Administrators. Object-only inheritable entries are not carried over.
SecuritySnapshot ChildSnapshot(const SecuritySnapshot& parent);

}  // namespace kestrova::securefs
