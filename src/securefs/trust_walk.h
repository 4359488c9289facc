// The walks that judge a path with every folder above it, or one folder alone, written against ITrustReader: the
// reader canonicalises, opens entries as themselves, reads attributes, final paths and security, and names accounts;
// this module decides the order of the checks, what a link or a missing folder means, and the verdict text. The
// Windows reader lives in trust_reader_win32.h; the public entry points in trust_evaluation.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/text.h"
#include "securefs/trust_judgement.h"

namespace kestrova::securefs {

// How missing folders at the end of a path are treated. The numbers are fixed.
enum class WalkMode : uint32_t {
  ExistingOnly = 0,    // every folder must exist
  MissingAllowed = 1,  // a missing tail is accepted unjudged
  MissingJudged = 2,   // a missing tail is judged by the rights it would inherit
};

inline constexpr uint32_t kFileAttributeDirectory = 0x10;
inline constexpr uint32_t kFileAttributeReparsePoint = 0x400;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;

// FileAttributeTagInfo of an opened entry; when readable is false, error holds the Win32 code.
struct EntryAttributes {
  bool readable = false;
  uint32_t error = 0;
  uint32_t attributes = 0;
  uint32_t reparseTag = 0;
};

// One entry opened as itself (a link is never followed), held open until the verdict is made.
class IOpenedEntry {
 public:
  virtual ~IOpenedEntry() = default;
  virtual EntryAttributes ReadAttributes() const = 0;
  // The normalised final path with DOS volume name, without a leading "\\?\"; empty when it cannot be read.
  virtual WideString FinalPath() const = 0;
  // Fills `snapshot` (cleared first) from the entry's owner and DACL. Empty on success, otherwise
  // "security unreadable (<code>)" or "ACE <index> unreadable".
  virtual std::string ReadSecurity(SecuritySnapshot& snapshot) const = 0;
};

class ITrustReader {
 public:
  virtual ~ITrustReader() = default;
  // CanonicalPath of canonical_path.h: absolute, long names, no trailing separator; empty when it cannot be made.
  virtual WideString CanonicalPath(const WideString& path) const = 0;
  // Opens the long-path form with read-control and attribute access, full sharing, as itself. Null with the Win32
  // code in `error` on failure.
  virtual std::unique_ptr<IOpenedEntry> Open(const WideString& longForm, uint32_t& error) const = 0;
  // Whether two paths name the same entry by an ordinal comparison that ignores case as the file system does.
  virtual bool SamePathIgnoringCase(WideView a, WideView b) const = 0;
  // The account the system names for an S-1-... text ("DOMAIN\name", or "name" when there is no domain); empty
  // when it names none.
  virtual std::string AccountName(const std::string& sid) const = 0;
};

// Empty for a directory that is not a reparse point; otherwise "attributes unreadable (<code>)",
// "is a reparse point (tag 0x%08lX)" or "is not a directory".
std::string AttributeVerdict(const EntryAttributes& attributes);

// The verdict for `path` and every folder above it, root first: empty when all are admin-only, otherwise one text
// naming the first offending folder. Every open, attribute and final-path check of the whole chain comes before any
// security is read, and every entry that passed stays open until the verdict is made.
std::string CheckPathAndParentsWith(const ITrustReader& reader, const WideString& path, WalkMode mode);

// The verdict for a folder whose names the tool must keep to itself: the folder beside which an update renames the
// install folder, or one the tool takes code or trust from. CheckPathAndParentsWith(path, ExistingOnly), and besides it JudgeCreateRights on `path` itself (the folders above are not judged for it), read
// from the entry the walk holds and never opened or read twice. Both texts are joined by "; " when both are
// non-empty; a walk that fails before any security is read, or whose read of `path` fails, gives its verdict alone.
std::string CheckTrustedFolderWith(const ITrustReader& reader, const WideString& path);

// The verdict for a file the tool runs or whose content it trusts: CheckTrustedFolderWith on the folder that holds
// it, then the file opened as itself, which must be neither a directory ("<file> is a directory") nor a reparse
// point, with JudgeFileSnapshot on its owner and DACL. "<path> is not a file" for a drive root.
std::string CheckTrustedFileWith(const ITrustReader& reader, const WideString& path);

// JudgeCreateRights on that one folder, opened as itself; empty when it cannot be made absolute, opened, is not a
// plain directory or its security cannot be read (judging those is the walk's task).
std::string CreateRightsTextWith(const ITrustReader& reader, const WideString& folder);

// The verdict for that one folder, without looking above it and without comparing its final path.
std::string CheckFolderWith(const ITrustReader& reader, const WideString& path);

}  // namespace kestrova::securefs
