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

  // The definition as the scheduler keeps it. Wine 8 gives back a text it rebuilds from what it understood: the
  // registration info and the settings, but no triggers, an empty principal and an empty Exec (and its action
  // collection cannot be read item by item), so the action itself is compared only where the scheduler returns it.
  std::wstring StoredXml(const std::wstring& name) {
    ComPtr<IRegisteredTask> task = Registered(name);
    if (!task) return L"<no task>";
    Bstr xml;
    if (FAILED(task.get()->get_Xml(xml.put())) || !xml) return L"<no xml>";
    return xml.get();
  }

  const ComApartment com_{COINIT_MULTITHREADED};
  ComPtr<ITaskService> service_;
  TaskIdentity task_;
};

const wchar_t kCommand[] = L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe";

// The definition with the first author line replaced, to tell one registration from another.
std::wstring WithAuthor(const std::wstring& xml, const std::wstring& author) {
  std::wstring changed = xml;
  const std::wstring line = L"<Author>Kestrova</Author>";
  changed.replace(changed.find(line), line.size(), L"<Author>" + author + L"</Author>");
  return changed;
}

TEST_F(TaskSchedulerTest, RegistersTheDefinitionWithAmpersandsInBothPaths) {
  const std::wstring command = L"C:\\Tools & More\\powershell.exe";
  const std::wstring arguments = TaskArguments(L"C:\\Tom & Jerry\\Updates\\recover.ps1",
                                               L"C:\\Tom & Jerry\\Corvella <x>\\KestrovaPayload.exe");
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, TaskXml(command, arguments)));

  const std::wstring text = StoredXml(task_.name);
  for (const wchar_t* piece :
       {L"<Author>Kestrova</Author>",
        L"<Description>Repairs a Corvella update left incomplete by a power loss, and reinstalls Corvella when its "
        L"service is missing.</Description>",
        L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
        L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
        L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>", L"<StartWhenAvailable>true</StartWhenAvailable>",
        L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>", L"<Hidden>true</Hidden>", L"<Priority>7</Priority>"}) {
    EXPECT_NE(text.find(piece), std::wstring::npos) << WideToUtf8(piece) << " in " << WideToUtf8(text);
  }
  EXPECT_EQ(text.find(L"Tom & Jerry"), std::wstring::npos) << "an ampersand stored unescaped";
  if (text.find(L"<Command>") != std::wstring::npos) {
    EXPECT_NE(text.find(L"<Command>" + XmlEscape(command) + L"</Command>"), std::wstring::npos);
    EXPECT_NE(text.find(L"<Arguments>" + XmlEscape(arguments) + L"</Arguments>"), std::wstring::npos);
  }
}

TEST_F(TaskSchedulerTest, RegisteringAgainReplacesTheTask) {
  const std::wstring xml = TaskXml(kCommand, TaskArguments(L"C:\\u\\recover.ps1", L"C:\\new\\KestrovaPayload.exe"));
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, WithAuthor(xml, L"Earlier")));
  EXPECT_NE(StoredXml(task_.name).find(L"<Author>Earlier</Author>"), std::wstring::npos);
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml(task_, xml));
  const std::wstring text = StoredXml(task_.name);
  EXPECT_NE(text.find(L"<Author>Kestrova</Author>"), std::wstring::npos) << WideToUtf8(text);
  EXPECT_EQ(text.find(L"Earlier"), std::wstring::npos);
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
  ASSERT_HRESULT_SUCCEEDED(RegisterTaskXml({task_.folder, L"Other Task"}, WithAuthor(xml, L"Someone else")));
  const TaskRemoval removal = RemoveTask(task_);
  EXPECT_TRUE(removal.opened);
  EXPECT_EQ(removal.delete_result, S_OK);
  EXPECT_TRUE(Folder(task_.folder));
  EXPECT_FALSE(Registered(task_.name));
  EXPECT_NE(StoredXml(L"Other Task").find(L"<Author>Someone else</Author>"), std::wstring::npos);
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
