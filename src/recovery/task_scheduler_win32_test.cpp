#include "recovery/task_scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "recovery/task_definition.h"

namespace kestrova::recovery {
namespace {

Bstr MakeBstr(const std::wstring& text) { return Bstr(SysAllocString(text.c_str())); }

// Registration and removal against the real Task Scheduler, in a task folder of this test run's own that is removed
// afterwards whatever the test left in it.
class TaskSchedulerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(com_.Usable()) << FormatHresult(com_.Result());
    task_ = {L"\\KestrovaTest-" + std::to_wstring(GetCurrentProcessId()), L"Corvella Update Recovery"};
  }
  void TearDown() override {
    ComPtr<ITaskFolder> folder = Folder(task_.folder);
    if (!folder) return;
    for (const wchar_t* name : {L"Corvella Update Recovery", L"Other Task"}) {
      const Bstr bstr = MakeBstr(name);
      folder.get()->DeleteTask(bstr.get(), 0);
    }
    folder.reset();
    const Bstr path = MakeBstr(task_.folder);
    Root().get()->DeleteFolder(path.get(), 0);
  }

  ComPtr<ITaskFolder> Root() {
    ComPtr<ITaskFolder> root;
    if (FAILED(ConnectTaskService(&service_))) return root;
    const Bstr path = MakeBstr(L"\\");
    service_.get()->GetFolder(path.get(), root.put());
    return root;
  }

  // The folder, or empty with the HRESULT of the failed look-up in `result`.
  ComPtr<ITaskFolder> Folder(const std::wstring& path, HRESULT* result = nullptr) {
    ComPtr<ITaskFolder> folder;
    ComPtr<ITaskFolder> root = Root();
    if (!root) return folder;
    const Bstr bstr = MakeBstr(path);
    const HRESULT got = root.get()->GetFolder(bstr.get(), folder.put());
    if (result != nullptr) *result = got;
    return folder;
  }

  ComPtr<IRegisteredTask> Registered(const std::wstring& name) {
    ComPtr<IRegisteredTask> task;
    ComPtr<ITaskFolder> folder = Folder(task_.folder);
    if (!folder) return task;
    const Bstr bstr = MakeBstr(name);
    folder.get()->GetTask(bstr.get(), task.put());
    return task;
  }

  LONG TaskCount() {
    ComPtr<ITaskFolder> folder = Folder(task_.folder);
    if (!folder) return -1;
    ComPtr<IRegisteredTaskCollection> tasks;
    if (FAILED(folder.get()->GetTasks(TASK_ENUM_HIDDEN, tasks.put()))) return -1;
    LONG count = -1;
    tasks.get()->get_Count(&count);
    return count;
  }

  // The command and arguments of the registered task's first action, as the scheduler will run them.
  static void ReadExec(IRegisteredTask* task, std::wstring* path, std::wstring* arguments) {
    ComPtr<ITaskDefinition> definition;
    ASSERT_HRESULT_SUCCEEDED(task->get_Definition(definition.put()));
    ComPtr<IActionCollection> actions;
    ASSERT_HRESULT_SUCCEEDED(definition.get()->get_Actions(actions.put()));
    ComPtr<IAction> action;
    ASSERT_HRESULT_SUCCEEDED(actions.get()->get_Item(1, action.put()));
    ComPtr<IExecAction> exec;
    ASSERT_HRESULT_SUCCEEDED(action.get()->QueryInterface(__uuidof(IExecAction), reinterpret_cast<void**>(exec.put())));
    Bstr text;
    ASSERT_HRESULT_SUCCEEDED(exec.get()->get_Path(text.put()));
    *path = text ? text.get() : L"";
    ASSERT_HRESULT_SUCCEEDED(exec.get()->get_Arguments(text.put()));
    *arguments = text ? text.get() : L"";
  }

  const ComApartment com_{COINIT_MULTITHREADED};
  ComPtr<ITaskService> service_;
  TaskIdentity task_;
};

const wchar_t kCommand[] = L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";

TEST_F(TaskSchedulerTest, RegistersTheDefinitionAndAnAmpersandReachesTheActionUnchanged) {
  const std::wstring arguments = TaskArguments(L"C:\\Tom & Jerry\\Updates\\recover.ps1",
                                               L"C:\\Tom & Jerry\\Corvella <x>\\KestrovaPayload.exe");
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(kCommand, arguments)));

  ComPtr<IRegisteredTask> task = Registered(task_.name);
  ASSERT_TRUE(task);
  std::wstring path, stored;
  ReadExec(task.get(), &path, &stored);
  EXPECT_EQ(path, kCommand);
  EXPECT_EQ(stored, arguments);

  // The definition as the scheduler keeps it: the escaped forms in the text, the task's settings in place.
  Bstr xml;
  ASSERT_HRESULT_SUCCEEDED(task.get()->get_Xml(xml.put()));
  const std::wstring text = xml.get();
  EXPECT_NE(text.find(L"C:\\Tom &amp; Jerry\\Updates\\recover.ps1"), std::wstring::npos) << WideToUtf8(text);
  EXPECT_NE(text.find(L"Corvella &lt;x&gt;"), std::wstring::npos);
  EXPECT_EQ(text.find(L"Tom & Jerry"), std::wstring::npos);
  for (const wchar_t* piece : {L"<Hidden>true</Hidden>", L"<Author>Kestrova</Author>", L"<UserId>S-1-5-18</UserId>",
                               L"<Priority>7</Priority>", L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>"}) {
    EXPECT_NE(text.find(piece), std::wstring::npos) << WideToUtf8(piece) << " in " << WideToUtf8(text);
  }
}

TEST_F(TaskSchedulerTest, RegisteringAgainReplacesTheTask) {
  const std::wstring first = TaskArguments(L"C:\\u\\recover.ps1", L"C:\\old\\KestrovaPayload.exe");
  const std::wstring second = TaskArguments(L"C:\\u\\recover.ps1", L"C:\\new\\KestrovaPayload.exe");
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(kCommand, first)));
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(kCommand, second)));
  EXPECT_EQ(TaskCount(), 1);
  ComPtr<IRegisteredTask> task = Registered(task_.name);
  ASSERT_TRUE(task);
  std::wstring path, stored;
  ReadExec(task.get(), &path, &stored);
  EXPECT_EQ(stored, second);
}

TEST_F(TaskSchedulerTest, RemovalDeletesTheTaskAndItsEmptyFolder) {
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(kCommand, TaskArguments(L"C:\\a.ps1", L"C:\\b.exe"))));
  const TaskRemoval removal = RemoveTask(task_);
  EXPECT_TRUE(removal.opened);
  EXPECT_EQ(removal.delete_result, S_OK);
  EXPECT_EQ(DeleteTaskMessage(removal), "recovery: delete task: ok");
  HRESULT lookup = S_OK;
  EXPECT_FALSE(Folder(task_.folder, &lookup));
  EXPECT_EQ(lookup, static_cast<HRESULT>(kHresultPathNotFound));
}

TEST_F(TaskSchedulerTest, RemovalLeavesAFolderThatHoldsAnotherTask) {
  const std::wstring xml = TaskXml(kCommand, TaskArguments(L"C:\\a.ps1", L"C:\\b.exe"));
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, xml));
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml({task_.folder, L"Other Task"}, xml));
  const TaskRemoval removal = RemoveTask(task_);
  EXPECT_TRUE(removal.opened);
  EXPECT_EQ(removal.delete_result, S_OK);
  EXPECT_TRUE(Folder(task_.folder));
  EXPECT_FALSE(Registered(task_.name));
  EXPECT_TRUE(Registered(L"Other Task"));
  EXPECT_EQ(TaskCount(), 1);
}

TEST_F(TaskSchedulerTest, MissingTaskInAnExistingFolderIsFileNotFound) {
  const std::wstring xml = TaskXml(kCommand, TaskArguments(L"C:\\a.ps1", L"C:\\b.exe"));
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml({task_.folder, L"Other Task"}, xml));
  const TaskRemoval removal = RemoveTask(task_);
  EXPECT_TRUE(removal.opened);
  EXPECT_EQ(removal.delete_result, kHresultFileNotFound);
  EXPECT_EQ(DeleteTaskMessage(removal), "recovery: delete task: 0x80070002");
  EXPECT_EQ(OpenFolderWarning(removal), "");
  EXPECT_TRUE(Registered(L"Other Task"));
}

TEST_F(TaskSchedulerTest, MissingFolderIsPathNotFoundAndNoWarning) {
  const TaskRemoval removal = RemoveTask(task_);
  EXPECT_FALSE(removal.opened);
  EXPECT_EQ(removal.open_result, kHresultPathNotFound);
  EXPECT_EQ(DeleteTaskMessage(removal), "");
  EXPECT_EQ(OpenFolderWarning(removal), "");
}

TEST_F(TaskSchedulerTest, RemovalWorksOnAThreadAlreadyInAnotherApartment) {
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(kCommand, TaskArguments(L"C:\\a.ps1", L"C:\\b.exe"))));
  TaskRemoval removal;
  // A caller that chose the single-threaded apartment first: the removal runs there (RPC_E_CHANGED_MODE) and leaves
  // that caller's COM initialised.
  std::thread([&] {
    const ComApartment sta(COINIT_APARTMENTTHREADED);
    ASSERT_HRESULT_SUCCEEDED(sta.Result());
    removal = RemoveTask(task_);
    ComPtr<ITaskService> service;
    EXPECT_HRESULT_SUCCEEDED(ConnectTaskService(&service));
  }).join();
  EXPECT_TRUE(removal.opened);
  EXPECT_EQ(removal.delete_result, S_OK);
}

TEST_F(TaskSchedulerTest, InvalidDefinitionFailsWithAnHresult) {
  EXPECT_FALSE(SUCCEEDED(RegisterTaskXml(task_, L"<Task>")));
  EXPECT_FALSE(Registered(task_.name));
}

}  // namespace
}  // namespace kestrova::recovery
