// stage and commit-staging on real folders, directly under the drive root and deeper: the payload read from an
// archive file, the guard handed in by the test, the swap lock held by a second process where a case needs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "appdirswap/engine_test_support_win32.h"
#include "appdirswap/staging_commands.h"
#include "appdirswap/staging_paths.h"
#include "payload/commands.h"
#include "support/log_capture_win32.h"

namespace kestrova::appdirswap {
namespace {

// Under Wine no folder is admin-only; the decorator answers as Windows does for a folder an administrator made.
int Commit(const WideString& appdir, const std::string& version) {
  Win32FileSystem real;
  test::AdminOwnedDecorator fs(real);
  return CommitStagingWith(appdir, version, real, fs);
}

using test::DriveRootFamily;
using test::HoldingProcess;
using test::ScratchFolder;

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// An archive of a small application of `version`, packed from a folder in `scratch`.
WideString PackVersion(const ScratchFolder& scratch, const std::string& version) {
  const WideString src = scratch / Utf8ToWide("app-" + version);
  test::MakeFolder(src);
  test::MakeFolder(src + L"\\bin");
  test::WriteTextFile(src + L"\\corvella.exe", "exe " + version);
  test::WriteTextFile(src + L"\\bin\\core.dll", std::string(200000, 'c') + version);
  const WideString archive = scratch / Utf8ToWide("payload-" + version + ".kvp");
  EXPECT_EQ(payload::RunPack(src, archive, {}), 0);
  return archive;
}

StageRequest FromFile(const WideString& archive, const std::string& reinstall = {}) {
  StageRequest request;
  request.archive.hasFromFile = true;
  request.archive.fromFile = archive;
  request.reinstall = reinstall;
  return request;
}

// A guard that lets everything through and remembers what it was asked.
struct RecordingGuard {
  std::vector<std::string> asked;
  bool allow = true;
  InstallFolderGuardFn Fn() {
    return [this](const char* command, const WideString& folder) {
      asked.push_back(std::string(command) + " " + WideToUtf8(folder));
      return allow;
    };
  }
};

void StageCommitAndRestage(const WideString& appdir, const ScratchFolder& scratch) {
  const std::string shown = WideToUtf8(appdir);
  const WideString archive = PackVersion(scratch, "2.0.0");
  RecordingGuard guard;
  guard.allow = false;
  EXPECT_EQ(Stage(FromFile(archive), appdir, guard.Fn()), 1);
  EXPECT_EQ(guard.asked, std::vector<std::string>{"stage " + shown});
  EXPECT_FALSE(test::Exists(appdir + L".staging.partial"));

  guard.allow = true;
  ASSERT_EQ(Stage(FromFile(archive), appdir, guard.Fn()), 0);
  EXPECT_EQ(test::ReadText(appdir + L".staging.partial\\corvella.exe"), "exe 2.0.0");
  EXPECT_TRUE(test::Exists(appdir + L".staging.partial\\manifest.json"));
  EXPECT_FALSE(test::Exists(appdir + L".staging.partial\\.complete"));

  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(appdir + L"\\", "2.0.0"), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"INFO commit: " + shown + ".staging is complete (version 2.0.0)"});
  }
  EXPECT_EQ(test::ReadText(appdir + L".staging\\.complete"), "2.0.0");
  EXPECT_FALSE(test::Exists(appdir + L".staging.partial"));
  EXPECT_FALSE(test::Exists(appdir + L".swap.lock"));

  // A newer payload staged and committed over the old staging replaces it whole.
  const WideString newer = PackVersion(scratch, "2.1.0");
  ASSERT_EQ(Stage(FromFile(newer), appdir, guard.Fn()), 0);
  kestrova::test::LogCapture log;
  EXPECT_EQ(Commit(appdir, "2.1.0.7"), 0);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"INFO commit: " + shown + ".staging is complete (version 2.1.0.7)"});
  EXPECT_EQ(test::ReadText(appdir + L".staging\\.complete"), "2.1.0.7");
  EXPECT_EQ(test::ReadText(appdir + L".staging\\corvella.exe"), "exe 2.1.0");
}

TEST(StageAndCommitTest, DirectlyUnderTheDriveRoot) {
  ScratchFolder scratch;
  DriveRootFamily family(L"C:\\CorvellaStage");
  StageCommitAndRestage(family.appdir(), scratch);
}

TEST(StageAndCommitTest, TwoLevelsDeepWithNonAsciiNames) {
  ScratchFolder scratch;
  test::MakeFolder(scratch / L"\u00c9diteur");
  test::MakeFolder(scratch / L"\u00c9diteur\\Kestrova");
  StageCommitAndRestage(scratch / L"\u00c9diteur\\Kestrova\\Corvella", scratch);
}

TEST(StageAndCommitTest, AReinstallStagesOnlyForADamagedOrMissingAppdir) {
  ScratchFolder scratch;
  DriveRootFamily family(L"C:\\CorvellaReinstall");
  const std::string shown = WideToUtf8(family.appdir());
  const WideString archive = PackVersion(scratch, "2.0.0");
  RecordingGuard guard;
  {
    // APPDIR missing: a fresh copy, without a verification.
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(archive, "ALL"), family.appdir(), guard.Fn()), 0);
    EXPECT_TRUE(test::Exists(family + L".staging.partial\\corvella.exe"));
    for (const std::string& line : log.Lines()) EXPECT_FALSE(StartsWith(line, "INFO stage: repair found")) << line;
  }
  test::RemoveForCleanup(ToLongPathForm(family + L".staging.partial"));
  std::string error;
  const auto installed = payload::OpenArchiveSource(FromFile(archive).archive, &error);
  ASSERT_TRUE(installed) << error;
  ASSERT_EQ(payload::RunExtract(*installed, family.appdir()), 0);
  {
    // Healthy and nothing staged: nothing to do, and no lock is needed for it (another holder does not matter).
    HoldingProcess holder(L"lock", family + L".swap.lock");
    ASSERT_TRUE(holder.Holding());
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(archive, "ALL"), family.appdir(), guard.Fn()), 0);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "INFO stage: repair found " + shown + " healthy; nothing to stage");
    EXPECT_FALSE(test::Exists(family + L".staging.partial"));
    EXPECT_EQ(holder.Release(), 0u);
  }
  {
    // Healthy with an older staging waiting: it goes, under the lock.
    test::WriteVersionTree(family + L".staging", test::VersionFiles("1.9.0"), "1.9.0");
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(archive, "ALL"), family.appdir(), guard.Fn()), 0);
    EXPECT_EQ(log.Lines().back(), "INFO stage: deleted the stale " + shown + ".staging (version '1.9.0')");
    EXPECT_FALSE(test::Exists(family + L".staging"));
    EXPECT_FALSE(test::Exists(family + L".staging.partial"));
  }
  {
    // The same while another process keeps the swap lock past the budget: the staging stays.
    test::WriteVersionTree(family + L".staging", test::VersionFiles("1.9.0"), "1.9.0");
    HoldingProcess holder(L"lock", family + L".swap.lock");
    ASSERT_TRUE(holder.Holding());
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(archive, "ALL"), family.appdir(), guard.Fn()), 1);
    EXPECT_EQ(log.Lines().back(), "ERROR stage: could not delete the stale " + shown +
                                      ".staging (version '1.9.0'): lock error 32, error 0");
    EXPECT_TRUE(test::Exists(family + L".staging\\.complete"));
    EXPECT_EQ(holder.Release(), 0u);
  }
  test::RemoveForCleanup(ToLongPathForm(family + L".staging"));
  {
    // Damaged: a fresh copy is staged.
    test::RemoveForCleanup(ToLongPathForm(family + L"\\corvella.exe"));
    test::WriteTextFile(family + L"\\corvella.exe", "exe 2.0.X");
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(archive, "ALL"), family.appdir(), guard.Fn()), 0);
    const std::vector<std::string> lines = log.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "INFO stage: repair found " + shown + " damaged; staging a fresh copy"),
              lines.end());
    EXPECT_EQ(test::ReadText(family + L".staging.partial\\corvella.exe"), "exe 2.0.0");
  }
  // Without --reinstall a healthy APPDIR does not matter: stage always extracts.
  test::RemoveForCleanup(ToLongPathForm(family + L".staging.partial"));
  EXPECT_EQ(Stage(FromFile(archive), family.appdir(), guard.Fn()), 0);
  EXPECT_TRUE(test::Exists(family + L".staging.partial\\manifest.json"));
  // A payload that cannot be opened.
  kestrova::test::LogCapture log;
  EXPECT_EQ(Stage(FromFile(scratch / L"missing.kvp", "ALL"), family.appdir(), guard.Fn()), 1);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_TRUE(StartsWith(log.Lines()[0], "ERROR stage: ")) << log.Lines()[0];
}

TEST(CommitStagingTest, NothingToCommitAndVersionsThatAreNot) {
  DriveRootFamily family(L"C:\\CorvellaCommit");
  const std::string partial = WideToUtf8(family + L".staging.partial");
  {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(family.appdir(), "1.2.3"), 0);
    test::WriteTextFile(family + L".staging.partial", "a file, not a folder");
    EXPECT_EQ(Commit(family.appdir(), "1.2.3"), 0);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"INFO commit: no " + partial + "; nothing to commit",
                                                     "INFO commit: no " + partial + "; nothing to commit"}));
  }
  test::RemoveForCleanup(ToLongPathForm(family + L".staging.partial"));
  test::WriteVersionTree(family + L".staging.partial", test::VersionFiles("1.2.3"), "");
  for (const char* version : {"1.2", "1.2.3.4.5", "1..3", "1.2.3.", "v1.2.3", "1.2.3 ", ""}) {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(family.appdir(), version), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR commit: '" + std::string(version) +
                                                    "' is not a version; leaving " + partial + " uncommitted"});
    EXPECT_FALSE(test::Exists(family + L".staging.partial\\.complete"));
    EXPECT_FALSE(test::Exists(family + L".staging"));
  }
  // A group of ten digits is committed; its marker reads back as no version later.
  EXPECT_EQ(Commit(family.appdir(), "1.2.1234567890"), 0);
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "1.2.1234567890");
}

TEST(StageAndCommitTest, ADriveRootHasNoSiblingsToStage) {
  ScratchFolder scratch;
  for (const wchar_t* root : {L"C:\\", L"Z:\\"}) {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Stage(FromFile(scratch / L"p.kvp", "ALL"), root, [](const char*, const WideString&) { return true; }), 1);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR stage: " + WideToUtf8(root) + " is not a usable APPDIR"});
  }
  EXPECT_FALSE(test::Exists(L"C:\\.staging.partial"));
}

TEST(CommitStagingTest, ThePathsStageRefusesHaveNoSiblingsToCommit) {
  // The same paths stage refuses, each shown in its display form.
  const std::pair<const wchar_t*, const char*> refused[] = {
      {L"C:\\", "C:\\"},
      {L"C:", "C:"},
      {L"c:/", "c:/"},
      {L"\\\\?\\C:\\", "C:\\"},
      {L"relative\\Corvella", "relative\\Corvella"},
      {L"\\\\server\\share\\Corvella", "\\\\server\\share\\Corvella"},
      {L"C:\\Corvella.", "C:\\Corvella."},
  };
  for (const auto& [root, shown] : refused) {
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(root, "1.2.3"), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR commit: " + std::string(shown) + " is not a usable APPDIR"});
  }
}

TEST(CommitStagingTest, AnOldStagingHeldOpenAndALockHeldElsewhere) {
  DriveRootFamily family(L"C:\\CorvellaCommitHeld");
  const std::string shown = WideToUtf8(family.appdir());
  test::WriteVersionTree(family + L".staging", test::VersionFiles("1.0.0"), "1.0.0");
  test::WriteVersionTree(family + L".staging.partial", test::VersionFiles("1.2.3"), "");
  {
    FileHandle held(CreateFileW(ToLongPathForm(family + L".staging\\corvella.exe").c_str(), GENERIC_READ,
                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(family.appdir(), "1.2.3"), 0);
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWith(lines[0], "ERROR commit: could not replace the old " + shown + ".staging: could not remove "))
        << lines[0];
    EXPECT_EQ(test::ReadText(family + L".staging.partial\\.complete"), "1.2.3");
  }
  {
    HoldingProcess holder(L"lock", family + L".swap.lock");
    ASSERT_TRUE(holder.Holding());
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(family.appdir(), "1.2.4"), 0);
    // Wine's Restart Manager lists nobody, even for the lock this holder keeps open; the line says so.
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "ERROR commit: could not take the swap lock (error 32); leaving " + shown +
                                   ".staging.partial uncommitted",
                               "INFO commit: no process is listed as holding files in " + shown + ".swap.lock"}));
    EXPECT_EQ(test::ReadText(family + L".staging.partial\\.complete"), "1.2.4");
    EXPECT_EQ(holder.Release(), 0u);
  }
  // A later commit repeats every step and gets through.
  kestrova::test::LogCapture log;
  EXPECT_EQ(Commit(family.appdir(), "1.2.3"), 0);
  EXPECT_EQ(log.Lines(), std::vector<std::string>{"INFO commit: " + shown + ".staging is complete (version 1.2.3)"});
  EXPECT_EQ(test::ReadText(family + L".staging\\.complete"), "1.2.3");
  EXPECT_EQ(test::ReadText(family + L".staging\\corvella.exe"), "exe 1.2.3");
}

TEST(CommitStagingTest, AStrangersOrABusyPartialFolderStaysUncommitted) {
  DriveRootFamily family(L"C:\\CorvellaCommitForeign");
  const std::string partial = WideToUtf8(family + L".staging.partial");
  test::WriteVersionTree(family + L".staging.partial", test::VersionFiles("1.2.3"), "");
  {
    Win32FileSystem real;
    test::AdminOwnedDecorator fs(real);
    fs.foreign.push_back(family + L".staging.partial");
    kestrova::test::LogCapture log;
    EXPECT_EQ(CommitStagingWith(family.appdir(), "1.2.3", real, fs), 0);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"ERROR commit: SECURITY: " + partial +
                                                    " is not admin-only (owner S-1-5-21-0-0-0-1000 is not SYSTEM, "
                                                    "Administrators or TrustedInstaller); leaving it uncommitted"});
  }
  {
    // In use as some process's current folder: not "missing", and nothing is written into it.
    HoldingProcess holder(L"open", family + L".staging.partial");
    ASSERT_TRUE(holder.Holding());
    kestrova::test::LogCapture log;
    EXPECT_EQ(Commit(family.appdir(), "1.2.3"), 0);
    EXPECT_EQ(log.Lines(),
              std::vector<std::string>{"ERROR commit: could not open " + partial + ": 32; leaving it uncommitted"});
    EXPECT_EQ(holder.Release(), 0u);
  }
  EXPECT_FALSE(test::Exists(family + L".staging.partial\\.complete"));
  EXPECT_FALSE(test::Exists(family + L".staging"));
}

TEST(PartialStagingPathTest, SharedWithRollback) {
  EXPECT_EQ(PartialStagingPath(L"C:\\Corvella"), L"C:\\Corvella.staging.partial");
  EXPECT_EQ(PartialStagingPath(L""), L"");
}

}  // namespace
}  // namespace kestrova::appdirswap
