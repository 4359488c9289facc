// Test double of IFileSystem for the host and Windows tests alike: an in-memory volume of folders and files with
// owners, links, markers and contents, folders another process holds, renames that stay busy for a number of attempts or fail, a lock another holder
// can keep, a virtual clock so the 10-second budgets pass in microseconds, and a power cut after the n-th mutation.
// It also offers the remover and verifier the engine is handed, and a sweep that cuts the power at every mutation of
// an operation. Tests only; the product always uses Win32FileSystem.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "appdirswap/cleanup.h"
#include "appdirswap/file_system.h"
#include "appdirswap/layout.h"
#include "securefs/paths.h"
#include "securefs/system_folders.h"

namespace kestrova::appdirswap::test {

// What a power cut leaves a failed mutation to report: ERROR_NOT_READY.
inline constexpr uint32_t kErrorPowerCut = 21;
// The verdict on a folder a standard user owns.
inline constexpr char kStrangerVerdict[] = "owner S-1-5-21-1-2-3-1001 is not SYSTEM, Administrators or TrustedInstaller";

class ScriptedFileSystem : public IFileSystem {
 public:
  struct Node {
    bool folder = false;
    bool reparse_point = false;
    bool admin_owned = true;  // owner and DACL admin-only
    bool unreadable = false;  // GetPathInfo answers Error (5)
    std::string content;      // files only
  };
  struct RenameScript {
    uint32_t busy_attempts = 0;  // this many attempts answer Busy with busy_error, then the rename proceeds
    uint32_t busy_error = kErrorSharingViolation;
    uint32_t fail_error = 0;     // non-zero: every attempt after the busy ones fails with it
  };

  // Entries by full path ("C:\Corvella\app.exe"); a parent must be listed for its children to be reachable.
  std::map<WideString, Node> tree;
  // Keyed by the rename's source path.
  std::map<WideString, RenameScript> rename_scripts;
  std::set<WideString> unreadable_files;       // ReadSmallFile fails
  std::map<WideString, uint32_t> removal_errors;  // Remove fails at this entry with this code
  std::vector<WideString> system_folders;      // IsSystemFolder is true at or above these
  std::map<WideString, std::string> unsafe_reasons;  // UnsafeAncestorReason by path
  std::set<WideString> held_elsewhere;         // another process holds these without sharing delete
  std::set<WideString> holds;                  // held by HoldForMove, by their current names
  bool installer_running = false;
  bool active_version_fails = false;
  WideString active_version;

  // Another process holds the lock for this many attempts (UINT32_MAX: for ever).
  uint32_t lock_busy_attempts = 0;
  bool lock_held = false;
  WideString lock_path;

  uint64_t now_ms = 1'000'000;
  uint64_t ms_per_attempt = 0;  // time a Rename or TryLock call takes
  std::vector<uint32_t> sleeps;

  // Power cut: after mutation number `stop_after` (1-based; 0 never) every later mutation fails and changes nothing.
  size_t stop_after = 0;
  size_t mutations = 0;
  bool stopped = false;
  // Mutations made without the lock held, and links or files removed as if they were folders; the engine makes none.
  size_t unlocked_mutations = 0;
  size_t links_descended = 0;

  std::vector<std::string> events;
  // Every mutation the volume has undergone, across boots: "rename <from> -> <to>", "remove <path>", "active <version>".
  std::vector<std::string> journal;
  std::vector<WideString> verified;  // folders handed to the verifier, in order

  // A folder holding `files` (name -> content) and, unless `version` is null, a ".complete" marker with it.
  void AddFolder(const WideString& path, const std::map<std::string, std::string>& files = {},
                 const char* version = nullptr, bool admin_owned = true) {
    tree[path] = Node{true, false, admin_owned, false, {}};
    for (const auto& [name, content] : files) tree[path + L"\\" + Utf8ToWide(name)] = Node{false, false, true, false, content};
    if (version != nullptr) tree[path + L"\\" + kMarkerName] = Node{false, false, true, false, version};
  }
  // A complete copy of `version`: its marker and the three files every version of the test product has.
  void AddVersion(const WideString& path, const std::string& version, bool admin_owned = true) {
    AddFolder(path, VersionFiles(version), version.c_str(), admin_owned);
  }
  static std::map<std::string, std::string> VersionFiles(const std::string& version) {
    return {{"corvella.exe", "exe " + version}, {"core.dll", "dll " + version}, {"manifest.json", "list " + version}};
  }
  void AddFile(const WideString& path, const std::string& content = "x") { tree[path] = Node{false, false, true, false, content}; }
  void AddLink(const WideString& path, bool folder = true) { tree[path] = Node{folder, true, false, false, {}}; }

  // The family of `appdir` (and its parent folder), one letter per entry in the order APPDIR, .staging, .lkg,
  // .rejected, .staging.partial (missing letters: absent): a absent, c complete and admin-owned, o complete and owned
  // by someone else, i a full copy without marker, d complete with a damaged file, r link, f plain file, u unreadable.
  // Each entry holds its own version, kFamilyVersions in the same order.
  static constexpr const char* kFamilyVersions[5] = {"1.0.0", "2.0.0", "0.9.0", "1.5.0", "3.0.0"};
  static constexpr const wchar_t* kFamilySuffixes[5] = {L"", L".staging", L".lkg", L".rejected", L".staging.partial"};
  void AddFamily(const WideString& appdir, std::string_view letters) {
    if (!Exists(ParentOf(appdir))) AddFolder(ParentOf(appdir));
    for (size_t i = 0; i < letters.size() && i < 5; ++i) {
      const WideString path = appdir + kFamilySuffixes[i];
      const std::string version = kFamilyVersions[i];
      switch (letters[i]) {
        case 'c': AddVersion(path, version); break;
        case 'o': AddVersion(path, version, /*admin_owned=*/false); break;
        case 'i': AddFolder(path, VersionFiles(version)); break;
        case 'd':
          AddVersion(path, version);
          tree[path + L"\\core.dll"].content = "damaged";
          break;
        case 'r': AddLink(path); break;
        case 'f': AddFile(path); break;
        case 'u':
          AddFolder(path);
          tree[path].unreadable = true;
          break;
        default: break;
      }
    }
  }

  bool Exists(const WideString& path) const { return tree.count(path) != 0; }

  // The removals the remover was handed for the family of `appdir`, as "<suffix> (<reason>)", joined by "; ".
  std::string Removals(const WideString& appdir) const {
    const std::string prefix = "remove " + WideToUtf8(appdir);
    std::string joined;
    for (const std::string& event : events) {
      if (event.compare(0, prefix.size(), prefix) != 0) continue;
      if (!joined.empty()) joined += "; ";
      joined += event.substr(prefix.size());
    }
    return joined;
  }

  // The version whose full file set and marker `folder` holds, nothing more and nothing less; empty otherwise.
  std::string IntactVersion(const WideString& folder) const {
    const auto found = tree.find(folder);
    if (found == tree.end() || !found->second.folder || found->second.reparse_point) return {};
    const auto marker = tree.find(folder + L"\\" + kMarkerName);
    if (marker == tree.end() || marker->second.folder) return {};
    const std::string version = marker->second.content;
    std::map<std::string, std::string> expected = VersionFiles(version);
    expected[WideToUtf8(kMarkerName)] = version;
    size_t seen = 0;
    for (const WideString& child : Below(folder)) {
      const auto want = expected.find(WideToUtf8(child.substr(folder.size() + 1)));
      if (want == expected.end() || tree.at(child).content != want->second) return {};
      ++seen;
    }
    return seen == expected.size() ? version : std::string();
  }

  // The verifier the engine is handed: true for a folder that holds one version intact.
  Verifier MakeVerifier() {
    return [this](const WideString& folder) {
      verified.push_back(folder);
      return !IntactVersion(folder).empty();
    };
  }

  // The remover the engine is handed: deletes as RemoveGcItem does (the marker first unless entry_only, then every
  // entry below, deepest first, then the folder), one mutation per entry.
  Remover MakeRemover() {
    return [this](const GcItem& item) {
      events.push_back("remove " + WideToUtf8(item.path) + " (" + item.reason + ")");
      return Remove(item);
    };
  }

  bool Remove(const GcItem& item) {
    if (!Exists(item.path)) return true;
    if (!item.entry_only && (tree.at(item.path).reparse_point || !tree.at(item.path).folder)) ++links_descended;
    std::vector<WideString> order;
    if (!item.entry_only) {
      const WideString marker = item.path + L"\\" + kMarkerName;
      if (Exists(marker)) order.push_back(marker);
      std::vector<WideString> below = Below(item.path);
      for (auto entry = below.rbegin(); entry != below.rend(); ++entry) {
        if (*entry != marker) order.push_back(*entry);
      }
    }
    order.push_back(item.path);
    for (const WideString& entry : order) {
      const auto error = removal_errors.find(entry);
      if (error != removal_errors.end() || !BeginMutation()) return false;
      tree.erase(entry);
      journal.push_back("remove " + WideToUtf8(entry));
      EndMutation();
    }
    return true;
  }

  // A copy of the volume as the next boot finds it: the persistent state only (entries, registry, scripts of the
  // machine, the journal), without the lock, the cut, the transient failures and the records of this run.
  ScriptedFileSystem AfterPowerCut() const {
    ScriptedFileSystem next;
    next.tree = tree;
    next.journal = journal;
    next.system_folders = system_folders;
    next.unsafe_reasons = unsafe_reasons;
    next.active_version = active_version;
    next.now_ms = now_ms;
    return next;
  }

  PathInfo GetPathInfo(const WideString& path) override {
    const auto found = tree.find(path);
    if (found == tree.end()) return {};
    if (found->second.unreadable) return {PathKind::Error, false};
    return {found->second.folder ? PathKind::Directory : PathKind::File, found->second.reparse_point};
  }

  bool ReadSmallFile(const WideString& path, size_t max_bytes, std::string& out) override {
    out.clear();
    const auto found = tree.find(path);
    if (found == tree.end() || found->second.folder || unreadable_files.count(path) != 0) return false;
    out = found->second.content.substr(0, max_bytes);
    return true;
  }

  MoveResult Rename(const WideString& from, const WideString& to, uint32_t& error) override {
    now_ms += ms_per_attempt;
    events.push_back("rename " + WideToUtf8(from) + " -> " + WideToUtf8(to));
    auto script = rename_scripts.find(from);
    if (script != rename_scripts.end() && script->second.busy_attempts > 0) {
      --script->second.busy_attempts;
      error = script->second.busy_error;
      return ClassifyMoveError(error);
    }
    if (script != rename_scripts.end() && script->second.fail_error != 0) {
      error = script->second.fail_error;
      return ClassifyMoveError(error);
    }
    if (held_elsewhere.count(from) != 0) return Fail(error, kErrorSharingViolation);
    if (!Exists(from)) return Fail(error, 2);
    if (Exists(to)) return Fail(error, kErrorAlreadyExists);
    if (!Exists(ParentOf(to)) || !tree.at(ParentOf(to)).folder) return Fail(error, 3);
    if (!BeginMutation()) return Fail(error, kErrorPowerCut);
    std::vector<WideString> moved = Below(from);
    moved.push_back(from);
    for (const WideString& path : moved) {
      auto node = tree.extract(path);
      node.key() = to + path.substr(from.size());
      tree.insert(std::move(node));
    }
    if (holds.erase(from) != 0) holds.insert(to);
    journal.push_back("rename " + WideToUtf8(from) + " -> " + WideToUtf8(to));
    EndMutation();
    error = 0;
    return MoveResult::Ok;
  }

  MoveResult TryLock(const WideString& path, uint32_t& error) override {
    now_ms += ms_per_attempt;
    events.push_back("trylock");
    // A folder at the lock's name denies the open, as Windows does.
    if (Exists(path) && tree.at(path).folder) {
      error = kErrorAccessDenied;
      return ClassifyLockError(error);
    }
    if (lock_busy_attempts > 0) {
      if (lock_busy_attempts != UINT32_MAX) --lock_busy_attempts;
      error = kErrorSharingViolation;
      return MoveResult::Busy;
    }
    lock_held = true;
    lock_path = path;
    error = 0;
    return MoveResult::Ok;
  }

  void Unlock() override {
    if (lock_held) events.push_back("unlock");
    lock_held = false;
  }

  bool IsSystemFolder(const WideString& path) override {
    for (const WideString& known : system_folders) {
      if (securefs::IsAtOrAbove(securefs::TrimTrailingSeparators(path), known, securefs::AsciiEqualIgnoringCase)) {
        return true;
      }
    }
    return false;
  }

  std::string AdminOnlyVerdict(const WideString& path) override {
    const auto found = tree.find(path);
    if (found == tree.end()) return "cannot open (2)";
    if (found->second.reparse_point) return "is a reparse point (tag 0xA0000003)";
    if (!found->second.folder) return "is not a directory";
    return found->second.admin_owned ? std::string() : kStrangerVerdict;
  }

  MoveResult HoldForMove(const WideString& path, uint32_t& error) override {
    now_ms += ms_per_attempt;
    events.push_back("hold " + WideToUtf8(path));
    if (held_elsewhere.count(path) != 0) return Fail(error, kErrorSharingViolation);
    if (!Exists(path)) return Fail(error, 2);
    if (!tree.at(path).folder || tree.at(path).reparse_point) return Fail(error, kErrorDirectory);
    holds.insert(path);
    error = 0;
    return MoveResult::Ok;
  }

  void ReleaseHolds() override { holds.clear(); }

  std::string UnsafeAncestorReason(const WideString& path) override {
    events.push_back("trust " + WideToUtf8(path));
    const auto found = unsafe_reasons.find(path);
    return found == unsafe_reasons.end() ? std::string() : found->second;
  }

  bool IsInstallerRunning() override { return installer_running; }

  bool WriteActiveVersion(const WideString& version) override {
    if (active_version_fails || !BeginMutation()) return false;
    active_version = version;
    journal.push_back("active " + WideToUtf8(version));
    EndMutation();
    return true;
  }

  uint64_t NowMs() override { return now_ms; }
  void SleepMs(uint32_t ms) override {
    sleeps.push_back(ms);
    now_ms += ms;
  }

  static WideString ParentOf(const WideString& path) {
    const size_t last = path.find_last_of(L'\\');
    return last == 2 ? path.substr(0, 3) : path.substr(0, last);
  }

 private:
  MoveResult Fail(uint32_t& error, uint32_t code) {
    error = code;
    return ClassifyMoveError(code);
  }

  bool BeginMutation() {
    if (stopped) return false;
    ++mutations;
    if (!lock_held) ++unlocked_mutations;
    return true;
  }
  void EndMutation() {
    if (stop_after != 0 && mutations >= stop_after) stopped = true;
  }

  // Every entry strictly below `folder`, in path order (so a folder comes before its contents).
  std::vector<WideString> Below(const WideString& folder) const {
    std::vector<WideString> below;
    const WideString prefix = folder + L"\\";
    for (auto it = tree.lower_bound(prefix); it != tree.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
      below.push_back(it->first);
    }
    return below;
  }
};

// Runs `operation` on a copy of `start` once without a cut, counting its mutations N, then once for every n from 1 to
// N with the power cut after mutation n; each resulting volume, as the next boot finds it, goes to `check`. Returns
// N; `states` grows by the number of volumes checked (N + 1).
inline size_t SweepPowerCuts(const ScriptedFileSystem& start, const std::function<void(ScriptedFileSystem&)>& operation,
                             const std::function<void(ScriptedFileSystem& after_boot, size_t cut)>& check,
                             size_t& states) {
  ScriptedFileSystem whole = start;
  operation(whole);
  const size_t total = whole.mutations;
  ScriptedFileSystem after = whole.AfterPowerCut();
  check(after, 0);
  ++states;
  for (size_t cut = 1; cut <= total; ++cut) {
    ScriptedFileSystem cut_short = start;
    cut_short.stop_after = cut;
    operation(cut_short);
    ScriptedFileSystem booted = cut_short.AfterPowerCut();
    check(booted, cut);
    ++states;
  }
  return total;
}

}  // namespace kestrova::appdirswap::test
