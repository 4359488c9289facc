#include "appdirswap/win32_file_system.h"

#include <gtest/gtest.h>

#include <string>

#include "appdirswap/engine_test_support_win32.h"
#include "appdirswap/retry.h"

namespace kestrova::appdirswap {
namespace {

using test::HoldingProcess;
using test::ScratchFolder;

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// The second process of the lock and busy-rename tests; skipped in an ordinary run.
TEST(EngineChildProcess, HoldsWhatItIsTold) {
  const std::wstring mode = Variable(test::kChildModeVariable);
  if (mode.empty()) GTEST_SKIP() << "runs only as the holder process of another test";
  const std::wstring path = Variable(test::kChildPathVariable);
  const std::wstring tag = Variable(test::kChildEventsVariable);
  KernelHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Local\\KestrovaEngineReady-" + tag).c_str()));
  KernelHandle release(OpenEventW(SYNCHRONIZE, FALSE, (L"Local\\KestrovaEngineRelease-" + tag).c_str()));
  ASSERT_TRUE(ready && release);
  Win32FileSystem fs;
  FileHandle held;
  if (mode == L"lock") {
    uint32_t error = 0;
    // The parent reads the refusal from the exit code.
    if (fs.TryLock(path, error) != MoveResult::Ok) ExitProcess(1000 + error);
  } else {
    // What a running program does to its own files: read sharing, and no delete sharing, so no rename gets through.
    held.reset(CreateFileW(ToLongPathForm(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(held) << GetLastError();
  }
  SetEvent(ready.get());
  ASSERT_EQ(WaitForSingleObject(release.get(), 60000), WAIT_OBJECT_0);
}

TEST(Win32FileSystemTest, PathInfoAndSmallFiles) {
  ScratchFolder scratch;
  test::MakeFolder(scratch / L"folder");
  test::WriteTextFile(scratch / L"hundred.txt", std::string(36, 'a') + std::string(64, 'b'));
  test::WriteTextFile(scratch / L"Ключ.txt", "1.2.3");
  Win32FileSystem fs;

  struct Row {
    WideString path;
    PathKind kind;
  };
  const Row rows[] = {{scratch.Path(), PathKind::Directory},
                      {scratch / L"folder", PathKind::Directory},
                      {scratch / L"hundred.txt", PathKind::File},
                      {scratch / L"Ключ.txt", PathKind::File},
                      {scratch / L"missing", PathKind::Absent},
                      {scratch / L"missing\\below", PathKind::Absent},
                      {L"C:\\", PathKind::Directory}};
  for (const Row& row : rows) {
    SCOPED_TRACE(WideToUtf8(row.path));
    const PathInfo info = fs.GetPathInfo(row.path);
    EXPECT_EQ(info.kind, row.kind);
    EXPECT_FALSE(info.is_reparse_point);
  }

  std::string bytes = "stale";
  ASSERT_TRUE(fs.ReadSmallFile(scratch / L"hundred.txt", 64, bytes));
  EXPECT_EQ(bytes, std::string(36, 'a') + std::string(28, 'b'));
  ASSERT_TRUE(fs.ReadSmallFile(scratch / L"Ключ.txt", 64, bytes));
  EXPECT_EQ(bytes, "1.2.3");
  EXPECT_FALSE(fs.ReadSmallFile(scratch / L"missing", 64, bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(fs.ReadSmallFile(scratch / L"folder", 64, bytes));
}

TEST(Win32FileSystemTest, RenamesNeverReplaceATargetAtAnyDepth) {
  ScratchFolder scratch;
  // Deeper than MAX_PATH, so every call relies on the long-path form.
  WideString base = scratch.Path();
  for (int level = 0; level < 5; ++level) {
    base += L"\\" + WideString(60, static_cast<wchar_t>(L'a' + level));
    test::MakeFolder(base);
  }
  test::WriteVersionTree(base + L"\\Corvella", {{"a.txt", "a"}}, "1.0.0");
  test::MakeFolder(base + L"\\Corvella.lkg");
  Win32FileSystem fs;
  uint32_t error = 0;
  EXPECT_NE(fs.Rename(base + L"\\Corvella", base + L"\\Corvella.lkg", error), MoveResult::Ok);
  EXPECT_NE(error, 0u);
  EXPECT_TRUE(test::Exists(base + L"\\Corvella\\a.txt"));

  EXPECT_EQ(fs.Rename(base + L"\\Corvella", base + L"\\Corvella.staging", error), MoveResult::Ok);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(fs.GetPathInfo(base + L"\\Corvella.staging").kind, PathKind::Directory);
  std::string marker;
  EXPECT_TRUE(fs.ReadSmallFile(base + L"\\Corvella.staging\\.complete", 64, marker));
  EXPECT_EQ(marker, "1.0.0");
  EXPECT_EQ(fs.GetPathInfo(base + L"\\Corvella").kind, PathKind::Absent);

  EXPECT_EQ(fs.Rename(base + L"\\missing", base + L"\\elsewhere", error), MoveResult::Failed);
  EXPECT_EQ(error, 2u);
}

TEST(Win32FileSystemTest, TheLockExcludesASecondHolderInThisProcess) {
  ScratchFolder scratch;
  const WideString lock = scratch / L"Corvella.swap.lock";
  Win32FileSystem first;
  Win32FileSystem second;
  uint32_t error = 0;
  ASSERT_EQ(first.TryLock(lock, error), MoveResult::Ok);
  EXPECT_TRUE(GetFileAttributesW(lock.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(second.TryLock(lock, error), MoveResult::Busy);
  EXPECT_EQ(error, 32u);
  // Not even the holder opens it a second time; it keeps the handle it has.
  ASSERT_EQ(first.TryLock(lock, error), MoveResult::Busy);
  first.Unlock();
  EXPECT_FALSE(test::Exists(lock));
  EXPECT_EQ(second.TryLock(lock, error), MoveResult::Ok);
  first.Unlock();  // holds nothing: a no-op
  EXPECT_TRUE(test::Exists(lock));
  second.Unlock();

  {
    SwapLock scoped(scratch / L"Corvella\\", Remover());
    EXPECT_TRUE(scoped.held);
    EXPECT_EQ(scoped.lock_error, 0u);
    EXPECT_EQ(second.TryLock(lock, error), MoveResult::Busy);
  }
  EXPECT_FALSE(test::Exists(lock));
  SwapLock refused(L"C:\\", Remover());
  EXPECT_FALSE(refused.held);
  EXPECT_EQ(refused.lock_error, 0u);
}

TEST(Win32FileSystemTest, ASecondProcessNeverGetsTheLock) {
  ScratchFolder scratch;
  const WideString lock = scratch / L"Corvella.swap.lock";
  Win32FileSystem fs;
  {
    HoldingProcess holder(L"lock", lock);
    ASSERT_TRUE(holder.Holding());
    const AttemptRecord record = LockWithRetry(fs, lock, 600);
    EXPECT_EQ(record.result, MoveResult::Busy);
    EXPECT_EQ(record.last_error, 32u);
    EXPECT_GE(record.attempts, 4u);
    EXPECT_GE(record.elapsed_ms, 600u);
    EXPECT_EQ(holder.Release(), 0u);
  }
  // The holder's exit closed its handle, and the system deleted the file with it.
  EXPECT_FALSE(test::Exists(lock));
  const AttemptRecord record = LockWithRetry(fs, lock, 600);
  EXPECT_EQ(record.result, MoveResult::Ok);
  EXPECT_EQ(record.attempts, 1u);

  // And the other way round: while this process holds it, the child cannot take it.
  HoldingProcess child(L"lock", lock, /*expect_hold=*/false);
  EXPECT_FALSE(child.Holding());
  EXPECT_EQ(child.Release(), 1000u + 32u);
  fs.Unlock();
}

TEST(Win32FileSystemTest, ARenameKeptBusyByAnotherProcessEndsAtTheBudget) {
  ScratchFolder scratch;
  test::WriteVersionTree(scratch / L"Corvella", {{"corvella.exe", "running"}}, "1.0.0");
  Win32FileSystem fs;
  HoldingProcess holder(L"open", scratch / L"Corvella");
  ASSERT_TRUE(holder.Holding());
  const AttemptRecord busy = RenameWithRetry(fs, scratch / L"Corvella", scratch / L"Corvella.lkg", 2000);
  EXPECT_EQ(busy.result, MoveResult::Busy);
  EXPECT_TRUE(busy.last_error == 32 || busy.last_error == 5) << busy.last_error;
  EXPECT_GE(busy.attempts, 6u);
  EXPECT_GE(busy.elapsed_ms, 2000u);
  EXPECT_TRUE(test::Exists(scratch / L"Corvella\\corvella.exe"));
  EXPECT_EQ(holder.Release(), 0u);

  const AttemptRecord done = RenameWithRetry(fs, scratch / L"Corvella", scratch / L"Corvella.lkg", 2000);
  EXPECT_EQ(done.result, MoveResult::Ok);
  EXPECT_EQ(done.attempts, 1u);
}

TEST(Win32FileSystemTest, ActiveVersionGoesToTheMachineKey) {
  Win32FileSystem fs;
  ASSERT_TRUE(fs.WriteActiveVersion(L"1.2.3.4"));
  EXPECT_EQ(test::ReadActiveVersion(), L"1.2.3.4");
  ASSERT_TRUE(fs.WriteActiveVersion(L"2.0.0"));
  EXPECT_EQ(test::ReadActiveVersion(), L"2.0.0");
}

TEST(Win32FileSystemTest, InstallerProbeSystemFoldersAndOwners) {
  Win32FileSystem fs;
  EXPECT_FALSE(fs.IsInstallerRunning());
  {
    KernelHandle installer(CreateMutexW(nullptr, FALSE, kInstallerMutexName));
    ASSERT_TRUE(installer);
    EXPECT_TRUE(fs.IsInstallerRunning());
  }
  EXPECT_FALSE(fs.IsInstallerRunning());

  for (const wchar_t* system : {L"C:\\Program Files", L"c:\\program files\\", L"C:\\", L"C:\\users", L"C:\\windows"}) {
    EXPECT_TRUE(fs.IsSystemFolder(system)) << WideToUtf8(system);
  }
  for (const wchar_t* other : {L"C:\\Program Files\\Kestrova\\Corvella", L"C:\\Corvella"}) {
    EXPECT_FALSE(fs.IsSystemFolder(other)) << WideToUtf8(other);
  }
  ScratchFolder scratch;
  EXPECT_NE(fs.AdminOnlyVerdict(scratch / L"missing").find("cannot open (2)"), std::string::npos);
  // Under Wine every entry belongs to the Wine user, which is neither SYSTEM nor Administrators.
  EXPECT_NE(fs.AdminOnlyVerdict(scratch.Path()).find("owner S-1-5-21-0-0-0-1000 is not"), std::string::npos);
  EXPECT_NE(fs.UnsafeAncestorReason(scratch.Path()), "");
}

}  // namespace
}  // namespace kestrova::appdirswap
