#include "recovery/recovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "core/report.h"
#include "core/unique_handle_win32.h"
#include "recovery/script_file.h"
#include "recovery/task_definition.h"
#include "support/scratch_folder_win32.h"
#include "securefs/secure_folders.h"

namespace kestrova::recovery {
namespace {

using kestrova::test::Exists;
using kestrova::test::ScratchFolder;

// The commands as the tool runs them, with the log written to a file of the scratch folder and the secure file
// system's reports going through the log as in the tool. Under Wine no folder is admin-only, so every run that gets
// as far as securing the updates folder is refused there; what comes before and the removal are checked here, the
// registration itself in task_scheduler_win32_test.cpp. The machine's task is set up by the test and removed after.
class RecoveryCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Usable());
    logPath_ = scratch_ / L"test.log";
    SetLogFile(CreateFileW(logPath_.c_str(), FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(HasLogFile());
    previousSink_ = InstallReportSink(nullptr);
    InstallLogReportSink();
    policyKey_ = L"Software\\KestrovaTests\\RecoveryPolicy-" + std::to_wstring(GetCurrentProcessId());
    RemoveTask(RecoveryTask());
  }
  void TearDown() override {
    RemoveTask(RecoveryTask());
    RegDeleteTreeW(HKEY_CURRENT_USER, policyKey_.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KestrovaTests");  // only when no other run left keys in it
    InstallReportSink(previousSink_);
    CloseLogFile();
  }

  // The log's messages so far, without time stamp, level and process id, each with its level in front.
  std::vector<std::string> Messages() {
    std::vector<std::string> messages;
    FileHandle file(CreateFileW(logPath_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) return messages;
    std::string text(1 << 20, '\0');
    DWORD got = 0;
    ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr);
    text.resize(got);
    for (size_t start = 0; start < text.size();) {
      const size_t end = text.find("\r\n", start);
      const std::string line = text.substr(start, end - start);
      const size_t level = line.find(' ');
      const size_t message = line.find("] ");
      if (level != std::string::npos && message != std::string::npos) {
        std::string name = line.substr(level + 1, 5);
        while (!name.empty() && name.back() == ' ') name.pop_back();
        messages.push_back(name + " " + line.substr(message + 2));
      }
      if (end == std::string::npos) break;
      start = end + 2;
    }
    return messages;
  }

  bool TaskExists() {
    ComPtr<ITaskService> service;
    if (FAILED(ConnectTaskService(&service))) return false;
    ComPtr<ITaskFolder> folder;
    const Bstr path(SysAllocString(L"\\Kestrova"));
    if (FAILED(service.get()->GetFolder(path.get(), folder.put()))) return false;
    ComPtr<IRegisteredTask> task;
    const Bstr name(SysAllocString(kRecoveryTaskName));
    return SUCCEEDED(folder.get()->GetTask(name.get(), task.put()));
  }

  void RegisterExistingTask() {
    ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(
        RecoveryTask(), TaskXml(L"C:\\windows\\system32\\cmd.exe", TaskArguments(L"C:\\old.ps1", L"C:\\old.exe"))));
    ASSERT_TRUE(TaskExists());
  }

  std::wstring Script(const std::wstring& name, size_t size) {
    const std::wstring path = scratch_ / name;
    kestrova::test::WriteTextFile(path, std::string(size, '#'));
    return path;
  }

  void DisableInUserHive() {
    RegKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, policyKey_.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                              nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    const DWORD zero = 0;
    ASSERT_EQ(RegSetValueExW(key.get(), L"RecoveryTaskEnabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero),
                             sizeof zero),
              ERROR_SUCCESS);
  }

  const ComApartment com_{COINIT_MULTITHREADED};
  ScratchFolder scratch_;
  std::wstring logPath_;
  std::wstring policyKey_;
  ReportSink previousSink_ = nullptr;
};

TEST_F(RecoveryCommandTest, PolicyInTheUserHiveDisablesWithoutTouchingTheMachineTask) {
  RegisterExistingTask();
  DisableInUserHive();
  EXPECT_EQ(RegisterRecovery(scratch_ / L"missing.ps1", scratch_ / L"updates", PolicyLocation{true, policyKey_}), 0);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"INFO recovery: disabled by IT policy RecoveryTaskEnabled=0; removing the task"});
  EXPECT_TRUE(TaskExists());
  EXPECT_FALSE(Exists(scratch_ / L"updates"));
}

TEST_F(RecoveryCommandTest, ScriptsThatCannotBeReadLeaveTheTaskInPlace) {
  RegisterExistingTask();
  kestrova::test::MakeFolder(scratch_ / L"folder.ps1");
  const std::wstring empty = Script(L"empty.ps1", 0);
  const std::wstring over = Script(L"over.ps1", kMaxScriptBytes + 1);
  const std::string shown = WideToUtf8(scratch_.Path());
  struct Case {
    std::wstring script;
    std::string message;
  };
  const Case cases[] = {
      {scratch_ / L"missing.ps1", "ERROR recovery: cannot read " + shown + "\\missing.ps1: not a regular file"},
      {scratch_ / L"folder.ps1", "ERROR recovery: cannot read " + shown + "\\folder.ps1: not a regular file"},
      {empty, "ERROR recovery: cannot read " + shown + "\\empty.ps1: size 0 is out of range"},
      {over, "ERROR recovery: cannot read " + shown + "\\over.ps1: size 1048577 is out of range"},
      {L"", "ERROR recovery: cannot read : not a regular file"},
  };
  for (const auto& c : cases) {
    const size_t before = Messages().size();
    EXPECT_EQ(RegisterRecovery(c.script, scratch_ / L"updates", PolicyLocation{}), 1) << c.message;
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), before + 1) << c.message;
    EXPECT_EQ(messages.back(), c.message);
  }
  EXPECT_TRUE(TaskExists());
  EXPECT_FALSE(Exists(scratch_ / L"updates"));
}

TEST_F(RecoveryCommandTest, OneMebibyteScriptGetsToSecuringWhichRemovesTheTaskWhenItFails) {
  RegisterExistingTask();
  const std::wstring script = Script(L"recover.ps1", kMaxScriptBytes);
  const std::wstring updates = scratch_ / L"updates";
  EXPECT_EQ(RegisterRecovery(script, updates, PolicyLocation{}), 1);
  const auto messages = Messages();
  ASSERT_GE(messages.size(), 3u);
  EXPECT_TRUE(messages[0].starts_with("ERROR " + WideToUtf8(updates) + " cannot be secured: ")) << messages[0];
  EXPECT_EQ(messages[messages.size() - 2], "ERROR recovery: cannot secure " + WideToUtf8(updates) + "; removing the task");
  EXPECT_EQ(messages.back(), "INFO recovery: delete task: ok");
  EXPECT_FALSE(TaskExists());
  EXPECT_FALSE(Exists(updates + L"\\recover.ps1"));
}

TEST_F(RecoveryCommandTest, UnsafeMakerFolderAboveTheDefaultUpdatesFolderIsExitFour) {
  RegisterExistingTask();
  const std::wstring script = Script(L"recover.ps1", 10);
  EXPECT_EQ(RegisterRecovery(script, securefs::DefaultUpdatesFolder(), PolicyLocation{}), kExitUpdatesParentUnsafe);
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_TRUE(messages[0].starts_with("ERROR C:\\ProgramData\\Kestrova cannot be repaired: a folder above it is not "
                                      "admin-only: "))
      << messages[0];
  EXPECT_EQ(messages[1],
            "ERROR recovery: SECURITY: C:\\ProgramData\\Kestrova stays writable by standard users, so a planted "
            "Updates\\recover.ps1 could run as SYSTEM; not registering the recovery task (KVRN-11940)");
  EXPECT_EQ(messages[2], "INFO recovery: delete task: ok");
  EXPECT_FALSE(TaskExists());
}

TEST_F(RecoveryCommandTest, ThePayloadToolAndItsFolderMustBeAdminOnly) {
  // Under Wine no folder is admin-only: the verdict names the drive root above the script's folder.
  const std::string problem = PayloadToolProblem(scratch_ / L"recover.ps1");
  EXPECT_EQ(problem.rfind("C:\\: owner ", 0), 0u) << problem;
  EXPECT_NE(PayloadToolProblem(scratch_ / L"missing\\recover.ps1"), "") << "a missing folder is not admin-only";
}

TEST_F(RecoveryCommandTest, UnregisterReportsOnlyWhatItFound) {
  EXPECT_EQ(UnregisterRecovery(), 0);
  EXPECT_TRUE(Messages().empty());
  RegisterExistingTask();
  EXPECT_EQ(UnregisterRecovery(), 0);
  EXPECT_EQ(Messages(), std::vector<std::string>{"INFO recovery: delete task: ok"});
  EXPECT_FALSE(TaskExists());
}

}  // namespace
}  // namespace kestrova::recovery
