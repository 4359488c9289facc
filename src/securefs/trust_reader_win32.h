// The Windows side of the trust walk: canonicalises with the system's path calls, opens entries as themselves with
// CreateFileW, and reads their attributes, final paths, owners and DACLs. It reads only; every decision about what
// it read is made by trust_walk.h and trust_judgement.h.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "core/unique_handle_win32.h"
#include "securefs/trust_walk.h"

namespace kestrova::securefs {

// An entry opened with READ_CONTROL | FILE_READ_ATTRIBUTES; the handle is closed when the object goes.
class Win32OpenedEntry : public IOpenedEntry {
 public:
  explicit Win32OpenedEntry(FileHandle handle) : handle_(std::move(handle)) {}

  // GetFileInformationByHandleEx with FileAttributeTagInfo.
  EntryAttributes ReadAttributes() const override;
  // GetFinalPathNameByHandleW (normalised, DOS volume name), at most two calls, "\\?\" dropped; empty on failure.
  WideString FinalPath() const override;
  // GetSecurityInfo for owner and DACL. Mask and SID are read for the types 0, 1, 9 and 10 only, and the SID only
  // when it lies wholly inside its entry; "security unreadable (<code>)" or "ACE <index> unreadable" on failure.
  std::string ReadSecurity(SecuritySnapshot& snapshot) const override;

  HANDLE Get() const { return handle_.get(); }

 private:
  FileHandle handle_;
};

class Win32TrustReader : public ITrustReader {
 public:
  WideString CanonicalPath(const WideString& path) const override;
  // CreateFileW with READ_CONTROL | FILE_READ_ATTRIBUTES, sharing read, write and delete, OPEN_EXISTING,
  // FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT.
  std::unique_ptr<IOpenedEntry> Open(const WideString& longForm, uint32_t& error) const override;
  // CompareStringOrdinal ignoring case.
  bool SamePathIgnoringCase(WideView a, WideView b) const override;
  // ConvertStringSidToSidW, then LookupAccountSidW on the local machine.
  std::string AccountName(const std::string& sid) const override;
};

}  // namespace kestrova::securefs
