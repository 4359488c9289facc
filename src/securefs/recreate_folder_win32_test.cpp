#include "securefs/recreate_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "securefs/scratch_folder_win32.h"
#include "securefs/secure_folders.h"
#include "securefs/trust_evaluation.h"

namespace kestrova::securefs {
namespace {

using test::CapturedReports;
using test::ScratchFolder;
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
    test::MakeFolder(folder_);
    test::WriteTextFile(folder_ + L"\\a.txt", "alpha");
    test::MakeFolder(folder_ + L"\\b");
    test::WriteTextFile(folder_ + L"\\b\\inner.txt", "inner");
    test::WriteTextFile(folder_ + L"\\c.log", "gamma");
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
                           "could not list the entries of " + WideToUtf8(missing) + " (3); keeping it in place"));
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
  EXPECT_TRUE(test::IsFolder(missing));
  const std::string verdict = CheckFolder(missing);
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, shown + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportInfo, shown + " recreated admin-only with its 0 entries moved over"},
                     {kReportError, shown + " is still not admin-only: " + verdict}}));
}

TEST_F(RecreateOnDiskTest, TakeBackLeavesAFileAlone) {
  const WideString file = scratch_ / L"file";
  test::WriteTextFile(file, "keep");
  const std::string shown = WideToUtf8(file);
  const std::string verdict = CheckFolder(file);
  ASSERT_NE(verdict.find("is not a directory"), std::string::npos) << verdict;
  EXPECT_FALSE(TakeBackFolder(file));
  EXPECT_EQ(CapturedReports::Entries(),
            (Reports{{kReportWarning, shown + " is not admin-only (" + verdict + "); taking it back"},
                     {kReportError, shown + " is still not admin-only: " + verdict}}));
  EXPECT_EQ(ReadText(file), "keep");
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
