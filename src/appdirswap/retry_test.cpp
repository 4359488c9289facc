#include "appdirswap/retry.h"

#include <gtest/gtest.h>

#include <vector>

#include "appdirswap/scripted_file_system.h"
#include "appdirswap/transaction.h"

namespace kestrova::appdirswap {
namespace {

using test::ScriptedFileSystem;

ScriptedFileSystem TwoFolders() {
  ScriptedFileSystem fs;
  fs.AddFolder(L"C:\\");
  fs.AddVersion(L"C:\\Corvella", "1.0.0");
  return fs;
}

TEST(RetryTest, PausesRecordsAndResultsOfTheRetryLoop) {
  struct Row {
    const char* name;
    uint32_t busy_attempts;
    uint32_t busy_error;
    uint32_t fail_error;
    uint32_t budget_ms;
    uint64_t ms_per_attempt;
    MoveResult result;
    uint32_t attempts;
    uint32_t last_error;
    std::vector<uint32_t> sleeps;
    uint64_t elapsed_ms;
  };
  const std::vector<uint32_t> ten_seconds = {50, 100, 200, 400, 800, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                             450};
  const Row rows[] = {
      {"first attempt", 0, 0, 0, 10000, 0, MoveResult::Ok, 1, 0, {}, 0},
      {"ok on the third keeps the second's error", 2, 33, 0, 10000, 0, MoveResult::Ok, 3, 33, {50, 100}, 150},
      {"access denied is busy", 1, 5, 0, 10000, 0, MoveResult::Ok, 2, 5, {50}, 50},
      {"busy for the whole budget", UINT32_MAX, 32, 0, 10000, 0, MoveResult::Busy, 15, 32, ten_seconds, 10000},
      {"failed is not retried", 0, 0, 183, 10000, 0, MoveResult::Failed, 1, 183, {}, 0},
      {"busy, then failed", 3, 32, 2, 10000, 0, MoveResult::Failed, 4, 2, {50, 100, 200}, 350},
      {"zero budget: one attempt", UINT32_MAX, 32, 0, 0, 0, MoveResult::Busy, 1, 32, {}, 0},
      {"slow attempts shorten the last pause", UINT32_MAX, 32, 0, 1000, 300, MoveResult::Busy, 3, 32, {50, 100},
       1050},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedFileSystem fs = TwoFolders();
    fs.rename_scripts[L"C:\\Corvella"] = {row.busy_attempts, row.busy_error, row.fail_error};
    fs.ms_per_attempt = row.ms_per_attempt;
    const AttemptRecord record = RenameWithRetry(fs, L"C:\\Corvella", L"C:\\Corvella.lkg", row.budget_ms);
    EXPECT_EQ(record.from, L"C:\\Corvella");
    EXPECT_EQ(record.to, L"C:\\Corvella.lkg");
    EXPECT_EQ(record.result, row.result);
    EXPECT_EQ(record.attempts, row.attempts);
    EXPECT_EQ(record.last_error, row.last_error);
    EXPECT_EQ(fs.sleeps, row.sleeps);
    EXPECT_EQ(record.elapsed_ms, row.elapsed_ms);
    EXPECT_EQ(fs.Exists(L"C:\\Corvella.lkg"), row.result == MoveResult::Ok);
  }
}

TEST(RetryTest, LockWithRetryAndLockForTransaction) {
  {
    ScriptedFileSystem fs = TwoFolders();
    fs.lock_busy_attempts = 2;
    const AttemptRecord record = LockWithRetry(fs, L"C:\\Corvella.swap.lock", 10000);
    EXPECT_EQ(record.result, MoveResult::Ok);
    EXPECT_EQ(record.attempts, 3u);
    EXPECT_EQ(record.last_error, 32u);
    EXPECT_TRUE(record.from.empty());
    EXPECT_TRUE(record.to.empty());
    EXPECT_TRUE(fs.lock_held);
    EXPECT_EQ(fs.lock_path, L"C:\\Corvella.swap.lock");
  }
  {
    ScriptedFileSystem fs = TwoFolders();
    fs.lock_busy_attempts = UINT32_MAX;
    SwapResult result;
    EXPECT_FALSE(LockForTransaction(L"C:\\Corvella", fs, RetryBudgets{}, Remover(), result));
    EXPECT_EQ(result.outcome, Outcome::Held);
    EXPECT_EQ(result.hold, HoldReason::Lock);
    EXPECT_EQ(fs.now_ms - 1'000'000, 10000u);
    EXPECT_FALSE(fs.lock_held);
  }
  for (const wchar_t* refused : {L"C:\\", L"\\\\srv\\share\\Corvella", L"C:\\Program Files", L"c:\\program files\\"}) {
    SCOPED_TRACE(WideToUtf8(refused));
    ScriptedFileSystem fs = TwoFolders();
    fs.system_folders = {L"C:\\Program Files", L"C:\\Users\\Public"};
    SwapResult result;
    EXPECT_FALSE(LockForTransaction(refused, fs, RetryBudgets{}, Remover(), result));
    EXPECT_EQ(result.outcome, Outcome::Refused);
    EXPECT_EQ(result.refusal, Refusal::BadAppdirPath);
    EXPECT_TRUE(fs.events.empty());
  }
  ScriptedFileSystem fs = TwoFolders();
  fs.system_folders = {L"C:\\Program Files"};
  SwapResult result;
  EXPECT_TRUE(LockForTransaction(L"C:\\Program Files\\Kestrova\\Corvella", fs, RetryBudgets{}, Remover(), result));
  EXPECT_EQ(fs.lock_path, L"C:\\Program Files\\Kestrova\\Corvella.swap.lock");
}

// Only a sharing violation is another holder. A stranger's entry at the lock's name is removed and the lock taken;
// an admin-only folder there is left alone and its error named, never waited for as busy.
TEST(RetryTest, TakeSwapLockRemovesOnlyAStrangersEntryAtTheLocksName) {
  struct Row {
    const char* entry;  // at the lock's name: "" none, "admin folder", "stranger folder", "link"
    bool with_remover;
    MoveResult result;
    uint32_t last_error;
    uint32_t attempts;
    const char* removed;
  };
  const Row rows[] = {
      {"", true, MoveResult::Ok, 0, 1, ""},
      {"admin folder", true, MoveResult::Failed, 5, 1, ""},
      {"stranger folder", true, MoveResult::Ok, 0, 1, ".swap.lock (not_admin_only)"},
      {"stranger folder", false, MoveResult::Failed, 5, 1, ""},
      {"link", true, MoveResult::Ok, 0, 1, ".swap.lock (not_admin_only)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.entry) + (row.with_remover ? "" : " without remover"));
    ScriptedFileSystem fs = TwoFolders();
    const WideString lock = L"C:\\Corvella.swap.lock";
    if (std::string(row.entry) == "admin folder") fs.AddFolder(lock);
    if (std::string(row.entry) == "stranger folder") fs.AddFolder(lock, {{"inside", "x"}}, nullptr, false);
    if (std::string(row.entry) == "link") fs.AddLink(lock);
    const AttemptRecord record = TakeSwapLock(fs, lock, 10000, row.with_remover ? fs.MakeRemover() : Remover());
    EXPECT_EQ(record.result, row.result);
    EXPECT_EQ(record.last_error, row.last_error);
    EXPECT_EQ(record.attempts, row.attempts);
    EXPECT_EQ(fs.Removals(L"C:\\Corvella"), row.removed);
    EXPECT_EQ(fs.lock_held, row.result == MoveResult::Ok);
  }
}

TEST(RetryTest, LongPathForm) {
  EXPECT_EQ(ToLongPathForm(L"C:\\Corvella"), L"\\\\?\\C:\\Corvella");
  EXPECT_EQ(ToLongPathForm(L"C:\\"), L"\\\\?\\C:\\");
  EXPECT_EQ(ToLongPathForm(L"\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
  EXPECT_EQ(ToLongPathForm(L"\\\\server\\share"), L"\\\\server\\share");
  EXPECT_EQ(ToLongPathForm(L"C:"), L"C:");
  EXPECT_EQ(ToLongPathForm(L"C:x"), L"C:x");
}

}  // namespace
}  // namespace kestrova::appdirswap
