// Test double of the trust walk's reading side, for the host and Windows tests alike: a scripted set of entries
// (attributes, reparse tags, final paths, snapshots, open and read failures) keyed by canonical path, which records
// every call in order and counts the entries held open, so tests can check what was read, when, and what stayed open.
// Tests only; the product always reads through Win32TrustReader.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/text.h"
#include "securefs/paths.h"
#include "securefs/trust_walk.h"

namespace kestrova::securefs::test {

struct ScriptedEntry {
  uint32_t openError = 0;  // non-zero: opening fails with this code
  EntryAttributes attributes{true, 0, kFileAttributeDirectory, 0};
  std::optional<WideString> finalPath;  // unset: the entry's own name
  std::string securityFailure;          // non-empty: ReadSecurity returns it
  SecuritySnapshot snapshot;
};

class ScriptedTrustReader : public ITrustReader {
 public:
  // Entries by canonical path ("C:\a"). A path not listed does not exist: it opens with 2 when its parent is
  // listed, else 3, as Windows answers.
  std::map<WideString, ScriptedEntry> entries;
  // Canonical forms by input; an input not listed canonicalises to itself without the long-path prefix and
  // without trailing separators.
  std::map<WideString, WideString> canonical;
  // Account names by SID text; a SID not listed has no name.
  std::map<std::string, std::string> accountNames;

  mutable std::vector<std::string> events;
  mutable int liveEntries = 0;
  // How many entries were open at each security read, in order.
  mutable std::vector<int> liveAtSecurity;
  mutable int canonicalCalls = 0;

  WideString CanonicalPath(const WideString& path) const override {
    ++canonicalCalls;
    const auto found = canonical.find(path);
    if (found != canonical.end()) return found->second;
    return TrimTrailingSeparators(DisplayPath(path));
  }

  std::unique_ptr<IOpenedEntry> Open(const WideString& longForm, uint32_t& error) const override {
    events.push_back("open " + WideToUtf8(longForm));
    const WideString name = DisplayPath(longForm);
    const auto found = entries.find(name);
    if (found == entries.end() || found->second.openError != 0) {
      error = found != entries.end() ? found->second.openError : MissingError(name);
      return nullptr;
    }
    error = 0;
    return std::make_unique<Opened>(*this, name, found->second);
  }

  bool SamePathIgnoringCase(WideView a, WideView b) const override {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (Fold(a[i]) != Fold(b[i])) return false;
    }
    return true;
  }

  std::string AccountName(const std::string& sid) const override {
    const auto found = accountNames.find(sid);
    return found != accountNames.end() ? found->second : std::string();
  }

  // The events of one kind ("open", "attributes", "final", "security", "close"), in order, with their paths.
  std::vector<std::string> EventsOf(const std::string& kind) const {
    std::vector<std::string> selected;
    for (const std::string& event : events) {
      if (event.compare(0, kind.size() + 1, kind + " ") == 0) selected.push_back(event.substr(kind.size() + 1));
    }
    return selected;
  }

 private:
  class Opened : public IOpenedEntry {
   public:
    Opened(const ScriptedTrustReader& reader, WideString name, const ScriptedEntry& entry)
        : reader_(reader), name_(std::move(name)), entry_(entry) {
      ++reader_.liveEntries;
    }
    ~Opened() override {
      --reader_.liveEntries;
      Record("close");
    }
    EntryAttributes ReadAttributes() const override {
      Record("attributes");
      return entry_.attributes;
    }
    WideString FinalPath() const override {
      Record("final");
      return entry_.finalPath.value_or(name_);
    }
    std::string ReadSecurity(SecuritySnapshot& snapshot) const override {
      Record("security");
      reader_.liveAtSecurity.push_back(reader_.liveEntries);
      if (!entry_.securityFailure.empty()) return entry_.securityFailure;
      snapshot = entry_.snapshot;
      return {};
    }

   private:
    void Record(const char* kind) const { reader_.events.push_back(std::string(kind) + " " + WideToUtf8(name_)); }
    const ScriptedTrustReader& reader_;
    WideString name_;
    const ScriptedEntry& entry_;
  };

  static wchar_t Fold(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

  uint32_t MissingError(const WideString& name) const {
    const size_t last = name.find_last_of(L'\\');
    if (last == WideString::npos) return kErrorPathNotFound;
    const WideString parent = last == 2 ? name.substr(0, 3) : name.substr(0, last);
    return parent != name && entries.count(parent) != 0 ? kErrorFileNotFound : kErrorPathNotFound;
  }
};

}  // namespace kestrova::securefs::test
