#include "securefs/recreate_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/report.h"

namespace kestrova::securefs {
namespace {

using Reports = std::vector<std::pair<ReportLevel, std::string>>;

Reports& Recorded() {
  static Reports reports;
  return reports;
}

class CapturedReports {
 public:
  CapturedReports() : previous_(InstallReportSink(&Record)) { Recorded().clear(); }
  CapturedReports(const CapturedReports&) = delete;
  CapturedReports& operator=(const CapturedReports&) = delete;
  ~CapturedReports() { InstallReportSink(previous_); }

 private:
  static void Record(ReportLevel level, const char* text) { Recorded().emplace_back(level, text); }
  ReportSink previous_;
};

WideString ParentOf(const WideString& path) { return path.substr(0, path.find_last_of(L'\\')); }

// An in-memory volume: every entry by its full path, each with a tag that stays with the object when it is renamed,
// so a test can tell where every original entry and folder object went. The two held folders are remembered by their
// tags, as handles would hold the objects, and found wherever they stand. It fails the mutations a test picks (by
// their 1-based order) without doing anything, and refuses what the real calls refuse: renaming onto an existing name
// or into a missing folder, removing a folder that is not empty. Unlike Windows it lets anyone rename a held folder,
// so a test can put another folder in its place at any step.
class ScriptedFileOps : public IRecreateFileOps {
 public:
  struct Node {
    bool folder = false;
    std::string tag;
  };

  std::map<WideString, Node> tree;
  std::set<size_t> failAt;   // these mutations fail
  size_t failFrom = 0;       // and, when not 0, this one and every later one
  uint32_t failCode = 5;
  size_t mutations = 0;
  bool injected = false;
  uint32_t failOpen = 0;     // OpenOld fails with this code when not 0
  size_t failListing = 0;    // this listing call fails (1-based), 0 for none
  size_t listings = 0;
  std::function<void(ScriptedFileOps&)> afterFirstListing;
  size_t calls = 0;          // every call of the interface, counted before it runs
  std::function<void(ScriptedFileOps&, size_t)> beforeCall;
  std::map<FolderRole, std::string> held;  // the tag of each folder taken hold of

  void AddFolder(const WideString& path, const std::string& tag) { tree[path] = Node{true, tag}; }
  void AddFile(const WideString& path, const std::string& tag) { tree[path] = Node{false, tag}; }
  bool Exists(const WideString& path) const { return tree.count(path) != 0; }
  bool IsFolder(const WideString& path) const {
    const auto found = tree.find(path);
    return found != tree.end() && found->second.folder;
  }
  std::string TagAt(const WideString& path) const {
    const auto found = tree.find(path);
    return found == tree.end() ? std::string() : found->second.tag;
  }
  std::vector<WideString> ChildrenOf(const WideString& folder) const {
    std::vector<WideString> names;
    for (const auto& [path, node] : tree) {
      if (path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
          path[folder.size()] == L'\\' && path.find(L'\\', folder.size() + 1) == WideString::npos) {
        names.push_back(path.substr(folder.size() + 1));
      }
    }
    return names;
  }
  // The path that holds the object with this tag, or empty; fails the test when two objects carry it.
  WideString Where(const std::string& tag) const {
    WideString where;
    for (const auto& [path, node] : tree) {
      if (node.tag != tag) continue;
      EXPECT_TRUE(where.empty()) << "two objects tagged " << tag;
      where = path;
    }
    return where;
  }
  // Renames an object with everything below it, as the file system would; 0 or the Win32 code of the refusal.
  uint32_t Rename(const WideString& from, const WideString& to) {
    if (!Exists(from)) return 2;
    if (Exists(to)) return 183;
    if (!IsFolder(ParentOf(to))) return 3;
    std::map<WideString, Node> moved;
    for (auto it = tree.begin(); it != tree.end();) {
      const WideString& path = it->first;
      if (path == from || (path.size() > from.size() && path.compare(0, from.size(), from) == 0 &&
                           path[from.size()] == L'\\')) {
        moved[to + path.substr(from.size())] = it->second;
        it = tree.erase(it);
      } else {
        ++it;
      }
    }
    tree.insert(moved.begin(), moved.end());
    return 0;
  }

  uint32_t OpenOld(const WideString& path) override {
    Step();
    if (failOpen != 0) return failOpen;
    if (!Exists(path)) return 2;
    if (!IsFolder(path)) return 267;
    held[FolderRole::Old] = TagAt(path);
    return 0;
  }

  bool CreateNew(const WideString& path) override {
    Step();
    if (Inject()) {
      Report(kReportError, "could not create %s: %lu", WideToUtf8(path).c_str(), static_cast<unsigned long>(failCode));
      return false;
    }
    if (Exists(path) || !IsFolder(ParentOf(path))) {
      Report(kReportError, "could not create %s: %lu", WideToUtf8(path).c_str(), Exists(path) ? 183ul : 3ul);
      return false;
    }
    AddFolder(path, "fresh");
    held[FolderRole::New] = "fresh";
    return true;
  }

  bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) override {
    Step();
    ++listings;
    names.clear();
    const WideString path = HeldPath(folder);
    if (listings == failListing) {
      const std::vector<WideString> all = ChildrenOf(path);
      if (!all.empty()) names.push_back(all.front());  // a listing cut short after its first name
      error = 1117;
      return false;
    }
    if (!IsFolder(path)) {
      error = 6;
      return false;
    }
    names = ChildrenOf(path);
    if (listings == 1 && afterFirstListing) afterFirstListing(*this);
    return true;
  }

  uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) override {
    Step();
    if (Inject()) return failCode;
    const WideString source = HeldPath(from);
    const WideString target = HeldPath(to);
    if (source.empty() || target.empty()) return 6;
    return Rename(source + L"\\" + name, target + L"\\" + name);
  }

  uint32_t RenameFolder(FolderRole folder, const WideString& path) override {
    Step();
    if (Inject()) return failCode;
    const WideString source = HeldPath(folder);
    if (source.empty()) return 6;
    return Rename(source, path);
  }

  uint32_t RemoveEmptyFolder(FolderRole folder) override {
    Step();
    if (Inject()) return failCode;
    const WideString path = HeldPath(folder);
    if (path.empty()) return 6;
    if (!ChildrenOf(path).empty()) return 145;
    tree.erase(path);
    held.erase(folder);
    return 0;
  }

 private:
  WideString HeldPath(FolderRole folder) const {
    const auto found = held.find(folder);
    return found == held.end() ? WideString() : Where(found->second);
  }
  void Step() {
    ++calls;
    if (beforeCall) beforeCall(*this, calls);
  }
  bool Inject() {
    ++mutations;
    const bool fail = failAt.count(mutations) != 0 || (failFrom != 0 && mutations >= failFrom);
    injected = injected || fail;
    return fail;
  }
};

const WideString kParent = L"C:\\data";
const WideString kPath = L"C:\\data\\f";
const WideString kSuffix = L"7-9";
const WideString kFresh = L"C:\\data\\f.new-7-9";
const WideString kAside = L"C:\\data\\f.old-7-9";

// The tags of the entries directly inside the folder, and the folder's own content below one of them.
const std::vector<std::pair<std::string, WideString>> kTopEntries = {
    {"entry a.txt", L"a.txt"}, {"entry b", L"b"}, {"entry c.log", L"c.log"}};

void Populate(ScriptedFileOps& ops) {
  ops.AddFolder(L"C:", "volume");
  ops.AddFolder(kParent, "parent");
  ops.AddFolder(kPath, "original");
  ops.AddFile(kPath + L"\\a.txt", "entry a.txt");
  ops.AddFolder(kPath + L"\\b", "entry b");
  ops.AddFile(kPath + L"\\b\\inner.txt", "entry b\\inner.txt");
  ops.AddFile(kPath + L"\\c.log", "entry c.log");
}

void AddLateEntry(ScriptedFileOps& ops) { ops.AddFile(kPath + L"\\late.txt", "entry late.txt"); }

bool Named(const WideString& folder) {
  const std::string shown = WideToUtf8(folder);
  for (const auto& [level, text] : Recorded()) {
    if (text.find(shown) != std::string::npos) return true;
  }
  return false;
}

bool Reported(const std::string& prefix) {
  for (const auto& [level, text] : Recorded()) {
    if (text.compare(0, prefix.size(), prefix) == 0) return true;
  }
  return false;
}

// Every entry is in the folder it came from or in a folder that a report names; its content went with it; the folder
// objects that vanished were empty (the double refuses anything else); success means the fresh folder stands in
// place holding everything.
void ExpectNothingLost(const ScriptedFileOps& ops, bool late, bool succeeded, const std::string& run) {
  std::vector<std::pair<std::string, WideString>> entries = kTopEntries;
  if (late) entries.emplace_back("entry late.txt", L"late.txt");
  for (const auto& [tag, name] : entries) {
    const WideString where = ops.Where(tag);
    ASSERT_FALSE(where.empty()) << run << ": " << tag << " was lost";
    const WideString folder = ParentOf(where);
    EXPECT_TRUE(folder == kPath || Named(folder))
        << run << ": " << tag << " is in " << WideToUtf8(folder) << ", which no report names";
    EXPECT_EQ(where, folder + L"\\" + name) << run;
  }
  EXPECT_EQ(ops.Where("entry b\\inner.txt"), ParentOf(ops.Where("entry b")) + L"\\b\\inner.txt") << run;
  EXPECT_EQ(ops.Where("parent"), kParent) << run;

  if (succeeded) {
    EXPECT_EQ(ops.Where("fresh"), kPath) << run;
    for (const auto& [tag, name] : entries) {
      if (tag == "entry late.txt" && Reported("left " + WideToUtf8(kAside) + " behind: ")) continue;
      EXPECT_EQ(ops.Where(tag), kPath + L"\\" + name) << run;
    }
    if (!Reported("left ")) {
      EXPECT_TRUE(ops.Where("original").empty()) << run << ": the old folder stayed silently";
    }
    EXPECT_TRUE(Reported(WideToUtf8(kPath) + " recreated admin-only with its ")) << run;
    return;
  }
  EXPECT_FALSE(Reported(WideToUtf8(kPath) + " recreated admin-only")) << run << ": a failure reported as success";
  if (!Reported("could not restore ")) {
    EXPECT_EQ(ops.Where("original"), kPath) << run;
  }
  if (!Reported("could not move every entry back") && !Reported("could not restore ")) {
    // Undone completely: everything is back where it was.
    for (const auto& [tag, name] : entries) EXPECT_EQ(ops.Where(tag), kPath + L"\\" + name) << run;
  }
  EXPECT_FALSE(Recorded().empty()) << run << ": a failure without a message";
}

struct SweepResult {
  size_t runs = 0;
  bool reachedSuccess = false;
};

// Fails the n-th mutation (or, persistent, every mutation from the n-th on) for n = 1, 2, ... until a run meets no
// injected failure, checking every run.
SweepResult Sweep(bool persistent, bool late) {
  SweepResult result;
  for (size_t n = 1; n < 100; ++n) {
    ScriptedFileOps ops;
    Populate(ops);
    if (persistent) {
      ops.failFrom = n;
    } else {
      ops.failAt = {n};
    }
    if (late) ops.afterFirstListing = AddLateEntry;
    CapturedReports reports;
    const bool succeeded = RecreateFolder(ops, kPath, kSuffix);
    const std::string run = std::string(persistent ? "failing from mutation " : "failing mutation ") +
                            std::to_string(n) + (late ? " with a late entry" : "");
    ExpectNothingLost(ops, late && ops.listings > 0, succeeded, run);
    ++result.runs;
    if (!ops.injected) {
      EXPECT_TRUE(succeeded) << run;
      result.reachedSuccess = true;
      return result;
    }
  }
  return result;
}

TEST(RecreateFolderTest, EveryFailurePointKeepsEveryEntry) {
  const SweepResult result = Sweep(false, false);
  EXPECT_TRUE(result.reachedSuccess);
  // create, three moves out, aside, into place, remove the old folder: seven mutations, the eighth run is clean.
  EXPECT_EQ(result.runs, 8u);
}

TEST(RecreateFolderTest, EveryPersistentFailurePointKeepsEveryEntry) {
  const SweepResult result = Sweep(true, false);
  EXPECT_TRUE(result.reachedSuccess);
  EXPECT_EQ(result.runs, 8u);
}

TEST(RecreateFolderTest, EveryFailurePointKeepsALateEntry) {
  const SweepResult single = Sweep(false, true);
  EXPECT_TRUE(single.reachedSuccess);
  EXPECT_EQ(single.runs, 9u) << "the late entry adds one move";
  const SweepResult persistent = Sweep(true, true);
  EXPECT_TRUE(persistent.reachedSuccess);
  EXPECT_EQ(persistent.runs, 9u);
}

TEST(RecreateFolderTest, FailedListingAtAnyStepKeepsEveryEntry) {
  for (size_t listing = 1; listing <= 2; ++listing) {
    ScriptedFileOps ops;
    Populate(ops);
    ops.afterFirstListing = AddLateEntry;
    ops.failListing = listing;
    CapturedReports reports;
    const bool succeeded = RecreateFolder(ops, kPath, kSuffix);
    ExpectNothingLost(ops, listing == 2, succeeded, "failing listing " + std::to_string(listing));
  }
}

// Another user acts before the recreation's call number `step`: whatever stands at the folder's path is renamed away
// (the double does not refuse that, as a held folder on Windows would) and a plain folder with a marker file is put
// in its place. Returns through `planted` whether the substitute went in.
const WideString kMovedAway = L"C:\\data\\moved-away";

void SubstituteBefore(ScriptedFileOps& ops, size_t step, size_t at, bool& planted) {
  if (step != at) return;
  if (ops.Exists(kPath)) ops.Rename(kPath, kMovedAway);
  if (ops.Exists(kPath)) return;
  ops.AddFolder(kPath, "substitute");
  ops.AddFile(kPath + L"\\marker.txt", "marker");
  planted = true;
}

// Before every call in turn: the folders are reached as the objects that were taken hold of, so the substitute keeps
// exactly its marker (unless it stood there before the folder was taken hold of, and was then the folder recreated),
// and every original entry is inside the original or the new folder object, nowhere else.
TEST(RecreateFolderTest, AFolderPutInThePlaceOfThePathAtAnyStepIsNeverFilledOrEmptied) {
  size_t step = 1;
  for (;; ++step) {
    ScriptedFileOps ops;
    Populate(ops);
    bool planted = false;
    ops.beforeCall = [&](ScriptedFileOps& self, size_t call) { SubstituteBefore(self, call, step, planted); };
    CapturedReports reports;
    const bool succeeded = RecreateFolder(ops, kPath, kSuffix);
    const std::string run = "substituted before call " + std::to_string(step);
    if (!planted) {
      // Past the last call: an undisturbed recreation.
      EXPECT_TRUE(succeeded) << run;
      EXPECT_EQ(ops.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"})) << run;
      break;
    }
    if (step == 1) {
      // The folder found at the path is the substitute; the original, renamed away first, is never touched.
      EXPECT_TRUE(succeeded) << run;
      EXPECT_EQ(ops.Where("original"), kMovedAway) << run;
      EXPECT_EQ(ops.ChildrenOf(kMovedAway), (std::vector<WideString>{L"a.txt", L"b", L"c.log"})) << run;
      EXPECT_EQ(ops.Where("marker"), kPath + L"\\marker.txt") << run;
      EXPECT_TRUE(ops.Where("substitute").empty()) << run;
      continue;
    }
    const WideString substitute = ops.Where("substitute");
    ASSERT_FALSE(substitute.empty()) << run;
    EXPECT_EQ(ops.ChildrenOf(substitute), (std::vector<WideString>{L"marker.txt"})) << run;
    for (const auto& [tag, name] : kTopEntries) {
      const WideString where = ops.Where(tag);
      ASSERT_FALSE(where.empty()) << run << ": " << tag << " was lost";
      const std::string holder = ops.TagAt(ParentOf(where));
      EXPECT_TRUE(holder == "original" || holder == "fresh") << run << ": " << tag << " is in " << holder;
      if (succeeded) {
        EXPECT_EQ(holder, "fresh") << run;
      }
    }
    EXPECT_EQ(ops.Where("entry b\\inner.txt"), ops.Where("entry b") + L"\\inner.txt") << run;
    EXPECT_FALSE(Recorded().empty()) << run;
  }
  // open, create, list, three moves, aside, into place, the late listing, the removal: ten calls.
  EXPECT_EQ(step, 11u);
}

class RecreateFolderMessageTest : public ::testing::Test {
 protected:
  RecreateFolderMessageTest() { Populate(ops_); }
  bool Run() { return RecreateFolder(ops_, kPath, kSuffix); }
  ScriptedFileOps ops_;
  CapturedReports reports_;
};

TEST_F(RecreateFolderMessageTest, SuccessMovesEveryEntryAndRemovesTheOldFolder) {
  EXPECT_TRUE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportInfo, "C:\\data\\f recreated admin-only with its 3 entries moved over"}}));
  EXPECT_EQ(ops_.Where("fresh"), kPath);
  EXPECT_TRUE(ops_.Where("original").empty());
  EXPECT_EQ(ops_.Where("entry b\\inner.txt"), kPath + L"\\b\\inner.txt");
  EXPECT_EQ(ops_.ChildrenOf(kParent), (std::vector<WideString>{L"f"}));
}

TEST_F(RecreateFolderMessageTest, UsesTheTemporaryNamesOfTheSuffix) {
  ops_.failAt = {6};
  EXPECT_FALSE(Run());
  EXPECT_EQ(RecreateSuffix(4312, 90311234), L"4312-90311234");
  ASSERT_FALSE(Recorded().empty());
  EXPECT_EQ(Recorded().front().second,
            "could not move C:\\data\\f.new-7-9 into place (5); restoring the old folder");
}

TEST_F(RecreateFolderMessageTest, AnEntryThatCannotMoveBringsTheOthersBack) {
  ops_.failAt = {3};
  ops_.failCode = 32;
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportWarning, "could not move b out of C:\\data\\f (32); keeping it in place"}}));
  EXPECT_EQ(ops_.Where("entry a.txt"), kPath + L"\\a.txt");
  EXPECT_FALSE(ops_.Exists(kFresh)) << "the emptied new folder is removed";
  EXPECT_EQ(ops_.Where("original"), kPath);
}

TEST_F(RecreateFolderMessageTest, AFolderThatCannotMoveAsideGetsItsEntriesBack) {
  ops_.failAt = {5};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportWarning, "could not move C:\\data\\f aside (5); keeping it in place"}}));
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
  EXPECT_FALSE(ops_.Exists(kFresh));
}

TEST_F(RecreateFolderMessageTest, ANewFolderThatCannotTakeThePlaceRestoresTheOldOne) {
  ops_.failAt = {6};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(),
            (Reports{{kReportError, "could not move C:\\data\\f.new-7-9 into place (5); restoring the old folder"}}));
  EXPECT_EQ(ops_.Where("original"), kPath);
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
  EXPECT_FALSE(ops_.Exists(kFresh));
  EXPECT_FALSE(ops_.Exists(kAside));
}

TEST_F(RecreateFolderMessageTest, AFailedRestoreNamesWhereTheEntriesAre) {
  ops_.failFrom = 6;
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(),
            (Reports{{kReportError, "could not move C:\\data\\f.new-7-9 into place (5); restoring the old folder"},
                     {kReportError, "could not restore C:\\data\\f from C:\\data\\f.old-7-9 (5); its entries are in "
                                    "C:\\data\\f.new-7-9"}}));
  EXPECT_EQ(ops_.ChildrenOf(kFresh), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
  EXPECT_EQ(ops_.Where("original"), kAside);
}

TEST_F(RecreateFolderMessageTest, AFailedMoveBackNamesBothFolders) {
  ops_.failAt = {5, 7};  // aside fails, then the second entry cannot go back
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportWarning, "could not move C:\\data\\f aside (5); keeping it in place"},
                                 {kReportError, "could not move every entry back from C:\\data\\f.new-7-9 to "
                                                "C:\\data\\f"}}));
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt"}));
  EXPECT_EQ(ops_.ChildrenOf(kFresh), (std::vector<WideString>{L"b", L"c.log"}));
}

TEST_F(RecreateFolderMessageTest, AFailedListingMovesNothing) {
  ops_.failListing = 1;
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(),
            (Reports{{kReportWarning, "could not list the entries of C:\\data\\f (1117); keeping it in place"}}));
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
  EXPECT_FALSE(ops_.Exists(kFresh));
  EXPECT_EQ(ops_.mutations, 2u) << "only the new folder was made and removed";
}

TEST_F(RecreateFolderMessageTest, AFolderThatCannotBeTakenHoldOfTouchesNothing) {
  ops_.failOpen = 4395;  // a reparse point stands at the path
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(),
            (Reports{{kReportWarning, "could not list the entries of C:\\data\\f (4395); keeping it in place"}}));
  EXPECT_EQ(ops_.mutations, 0u);
  EXPECT_EQ(ops_.listings, 0u);
  EXPECT_FALSE(ops_.Exists(kFresh));
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
}

TEST_F(RecreateFolderMessageTest, ANewFolderThatCannotBeMadeTouchesNothing) {
  ops_.failAt = {1};
  EXPECT_FALSE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportError, "could not create C:\\data\\f.new-7-9: 5"}}));
  EXPECT_EQ(ops_.mutations, 1u);
  EXPECT_EQ(ops_.listings, 0u);
}

TEST_F(RecreateFolderMessageTest, AnEntryThatAppearsAfterTheListingIsMovedOver) {
  ops_.afterFirstListing = AddLateEntry;
  EXPECT_TRUE(Run());
  EXPECT_EQ(Recorded(), (Reports{{kReportInfo, "C:\\data\\f recreated admin-only with its 4 entries moved over"}}));
  EXPECT_EQ(ops_.Where("entry late.txt"), kPath + L"\\late.txt");
  EXPECT_FALSE(ops_.Exists(kAside));
}

TEST_F(RecreateFolderMessageTest, ALateEntryThatCannotMoveKeepsTheOldFolder) {
  ops_.afterFirstListing = [](ScriptedFileOps& ops) {
    ops.AddFile(kPath + L"\\x", "late x");
    ops.AddFile(kFresh + L"\\x", "planted x");
  };
  EXPECT_TRUE(Run());
  EXPECT_EQ(Recorded(),
            (Reports{{kReportWarning,
                      "left C:\\data\\f.old-7-9 behind: could not remove C:\\data\\f.old-7-9: 145"},
                     {kReportInfo, "C:\\data\\f recreated admin-only with its 3 entries moved over"}}));
  EXPECT_EQ(ops_.Where("late x"), kAside + L"\\x");
  EXPECT_EQ(ops_.Where("planted x"), kPath + L"\\x");
}

TEST_F(RecreateFolderMessageTest, ATrailingSeparatorKeepsTheTemporaryFoldersBesideTheFolder) {
  EXPECT_TRUE(RecreateFolder(ops_, kPath + L"\\", kSuffix));
  EXPECT_EQ(Recorded(), (Reports{{kReportInfo, "C:\\data\\f recreated admin-only with its 3 entries moved over"}}));
  EXPECT_EQ(ops_.Where("fresh"), kPath);
  EXPECT_EQ(ops_.ChildrenOf(kPath), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
}

TEST_F(RecreateFolderMessageTest, AnEmptyFolderIsRecreatedToo) {
  ScriptedFileOps empty;
  empty.AddFolder(L"C:", "volume");
  empty.AddFolder(kParent, "parent");
  empty.AddFolder(kPath, "original");
  EXPECT_TRUE(RecreateFolder(empty, kPath, kSuffix));
  EXPECT_EQ(Recorded(), (Reports{{kReportInfo, "C:\\data\\f recreated admin-only with its 0 entries moved over"}}));
  EXPECT_EQ(empty.Where("fresh"), kPath);
  EXPECT_TRUE(empty.Where("original").empty());
}

}  // namespace
}  // namespace kestrova::securefs
