#include "securefs/recreate_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>

#include "securefs/recreate_folder_win32.h"
#include "support/scratch_folder_win32.h"
#include "securefs/secure_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

using kestrova::test::CapturedReports;
using kestrova::test::ScratchFolder;
using Reports = std::vector<std::pair<ReportLevel, std::string>>;

std::vector<WideString> NamesIn(const WideString& folder) {
  std::vector<WideString> names;
  WIN32_FIND_DATAW found;
  FindHandle find(FindFirstFileW((L"\\\\?\\" + folder + L"\\*").c_str(), &found));
  if (!find) return names;
  do {
    const WideString name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(find.get(), &found));
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadText(const WideString& path) {
  FileHandle file(CreateFileW((L"\\\\?\\" + path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr));
  if (!file) return "<unreadable>";
  char buffer[256];
  DWORD read = 0;
  if (!ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return "<unreadable>";
  return std::string(buffer, read);
}

// A folder object's identity, to tell the recreated folder from the one it replaced.
bool FileIdOf(const WideString& path, FILE_ID_INFO& id) {
  FileHandle handle(CreateFileW((L"\\\\?\\" + path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle && GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id, sizeof id);
}

constexpr char kWineOwnerVerdict[] = "owner S-1-5-21-0-0-0-1000 is not SYSTEM, Administrators or TrustedInstaller";

// Holds the recreate lock on another thread (a mutex belongs to its thread) until told to let go, or until it ends
// without letting go when `abandon` is set.
class LockHolderThread {
 public:
  explicit LockHolderThread(bool abandon) {
    thread_ = std::thread([this, abandon] {
      KernelHandle mutex(CreateMutexW(nullptr, FALSE, kRecreateLockName));
      taken_ = mutex && WaitForSingleObject(mutex.get(), 0) == WAIT_OBJECT_0;
      SetEvent(ready_.get());
      if (abandon) return;
      WaitForSingleObject(letGo_.get(), INFINITE);
      if (taken_) ReleaseMutex(mutex.get());
    });
    WaitForSingleObject(ready_.get(), INFINITE);
    if (abandon) thread_.join();
  }
  ~LockHolderThread() {
    SetEvent(letGo_.get());
    if (thread_.joinable()) thread_.join();
  }
  bool Taken() const { return taken_; }

 private:
  KernelHandle ready_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  KernelHandle letGo_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool taken_ = false;
  std::thread thread_;
};

class RecreateOnDiskTest : public ::testing::Test {
 protected:
  RecreateOnDiskTest() : folder_(scratch_ / L"f") {
    kestrova::test::MakeFolder(folder_);
    kestrova::test::WriteTextFile(folder_ + L"\\a.txt", "alpha");
    kestrova::test::MakeFolder(folder_ + L"\\b");
    kestrova::test::WriteTextFile(folder_ + L"\\b\\inner.txt", "inner");
    kestrova::test::WriteTextFile(folder_ + L"\\c.log", "gamma");
  }
  void ExpectContentInPlace() {
    EXPECT_EQ(NamesIn(folder_), (std::vector<WideString>{L"a.txt", L"b", L"c.log"}));
    EXPECT_EQ(ReadText(folder_ + L"\\a.txt"), "alpha");
    EXPECT_EQ(ReadText(folder_ + L"\\b\\inner.txt"), "inner");
    EXPECT_EQ(ReadText(folder_ + L"\\c.log"), "gamma");
    EXPECT_EQ(NamesIn(scratch_.Path()), (std::vector<WideString>{L"f"})) << "a temporary folder was left behind";
  }
  std::string Shown() const { return WideToUtf8(folder_); }

  ScratchFolder scratch_;
  const WideString folder_;
  CapturedReports reports_;
};

TEST_F(RecreateOnDiskTest, MovesEveryEntryIntoANewFolderObject) {
  FILE_ID_INFO before{};
  ASSERT_TRUE(FileIdOf(folder_, before));
  ASSERT_TRUE(RecreateAdminOnly(folder_));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportInfo, Shown() + " recreated admin-only with its 3 entries moved over"}}));
  ExpectContentInPlace();
  FILE_ID_INFO after{};
  ASSERT_TRUE(FileIdOf(folder_, after));
  EXPECT_NE(std::memcmp(&before.FileId, &after.FileId, sizeof before.FileId), 0) << "the folder object is the old one";
}

TEST_F(RecreateOnDiskTest, AnEntryHeldOpenKeepsEveryEntryInPlace) {
  FILE_ID_INFO before{};
  ASSERT_TRUE(FileIdOf(folder_, before));
  // Without delete sharing the file cannot be renamed while this handle lives.
  FileHandle held(CreateFileW((L"\\\\?\\" + folder_ + L"\\c.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  EXPECT_FALSE(RecreateAdminOnly(folder_));
  held.reset();
  ASSERT_EQ(CapturedReports::Entries().size(), 1u);
  EXPECT_EQ(CapturedReports::Entries()[0],
            std::make_pair(kReportWarning, "could not move c.log out of " + Shown() + " (32); keeping it in place"));
  ExpectContentInPlace();
  FILE_ID_INFO after{};
  ASSERT_TRUE(FileIdOf(folder_, after));
  EXPECT_EQ(std::memcmp(&before.FileId, &after.FileId, sizeof before.FileId), 0);
}

TEST_F(RecreateOnDiskTest, AMissingFolderCannotBeListedAndNothingIsLeft) {
  const WideString missing = scratch_ / L"missing";
  EXPECT_FALSE(RecreateAdminOnly(missing));
  ASSERT_EQ(CapturedReports::Entries().size(), 1u);
  EXPECT_EQ(CapturedReports::Entries()[0],
            std::make_pair(kReportWarning,
                           "could not list the entries of " + WideToUtf8(missing) + " (2); keeping it in place"));
  EXPECT_EQ(NamesIn(scratch_.Path()), (std::vector<WideString>{L"f"}));
}

TEST_F(RecreateOnDiskTest, TakeBackRecreatesAFolderThatIsNotAdminOnly) {
  const std::string verdict = CheckFolder(folder_);
  ASSERT_NE(verdict.find(kWineOwnerVerdict), std::string::npos) << verdict;
  // Wine synthesizes the same owner for the new folder, so the final judgement still fails.
  EXPECT_FALSE(TakeBackFolder(folder_));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, Shown() + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportInfo, Shown() + " recreated admin-only with its 3 entries moved over"},
                     {kReportError, Shown() + " is still not admin-only: " + verdict}}));
  ExpectContentInPlace();
}

TEST_F(RecreateOnDiskTest, TakeBackWithoutTheLockLeavesAStrangersFolderUntouched) {
  FILE_ID_INFO before{};
  ASSERT_TRUE(FileIdOf(folder_, before));
  LockHolderThread holder(false);
  ASSERT_TRUE(holder.Taken());
  const std::string verdict = CheckFolder(folder_);
  EXPECT_FALSE(TakeBackFolder(folder_));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, Shown() + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportWarning, "could not take the recreate lock for " + Shown()},
                     {kReportError, Shown() + " is owned by a non-admin and could not be recreated; not adopting it"}}));
  ExpectContentInPlace();
  FILE_ID_INFO after{};
  ASSERT_TRUE(FileIdOf(folder_, after));
  EXPECT_EQ(std::memcmp(&before.FileId, &after.FileId, sizeof before.FileId), 0);
}

TEST_F(RecreateOnDiskTest, TakeBackCreatesAMissingFolder) {
  const WideString missing = scratch_ / L"missing";
  const std::string shown = WideToUtf8(missing);
  EXPECT_FALSE(TakeBackFolder(missing));
  EXPECT_TRUE(kestrova::test::IsFolder(missing));
  const std::string verdict = CheckFolder(missing);
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, shown + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportInfo, shown + " recreated admin-only with its 0 entries moved over"},
                     {kReportError, shown + " is still not admin-only: " + verdict}}));
}

TEST_F(RecreateOnDiskTest, TakeBackLeavesAFileAlone) {
  const WideString file = scratch_ / L"file";
  kestrova::test::WriteTextFile(file, "keep");
  const std::string shown = WideToUtf8(file);
  const std::string verdict = CheckFolder(file);
  ASSERT_NE(verdict.find("is not a directory"), std::string::npos) << verdict;
  EXPECT_FALSE(TakeBackFolder(file));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, shown + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportError, shown + " is still not admin-only: " + verdict}}));
  EXPECT_EQ(ReadText(file), "keep");
}

TEST_F(RecreateOnDiskTest, AFileInThePlaceOfTheFolderIsRefusedAndNothingIsMade) {
  const WideString file = scratch_ / L"file";
  kestrova::test::WriteTextFile(file, "keep");
  EXPECT_FALSE(RecreateAdminOnly(file));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning,
                      "could not list the entries of " + WideToUtf8(file) + " (267); keeping it in place"}}));
  EXPECT_EQ(ReadText(file), "keep");
  EXPECT_EQ(NamesIn(scratch_.Path()), (std::vector<WideString>{L"f", L"file"}));
}

TEST_F(RecreateOnDiskTest, AnEntryNameThatReachesPastItsFolderIsRefused) {
  Win32RecreateFileOps ops;
  ASSERT_EQ(ops.OpenOld(folder_), 0u);
  ASSERT_TRUE(ops.CreateNew(folder_ + L".new-1-2"));
  for (const WideString name : {L"b\\inner.txt", L"b/inner.txt", L"..", L".", L""}) {
    EXPECT_EQ(ops.MoveEntry(FolderRole::Old, FolderRole::New, name), static_cast<uint32_t>(ERROR_INVALID_NAME))
        << WideToUtf8(name);
  }
  EXPECT_EQ(ops.MoveEntry(FolderRole::Old, FolderRole::New, L"a.txt"), 0u);
  std::vector<WideString> names;
  uint32_t error = 0;
  ASSERT_TRUE(ops.ListEntries(FolderRole::New, names, error));
  EXPECT_EQ(names, (std::vector<WideString>{L"a.txt"}));
  EXPECT_EQ(ops.MoveEntry(FolderRole::New, FolderRole::Old, L"a.txt"), 0u);
  EXPECT_EQ(ops.RemoveEmptyFolder(FolderRole::New), 0u);
  EXPECT_EQ(ops.ListEntries(FolderRole::New, names, error), false) << "the removed folder is let go";
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

TEST(RecreateShapesTest, AFolderDirectlyUnderTheDriveRootWithNonAsciiEntries) {
  CapturedReports reports;
  ScratchFolder root(L"C:\\");
  const WideString& folder = root.Path();
  kestrova::test::WriteTextFile(folder + L"\\Gr\u00fc\u00dfe.txt", "gruesse");
  kestrova::test::MakeFolder(folder + L"\\\u65e5\u672c\u8a9e");
  kestrova::test::WriteTextFile(folder + L"\\\u65e5\u672c\u8a9e\\\u03a9mega.log", "omega");
  FILE_ID_INFO before{};
  ASSERT_TRUE(FileIdOf(folder, before));
  ASSERT_TRUE(RecreateAdminOnly(folder));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportInfo, WideToUtf8(folder) + " recreated admin-only with its 2 entries moved over"}}));
  EXPECT_EQ(NamesIn(folder), (std::vector<WideString>{L"Gr\u00fc\u00dfe.txt", L"\u65e5\u672c\u8a9e"}));
  EXPECT_EQ(ReadText(folder + L"\\\u65e5\u672c\u8a9e\\\u03a9mega.log"), "omega");
  FILE_ID_INFO after{};
  ASSERT_TRUE(FileIdOf(folder, after));
  EXPECT_FALSE(std::memcmp(&before.FileId, &after.FileId, sizeof before.FileId) == 0);
}

TEST(RecreateShapesTest, AFolderDeeperThanMaxPath) {
  CapturedReports reports;
  ScratchFolder scratch;
  WideString folder = scratch.Path();
  while (folder.size() < 300) {
    folder += L"\\" + WideString(40, L'd');
    kestrova::test::MakeFolder(folder);
  }
  kestrova::test::WriteTextFile(folder + L"\\" + WideString(100, L'e') + L".txt", "deep");
  ASSERT_TRUE(RecreateAdminOnly(folder));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportInfo, WideToUtf8(folder) + " recreated admin-only with its 1 entries moved over"}}));
  EXPECT_EQ(ReadText(folder + L"\\" + WideString(100, L'e') + L".txt"), "deep");
  EXPECT_EQ(NamesIn(folder.substr(0, folder.find_last_of(L'\\'))), (std::vector<WideString>{WideString(40, L'd')}))
      << "a temporary folder was left beside it";
}

bool SameObject(const FILE_ID_INFO& a, const FILE_ID_INFO& b) {
  return std::memcmp(&a.FileId, &b.FileId, sizeof a.FileId) == 0;
}

// Wraps the real operations and acts as another user just before the call numbered `step`: renames whatever stands
// at the folder's path away by name, as any process may try, and where the path is then free puts a plain folder with
// a marker file in its place. What it managed is kept for the test to compare against.
class SubstitutingOps : public IRecreateFileOps {
 public:
  SubstitutingOps(IRecreateFileOps& real, const WideString& path, const WideString& away, size_t step)
      : real_(real), path_(path), away_(away), step_(step) {}

  bool attempted = false;
  DWORD renameError = ERROR_SUCCESS;
  bool planted = false;
  FILE_ID_INFO substitute{};

  uint32_t OpenOld(const WideString& path) override {
    Before();
    return real_.OpenOld(path);
  }
  bool CreateNew(const WideString& path) override {
    Before();
    return real_.CreateNew(path);
  }
  bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) override {
    Before();
    return real_.ListEntries(folder, names, error);
  }
  uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) override {
    Before();
    return real_.MoveEntry(from, to, name);
  }
  uint32_t RenameFolder(FolderRole folder, const WideString& path) override {
    Before();
    return real_.RenameFolder(folder, path);
  }
  uint32_t RemoveEmptyFolder(FolderRole folder) override {
    Before();
    return real_.RemoveEmptyFolder(folder);
  }

 private:
  void Before() {
    if (++calls_ != step_) return;
    attempted = true;
    renameError = MoveFileExW((L"\\\\?\\" + path_).c_str(), (L"\\\\?\\" + away_).c_str(), 0) ? ERROR_SUCCESS
                                                                                              : GetLastError();
    if (!CreateDirectoryW((L"\\\\?\\" + path_).c_str(), nullptr)) return;
    kestrova::test::WriteTextFile(path_ + L"\\marker.txt", "marker");
    planted = FileIdOf(path_, substitute);
  }

  IRecreateFileOps& real_;
  const WideString path_;
  const WideString away_;
  const size_t step_;
  size_t calls_ = 0;
};

// Wraps the real operations and, with every move of an entry, opens the folder the entry is to land in as Windows
// before 11 22H2 does for every rename into another folder: to add an entry, sharing only read and write. Wine skips
// that open, so without it a folder held with DELETE access would pass here and refuse every entry there. After the
// first listing it also adds a file to the old folder, as another process may.
class RenameTargetCheckingOps : public IRecreateFileOps {
 public:
  RenameTargetCheckingOps(IRecreateFileOps& real, const WideString& path, const WideString& fresh)
      : real_(real), oldAt_(path), newAt_(fresh) {}

  size_t checked = 0;
  std::vector<std::string> refused;

  uint32_t OpenOld(const WideString& path) override { return real_.OpenOld(path); }
  bool CreateNew(const WideString& path) override { return real_.CreateNew(path); }
  bool ListEntries(FolderRole folder, std::vector<WideString>& names, uint32_t& error) override {
    const bool listed = real_.ListEntries(folder, names, error);
    if (++listings_ == 1) kestrova::test::WriteTextFile(oldAt_ + L"\\late.txt", "late");
    return listed;
  }
  // Checked right after the move: the real operations hold the target folder at the end of the move as they held
  // it during the rename.
  uint32_t MoveEntry(FolderRole from, FolderRole to, const WideString& name) override {
    const uint32_t error = real_.MoveEntry(from, to, name);
    const WideString& target = to == FolderRole::Old ? oldAt_ : newAt_;
    FileHandle opened(CreateFileW((L"\\\\?\\" + target).c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ++checked;
    if (!opened) {
      refused.push_back(WideToUtf8(name) + " into " + WideToUtf8(target) + ": " + std::to_string(GetLastError()));
    }
    return error;
  }
  uint32_t RenameFolder(FolderRole folder, const WideString& path) override {
    const uint32_t error = real_.RenameFolder(folder, path);
    if (error == 0) (folder == FolderRole::Old ? oldAt_ : newAt_) = path;
    return error;
  }
  uint32_t RemoveEmptyFolder(FolderRole folder) override { return real_.RemoveEmptyFolder(folder); }

 private:
  IRecreateFileOps& real_;
  WideString oldAt_;
  WideString newAt_;
  size_t listings_ = 0;
};

TEST_F(RecreateOnDiskTest, EveryMoveFindsItsTargetFolderOpenToTheRenameTargetCheck) {
  auto real = std::make_unique<Win32RecreateFileOps>();
  RenameTargetCheckingOps checking(*real, folder_, folder_ + L".new-1-2");
  const bool succeeded = RecreateFolder(checking, folder_, L"1-2");
  real.reset();
  EXPECT_TRUE(succeeded);
  EXPECT_EQ(checking.checked, 4u) << "three entries and the late one";
  EXPECT_EQ(checking.refused, std::vector<std::string>());
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportInfo, Shown() + " recreated admin-only with its 4 entries moved over"}}));
  EXPECT_EQ(NamesIn(folder_), (std::vector<WideString>{L"a.txt", L"b", L"c.log", L"late.txt"}));
  EXPECT_EQ(ReadText(folder_ + L"\\late.txt"), "late");
}

TEST_F(RecreateOnDiskTest, EveryMoveBackFindsTheOldFolderOpenToTheRenameTargetCheck) {
  FileHandle held(CreateFileW((L"\\\\?\\" + folder_ + L"\\c.log").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held);
  auto real = std::make_unique<Win32RecreateFileOps>();
  RenameTargetCheckingOps checking(*real, folder_, folder_ + L".new-1-2");
  const bool succeeded = RecreateFolder(checking, folder_, L"1-2");
  real.reset();
  held.reset();
  EXPECT_FALSE(succeeded);
  EXPECT_EQ(checking.checked, 5u) << "a.txt and b out, c.log tried, a.txt and b back";
  EXPECT_EQ(checking.refused, std::vector<std::string>());
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, "could not move c.log out of " + Shown() + " (32); keeping it in place"}}));
  EXPECT_EQ(NamesIn(folder_), (std::vector<WideString>{L"a.txt", L"b", L"c.log", L"late.txt"}));
  EXPECT_EQ(NamesIn(scratch_.Path()), (std::vector<WideString>{L"f"}));
}

bool NamedInReports(const WideString& folder) {
  const std::string shown = WideToUtf8(folder);
  for (const auto& [level, text] : CapturedReports::Entries()) {
    if (text.find(shown) != std::string::npos) return true;
  }
  return false;
}

// Before every call of a real recreation in turn, another user tries to put a plain folder in the place of the one
// being recreated. Whatever happens, nothing moves into or out of a folder the recreation did not take hold of, and
// every original entry, with its content, is in the recreated folder or in a folder a report names.
TEST(RecreateSubstitutionTest, AFolderPutInPlaceAtAnyStepIsNeverFilledOrEmptied) {
  const std::vector<std::pair<WideString, std::string>> entries = {
      {L"a.txt", "alpha"}, {L"b\\inner.txt", "inner"}, {L"c.log", "gamma"}};
  std::map<std::string, std::vector<size_t>> kinds;
  size_t step = 1;
  for (;; ++step) {
    ScratchFolder scratch;
    const WideString path = scratch / L"f";
    const WideString away = scratch / L"moved-away";
    const WideString suffix = L"1-" + std::to_wstring(step);
    const WideString fresh = path + L".new-" + suffix;
    const WideString aside = path + L".old-" + suffix;
    kestrova::test::MakeFolder(path);
    kestrova::test::WriteTextFile(path + L"\\a.txt", "alpha");
    kestrova::test::MakeFolder(path + L"\\b");
    kestrova::test::WriteTextFile(path + L"\\b\\inner.txt", "inner");
    kestrova::test::WriteTextFile(path + L"\\c.log", "gamma");
    FILE_ID_INFO original{};
    ASSERT_TRUE(FileIdOf(path, original));

    CapturedReports reports;
    // The real operations hold their folders until they end, and a held folder refuses every opener that does not
    // share delete (FindFirstFileW among them), so they end before anything is looked at.
    auto real = std::make_unique<Win32RecreateFileOps>();
    SubstitutingOps substituting(*real, path, away, step);
    const bool succeeded = RecreateFolder(substituting, path, suffix);
    real.reset();
    std::string run = "another user before call " + std::to_string(step) + "; reports:";
    for (const auto& [level, text] : CapturedReports::Entries()) run += "\n  " + text;
    if (!substituting.attempted) {
      EXPECT_TRUE(succeeded) << run;
      break;
    }

    if (substituting.renameError == ERROR_SUCCESS) {
      // Only a folder not yet taken hold of can be renamed away. The substitute is then the folder found at the
      // path and is recreated; the original keeps everything, untouched.
      kinds["renamed away before the hold; the substitute was recreated"].push_back(step);
      EXPECT_EQ(step, 1u) << run << ": a held folder was renamed away";
      FILE_ID_INFO moved{};
      ASSERT_TRUE(FileIdOf(away, moved)) << run;
      EXPECT_TRUE(SameObject(moved, original)) << run;
      EXPECT_EQ(NamesIn(away), (std::vector<WideString>{L"a.txt", L"b", L"c.log"})) << run;
      for (const auto& [name, content] : entries) EXPECT_EQ(ReadText(away + L"\\" + name), content) << run;
      EXPECT_TRUE(succeeded) << run;
      EXPECT_EQ(NamesIn(path), (std::vector<WideString>{L"marker.txt"})) << run;
      FILE_ID_INFO now{};
      ASSERT_TRUE(FileIdOf(path, now)) << run;
      EXPECT_FALSE(SameObject(now, substituting.substitute)) << run << ": the substitute was not recreated";
      continue;
    }

    if (substituting.planted) {
      // The path was free (the old folder stood aside, the new one not yet in place): the substitute stays exactly as
      // planted, the recreation does not put its folders over it, and the reports say where the entries are.
      kinds["path free, substitute planted; the recreation gave way"].push_back(step);
      EXPECT_EQ(substituting.renameError, static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << run;
      FILE_ID_INFO now{};
      ASSERT_TRUE(FileIdOf(path, now)) << run;
      EXPECT_TRUE(SameObject(now, substituting.substitute)) << run;
      EXPECT_EQ(NamesIn(path), (std::vector<WideString>{L"marker.txt"})) << run;
      EXPECT_FALSE(succeeded) << run;
      EXPECT_EQ(CapturedReports::Entries(),
                (Reports{{kReportError, "could not move " + WideToUtf8(fresh) + " into place (183); restoring the old "
                                        "folder"},
                         {kReportError, "could not restore " + WideToUtf8(path) + " from " + WideToUtf8(aside) +
                                            " (183); its entries are in " + WideToUtf8(fresh)}}))
          << run;
    } else {
      // The held folder refused the rename; nothing was put in its place and the recreation went through.
      kinds["rename refused with a sharing violation"].push_back(step);
      EXPECT_EQ(substituting.renameError, static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << run;
      EXPECT_TRUE(succeeded) << run;
      FILE_ID_INFO now{};
      ASSERT_TRUE(FileIdOf(path, now)) << run;
      EXPECT_FALSE(SameObject(now, original)) << run;
      EXPECT_EQ(NamesIn(scratch.Path()), (std::vector<WideString>{L"f"})) << run;
    }
    EXPECT_FALSE(kestrova::test::Exists(away)) << run;
    for (const auto& [name, content] : entries) {
      std::vector<WideString> holders;
      for (const WideString& folder : {path, fresh, aside}) {
        if (kestrova::test::Exists(folder + L"\\" + name)) holders.push_back(folder);
      }
      ASSERT_EQ(holders.size(), 1u) << run << ": " << WideToUtf8(name) << " is in " << holders.size() << " folders";
      EXPECT_TRUE(holders[0] == path || NamedInReports(holders[0]))
          << run << ": " << WideToUtf8(name) << " is in " << WideToUtf8(holders[0]) << ", which no report names";
      EXPECT_EQ(ReadText(holders[0] + L"\\" + name), content) << run;
    }
  }
  // open, create, list, three moves, aside, into place, the late listing, the removal: ten calls.
  EXPECT_EQ(step, 11u);
  for (const auto& [kind, steps] : kinds) {
    std::string list;
    for (size_t k : steps) {
      list += ' ';
      list += std::to_string(k);
    }
    std::printf("  before call%s: %s\n", list.c_str(), kind.c_str());
  }
}

TEST(RecreateLockTest, ALockHeldElsewhereIsNotTaken) {
  {
    LockHolderThread holder(false);
    ASSERT_TRUE(holder.Taken());
    const ULONGLONG start = GetTickCount64();
    RecreateLock lock(200);
    EXPECT_FALSE(lock.Held());
    EXPECT_GE(GetTickCount64() - start, 150u) << "the wait was not bounded by the time given";
  }
  RecreateLock lock(200);
  EXPECT_TRUE(lock.Held()) << "released by its holder";
}

TEST(RecreateLockTest, ALockWhoseHolderDiedIsTaken) {
  {
    LockHolderThread holder(true);
    ASSERT_TRUE(holder.Taken());
  }
  RecreateLock lock(200);
  EXPECT_TRUE(lock.Held());
}

TEST(RecreateLockTest, ReleasesWhenTheScopeEnds) {
  { RecreateLock lock; ASSERT_TRUE(lock.Held()); }
  LockHolderThread other(false);
  EXPECT_TRUE(other.Taken()) << "another thread could not take the lock after the scope ended";
  EXPECT_EQ(kRecreateLockWaitMs, 3000u);
  EXPECT_STREQ(kRecreateLockName, L"Global\\KestrovaSecureFsRecreate");
}

}  // namespace
}  // namespace kestrova::securefs
