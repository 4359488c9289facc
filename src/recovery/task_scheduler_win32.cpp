#include "recovery/task_scheduler.h"

namespace kestrova::recovery {
namespace {

// The Task Scheduler 2.0 class and its ITaskService interface, spelled out so that nothing but ole32 is needed to
// create it.
constexpr CLSID kTaskSchedulerClass = {0x0f87369f, 0xa4e5, 0x4cfc, {0xbd, 0x3e, 0x73, 0xe6, 0x15, 0x45, 0x72, 0xdd}};
constexpr IID kTaskServiceInterface = {0x2faba4c7, 0x4da9, 0x4013, {0x96, 0x97, 0x20, 0xcc, 0x3f, 0xd4, 0x0f, 0x85}};

Bstr MakeBstr(WideView text) { return Bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))); }

// The root folder and, in it, the task folder; the first failing HRESULT, or S_OK with both filled.
HRESULT OpenTaskFolder(ITaskService* service, const WideString& path, ComPtr<ITaskFolder>* root,
                       ComPtr<ITaskFolder>* folder) {
  const Bstr rootPath = MakeBstr(L"\\");
  const Bstr folderPath = MakeBstr(path);
  if (!rootPath || !folderPath) return E_OUTOFMEMORY;
  HRESULT result = service->GetFolder(rootPath.get(), root->put());
  if (FAILED(result)) return result;
  return root->get()->GetFolder(folderPath.get(), folder->put());
}

}  // namespace

HRESULT ConnectTaskService(ComPtr<ITaskService>* service) {
  HRESULT result = CoCreateInstance(kTaskSchedulerClass, nullptr, CLSCTX_INPROC_SERVER, kTaskServiceInterface,
                                    reinterpret_cast<void**>(service->put()));
  if (FAILED(result)) return result;
  // Empty server, user, domain and password: this machine, as the caller.
  const UniqueVariant server, user, domain, password;
  result = service->get()->Connect(server.get(), user.get(), domain.get(), password.get());
  if (FAILED(result)) service->reset();
  return result;
}

HRESULT RegisterTaskXml(const TaskIdentity& task, const WideString& xml) {
  // Declared in the order of acquisition, so they are released in reverse: task, folder, root, service.
  ComPtr<ITaskService> service;
  ComPtr<ITaskFolder> root;
  ComPtr<ITaskFolder> folder;
  ComPtr<IRegisteredTask> registered;
  HRESULT result = ConnectTaskService(&service);
  if (FAILED(result)) return result;
  result = OpenTaskFolder(service.get(), task.folder, &root, &folder);
  if (FAILED(result) && root) {
    const Bstr folderPath = MakeBstr(task.folder);
    if (!folderPath) return E_OUTOFMEMORY;
    const UniqueVariant defaultSecurity;
    result = root.get()->CreateFolder(folderPath.get(), defaultSecurity.get(), folder.put());
  }
  if (FAILED(result)) return result;

  const Bstr name = MakeBstr(task.name);
  const Bstr text = MakeBstr(xml);
  const UniqueVariant user(L"SYSTEM");
  const UniqueVariant noPassword;
  const UniqueVariant emptyDescriptor(L"");
  if (!name || !text || user.get().vt != VT_BSTR || emptyDescriptor.get().vt != VT_BSTR) return E_OUTOFMEMORY;
  return folder.get()->RegisterTask(name.get(), text.get(), TASK_CREATE_OR_UPDATE, user.get(), noPassword.get(),
                                    TASK_LOGON_SERVICE_ACCOUNT, emptyDescriptor.get(), registered.put());
}

TaskRemoval RemoveTask(const TaskIdentity& task) {
  TaskRemoval removal;
  const ComApartment com(COINIT_MULTITHREADED);
  if (!com.Usable()) {
    removal.open_result = com.Result();
    return removal;
  }
  ComPtr<ITaskService> service;
  ComPtr<ITaskFolder> root;
  ComPtr<ITaskFolder> folder;
  HRESULT result = ConnectTaskService(&service);
  if (SUCCEEDED(result)) result = OpenTaskFolder(service.get(), task.folder, &root, &folder);
  if (FAILED(result)) {
    removal.open_result = result;
    return removal;
  }
  removal.opened = true;
  const Bstr name = MakeBstr(task.name);
  const Bstr folderPath = MakeBstr(task.folder);
  removal.delete_result = name ? folder.get()->DeleteTask(name.get(), 0) : E_OUTOFMEMORY;
  folder.reset();
  // Fails while other tasks remain in the folder; that folder is not ours alone to remove.
  if (folderPath) root.get()->DeleteFolder(folderPath.get(), 0);
  return removal;
}

}  // namespace kestrova::recovery
