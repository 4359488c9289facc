#include "securefs/trust_reader_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <climits>

#include "securefs/canonical_path.h"
#include "securefs/paths.h"

namespace kestrova::securefs {
namespace {

// The S-1-... text of a SID that is known to be wholly readable; empty when the system cannot format it.
std::string SidText(PSID sid) {
  if (sid == nullptr || !IsValidSid(sid)) return {};
  LocalMemory text;
  LPWSTR raw = nullptr;
  if (!ConvertSidToStringSidW(sid, &raw)) return {};
  text.reset(raw);
  return WideToUtf8(raw);
}

// The SID of an entry whose SID follows the mask directly (ACCESS_ALLOWED_ACE layout: header, mask, SidStart).
// AceSize bounds what may be read: a SID whose sub-authorities would run past the entry is left unread rather than
// read from beyond it; the judgement then names "an unread SID" for whatever it grants.
std::string EntrySidText(const ACE_HEADER* header) {
  constexpr size_t kSidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
  constexpr size_t kSidFixedPart = 8;  // revision, sub-authority count, six bytes of identifier authority
  if (header->AceSize < kSidOffset + kSidFixedPart) return {};
  const auto* sidBytes = reinterpret_cast<const BYTE*>(header) + kSidOffset;
  const size_t sidLength = kSidFixedPart + 4u * sidBytes[1];
  if (header->AceSize < kSidOffset + sidLength) return {};
  return SidText(const_cast<BYTE*>(sidBytes));
}

bool HasMaskAndSid(BYTE aceType) {
  return aceType == ACCESS_ALLOWED_ACE_TYPE || aceType == ACCESS_DENIED_ACE_TYPE ||
         aceType == ACCESS_ALLOWED_CALLBACK_ACE_TYPE || aceType == ACCESS_DENIED_CALLBACK_ACE_TYPE;
}

WideString WithoutLongPathPrefix(WideString path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
  return path;
}

}  // namespace

EntryAttributes Win32OpenedEntry::ReadAttributes() const {
  EntryAttributes result;
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(handle_.get(), FileAttributeTagInfo, &info, sizeof info)) {
    result.error = GetLastError();
    return result;
  }
  result.readable = true;
  result.attributes = info.FileAttributes;
  result.reparseTag = info.ReparseTag;
  return result;
}

WideString Win32OpenedEntry::FinalPath() const {
  // The first call answers most paths; when the buffer is short the call returns the size it needs (with the
  // terminator), and a second call into a buffer of that size is the last attempt.
  DWORD capacity = MAX_PATH;
  WideString buffer(capacity, L'\0');
  DWORD length = GetFinalPathNameByHandleW(handle_.get(), buffer.data(), capacity, 0);
  if (length == 0) return {};
  if (length >= capacity) {
    capacity = length + 1;
    buffer.assign(capacity, L'\0');
    length = GetFinalPathNameByHandleW(handle_.get(), buffer.data(), capacity, 0);
    if (length == 0 || length >= capacity) return {};
  }
  buffer.resize(length);
  return WithoutLongPathPrefix(std::move(buffer));
}

std::string Win32OpenedEntry::ReadSecurity(SecuritySnapshot& snapshot) const {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR rawDescriptor = nullptr;
  // GetSecurityInfo returns its error instead of setting the last error. Owner and DACL point into the descriptor,
  // which is owned here until the snapshot holds copies of everything read.
  const DWORD status = GetSecurityInfo(handle_.get(), SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                                       &dacl, nullptr, &rawDescriptor);
  LocalMemory descriptor(rawDescriptor);
  if (status != ERROR_SUCCESS) return "security unreadable (" + std::to_string(status) + ")";

  snapshot = SecuritySnapshot{};
  snapshot.owner = SidText(owner);
  // A descriptor without a DACL and one with a present but NULL DACL both come back as a null pointer; both grant
  // everyone everything.
  snapshot.noDacl = dacl == nullptr;
  if (dacl == nullptr) return {};
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    if (!GetAce(dacl, index, &ace) || ace == nullptr) return "ACE " + std::to_string(index) + " unreadable";
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AceRecord record;
    record.aceType = header->AceType;
    record.aceFlags = header->AceFlags;
    if (HasMaskAndSid(header->AceType) && header->AceSize >= sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
      record.accessMask = static_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask;
      record.sid = EntrySidText(header);
    }
    snapshot.aces.push_back(std::move(record));
  }
  return {};
}

WideString Win32TrustReader::CanonicalPath(const WideString& path) const { return securefs::CanonicalPath(path); }

std::unique_ptr<IOpenedEntry> Win32TrustReader::Open(const WideString& longForm, uint32_t& error) const {
  error = 0;
  // FILE_FLAG_OPEN_REPARSE_POINT opens a junction or symbolic link as itself so its attributes show it; backup
  // semantics are what lets CreateFileW open a directory at all. Full sharing keeps the walk from disturbing others.
  FileHandle handle(CreateFileW(longForm.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  const DWORD openError = GetLastError();
  if (!handle) {
    error = openError;
    return nullptr;
  }
  return std::make_unique<Win32OpenedEntry>(std::move(handle));
}

bool Win32TrustReader::SamePathIgnoringCase(WideView a, WideView b) const {
  if (a.size() > INT_MAX || b.size() > INT_MAX) return false;
  // The ordinal comparison ignoring case uses the same upper-case table as the file system, unlike a locale-aware
  // comparison, so two names compare equal exactly when NTFS would treat them as one.
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

std::string Win32TrustReader::AccountName(const std::string& sid) const {
  PSID rawSid = nullptr;
  if (!ConvertStringSidToSidW(Utf8ToWide(sid).c_str(), &rawSid)) return {};
  const LocalMemory sidMemory(rawSid);
  // The first call fails with ERROR_INSUFFICIENT_BUFFER and gives both sizes with their terminators; the second
  // fills buffers of those sizes and gives the lengths without them. A SID without a domain (Everyone, for one) may
  // report a domain size of 0, so that buffer gets one more character for the terminator.
  DWORD nameLength = 0;
  DWORD domainLength = 0;
  SID_NAME_USE use{};
  LookupAccountSidW(nullptr, rawSid, nullptr, &nameLength, nullptr, &domainLength, &use);
  if (nameLength == 0) return {};
  WideString name(nameLength, L'\0');
  WideString domain(domainLength + 1, L'\0');
  domainLength = static_cast<DWORD>(domain.size());
  if (!LookupAccountSidW(nullptr, rawSid, name.data(), &nameLength, domain.data(), &domainLength, &use)) return {};
  name.resize(nameLength);
  domain.resize(domainLength);
  if (name.empty()) return {};
  return WideToUtf8(domain.empty() ? name : domain + L"\\" + name);
}

}  // namespace kestrova::securefs
