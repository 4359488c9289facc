#include "securefs/trust_walk.h"

#include <cstdio>
#include <vector>

#include "securefs/canonical_path.h"

namespace kestrova::securefs {
namespace {

std::string CannotOpen(const WideString& name, uint32_t error) {
  return WideToUtf8(name) + ": cannot open (" + std::to_string(error) + ")";
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
  const WideString canonical = HasEmbeddedNul(path) ? WideString() : reader.CanonicalPath(path);
  if (!IsDriveAbsolute(canonical)) return WideToUtf8(path) + " is not an absolute path on a drive letter";
  const std::vector<WideString> prefixes = PathPrefixes(canonical);

  // Names, attributes and links of the whole chain first, holding every handle: a folder swapped for a link after
  // its name was compared cannot then be judged in its place, because the security is read from these very objects.
  std::vector<std::unique_ptr<IOpenedEntry>> kept;
  size_t firstMissing = prefixes.size();
  for (size_t i = 0; i < prefixes.size(); ++i) {
    const WideString& prefix = prefixes[i];
    uint32_t error = 0;
    std::unique_ptr<IOpenedEntry> entry = reader.Open(OpenFormOf(prefix), error);
    if (!entry) {
      // A missing drive root is never a missing tail: with nothing kept there is no parent to judge.
      const bool missing = error == kErrorFileNotFound || error == kErrorPathNotFound;
      if (mode != WalkMode::ExistingOnly && missing && !kept.empty()) {
        firstMissing = i;
        break;
      }
      return CannotOpen(prefix, error);
    }
    const std::string attributeText = AttributeVerdict(entry->ReadAttributes());
    if (!attributeText.empty()) return WideToUtf8(prefix) + " " + attributeText;
    const WideString finalPath = entry->FinalPath();
    if (!reader.SamePathIgnoringCase(finalPath, prefix)) {
      return WideToUtf8(prefix) + " resolves to " +
             (finalPath.empty() ? std::string("an unreadable path") : WideToUtf8(finalPath));
    }
    kept.push_back(std::move(entry));
  }

  SecuritySnapshot snapshot;
  for (size_t i = 0; i < kept.size(); ++i) {
    const std::string prefix = WideToUtf8(prefixes[i]);
    const std::string readFailure = kept[i]->ReadSecurity(snapshot);
    if (!readFailure.empty()) return prefix + ": " + readFailure;
    const std::string judgement = JudgeSnapshot(snapshot, !IsDriveRoot(prefixes[i]));
    if (!judgement.empty()) return prefix + ": " + judgement;
  }
  // `snapshot` now holds the last kept folder: the parent of the first missing one.
  if (mode == WalkMode::MissingJudged && firstMissing < prefixes.size()) {
    const std::string judgement = JudgeSnapshot(ChildSnapshot(snapshot), true);
    if (!judgement.empty()) return WideToUtf8(prefixes[firstMissing]) + " (to be created): " + judgement;
  }
  return {};
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
