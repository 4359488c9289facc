#include "securefs/trust_walk.h"

#include <cstdio>
#include <vector>

#include "securefs/canonical_path.h"
#include "securefs/create_rights.h"

namespace kestrova::securefs {
namespace {

std::string CannotOpen(const WideString& name, uint32_t error) {
  return WideToUtf8(name) + ": cannot open (" + std::to_string(error) + ")";
}

// Every prefix of a path opened and checked, root first, before any security is read.
struct OpenedChain {
  std::string failure;  // non-empty: the walk's verdict, given before any security was read
  std::vector<WideString> prefixes;
  std::vector<std::unique_ptr<IOpenedEntry>> kept;  // the existing prefixes, all open until the verdict is made
  size_t firstMissing = 0;                          // prefixes.size() when nothing is missing
};

OpenedChain OpenChain(const ITrustReader& reader, const WideString& path, WalkMode mode) {
  OpenedChain chain;
  const WideString canonical = HasEmbeddedNul(path) ? WideString() : reader.CanonicalPath(path);
  if (!IsDriveAbsolute(canonical)) {
    chain.failure = WideToUtf8(path) + " is not an absolute path on a drive letter";
    return chain;
  }
  chain.prefixes = PathPrefixes(canonical);
  chain.firstMissing = chain.prefixes.size();

  // Names, attributes and links of the whole chain first, holding every handle: a folder swapped for a link after
  // its name was compared cannot then be judged in its place, because the security is read from these very objects.
  for (size_t i = 0; i < chain.prefixes.size(); ++i) {
    const WideString& prefix = chain.prefixes[i];
    uint32_t error = 0;
    std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(prefix), error);
    if (!entry) {
      // A missing drive root is never a missing tail: with nothing kept there is no parent to judge.
      const bool missing = error == kErrorFileNotFound || error == kErrorPathNotFound;
      if (mode != WalkMode::ExistingOnly && missing && !chain.kept.empty()) {
        chain.firstMissing = i;
        break;
      }
      chain.failure = CannotOpen(prefix, error);
      return chain;
    }
    const std::string attributeText = AttributeVerdict(entry->ReadAttributes());
    if (!attributeText.empty()) {
      chain.failure = WideToUtf8(prefix) + " " + attributeText;
      return chain;
    }
    const WideString finalPath = entry->FinalPath();
    if (!reader.SamePathIgnoringCase(finalPath, prefix)) {
      chain.failure = WideToUtf8(prefix) + " resolves to " +
                      (finalPath.empty() ? std::string("an unreadable path") : WideToUtf8(finalPath));
      return chain;
    }
    chain.kept.push_back(std::move(entry));
  }
  return chain;
}

// Reads kept entry `i` into `snapshot` and judges it; `read` tells whether `snapshot` now holds its security.
std::string JudgeKept(const OpenedChain& chain, size_t i, SecuritySnapshot& snapshot, bool& read) {
  const std::string prefix = WideToUtf8(chain.prefixes[i]);
  const std::string readFailure = chain.kept[i]->ReadSecurity(snapshot);
  read = readFailure.empty();
  if (!read) return prefix + ": " + readFailure;
  const std::string judgement = JudgeSnapshot(snapshot, !IsDriveRoot(chain.prefixes[i]));
  if (!judgement.empty()) return prefix + ": " + judgement;
  return {};
}

std::string JoinVerdicts(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  if (second.empty()) return first;
  return first + "; " + second;
}

AccountNamer NamerOf(const ITrustReader& reader) {
  return [&reader](const std::string& sid) { return reader.AccountName(sid); };
}

}  // namespace

std::string AttributeVerdict(const EntryAttributes& attributes) {
  if (!attributes.readable) return "attributes unreadable (" + std::to_string(attributes.error) + ")";
  if (attributes.attributes & kFileAttributeReparsePoint) {
    char tag[16];
    std::snprintf(tag, sizeof tag, "0x%08lX", static_cast<unsigned long>(attributes.reparseTag));
    return std::string("is a reparse point (tag ") + tag + ")";
  }
  if (attributes.attributes & kFileAttributeDirectory) return {};
  return "is not a directory";
}

std::string CheckPathAndParentsWith(const ITrustReader& reader, const WideString& path, WalkMode mode) {
  const OpenedChain chain = OpenChain(reader, path, mode);
  if (!chain.failure.empty()) return chain.failure;
  SecuritySnapshot snapshot;
  for (size_t i = 0; i < chain.kept.size(); ++i) {
    bool read = false;
    const std::string verdict = JudgeKept(chain, i, snapshot, read);
    if (!verdict.empty()) return verdict;
  }
  // `snapshot` now holds the last kept folder: the parent of the first missing one.
  if (mode == WalkMode::MissingJudged && chain.firstMissing < chain.prefixes.size()) {
    const std::string judgement = JudgeSnapshot(ChildSnapshot(snapshot), true);
    if (!judgement.empty()) return WideToUtf8(chain.prefixes[chain.firstMissing]) + " (to be created): " + judgement;
  }
  return {};
}

std::string CheckTrustedFolderWith(const ITrustReader& reader, const WideString& path) {
  const OpenedChain chain = OpenChain(reader, path, WalkMode::ExistingOnly);
  if (!chain.failure.empty()) return chain.failure;
  const size_t last = chain.kept.size() - 1;
  SecuritySnapshot snapshot;
  std::string verdict;
  bool read = false;
  size_t judged = 0;
  for (; judged <= last; ++judged) {
    verdict = JudgeKept(chain, judged, snapshot, read);
    if (!verdict.empty()) break;
  }
  // A folder above stopped the judgement before the parent was read: its security is read now, once, from the
  // handle held since the chain was opened, so the create rule looks at the very folder whose name was checked.
  const bool lastRead = judged >= last ? read : chain.kept[last]->ReadSecurity(snapshot).empty();
  if (!lastRead) return verdict;
  return JoinVerdicts(verdict, JudgeCreateRights(snapshot, WideToUtf8(chain.prefixes[last]), NamerOf(reader)));
}

std::string CheckTrustedFileWith(const ITrustReader& reader, const WideString& path) {
  const WideString canonical = HasEmbeddedNul(path) ? WideString() : reader.CanonicalPath(path);
  if (!IsDriveAbsolute(canonical)) return WideToUtf8(path) + " is not an absolute path on a drive letter";
  const std::vector<WideString> prefixes = PathPrefixes(canonical);
  const std::string name = WideToUtf8(canonical);
  if (prefixes.size() < 2) return name + " is not a file";
  // The folder first: once no one but administrators may change it or create in it, the file's name can only
  // change hands through them, so the file opened next is the one its folder holds.
  const std::string folderVerdict = CheckTrustedFolderWith(reader, prefixes[prefixes.size() - 2]);
  if (!folderVerdict.empty()) return folderVerdict;
  uint32_t error = 0;
  const std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(canonical), error);
  if (!entry) return CannotOpen(canonical, error);
  const EntryAttributes attributes = entry->ReadAttributes();
  if (!attributes.readable || (attributes.attributes & kFileAttributeReparsePoint)) {
    return name + " " + AttributeVerdict(attributes);
  }
  if (attributes.attributes & kFileAttributeDirectory) return name + " is a directory";
  SecuritySnapshot snapshot;
  const std::string readFailure = entry->ReadSecurity(snapshot);
  if (!readFailure.empty()) return name + ": " + readFailure;
  const std::string judgement = JudgeFileSnapshot(snapshot);
  if (!judgement.empty()) return name + ": " + judgement;
  return {};
}

std::string CreateRightsTextWith(const ITrustReader& reader, const WideString& folder) {
  const WideString canonical = HasEmbeddedNul(folder) ? WideString() : reader.CanonicalPath(folder);
  if (canonical.empty()) return {};
  uint32_t error = 0;
  const std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(canonical), error);
  if (!entry || !AttributeVerdict(entry->ReadAttributes()).empty()) return {};
  SecuritySnapshot snapshot;
  if (!entry->ReadSecurity(snapshot).empty()) return {};
  return JudgeCreateRights(snapshot, WideToUtf8(canonical), NamerOf(reader));
}

std::string CheckFolderWith(const ITrustReader& reader, const WideString& path) {
  const WideString canonical = HasEmbeddedNul(path) ? WideString() : reader.CanonicalPath(path);
  if (canonical.empty()) return WideToUtf8(path) + " is not a valid path";
  uint32_t error = 0;
  const std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(canonical), error);
  if (!entry) return CannotOpen(canonical, error);
  const std::string name = WideToUtf8(canonical);
  const std::string attributeText = AttributeVerdict(entry->ReadAttributes());
  if (!attributeText.empty()) return name + " " + attributeText;
  SecuritySnapshot snapshot;
  const std::string readFailure = entry->ReadSecurity(snapshot);
  if (!readFailure.empty()) return name + ": " + readFailure;
  const std::string judgement = JudgeSnapshot(snapshot, !IsDriveRoot(canonical));
  if (!judgement.empty()) return name + ": " + judgement;
  return {};
}

}  // namespace kestrova::securefs
