// The recovery task in the Task Scheduler: registering a definition under a task folder (created when missing) and
// deleting a task with its folder when that is left empty, through Task Scheduler 2.0 over COM. The outcome of a
// removal and its log texts are portable; building the definition belongs to task_definition.h, deciding when to
// register or remove to recovery.h.
#pragma once

#include <cstdint>
#include <string>

#include "core/text.h"

#ifdef _WIN32
#include <windows.h>

#include <taskschd.h>

#include "core/unique_handle_win32.h"
#endif

namespace kestrova::recovery {

// An HRESULT as a portable number.
using HResult = int32_t;

// "File not found" and "path not found" as HRESULTs: for a removal, nothing there to remove.
inline constexpr HResult kHresultFileNotFound = static_cast<HResult>(0x80070002u);
inline constexpr HResult kHresultPathNotFound = static_cast<HResult>(0x80070003u);

// A task folder directly below the root folder ("\Kestrova") and the task's name in it.
struct TaskIdentity {
  WideString folder;
  WideString name;
};

// What a removal met: `opened` when COM started and the task folder was reached, else `open_result` holds the first
// failing HRESULT on the way; `delete_result` is that of the deletion of the task once the folder was open.
struct TaskRemoval {
  bool opened = false;
  HResult open_result = 0;
  HResult delete_result = 0;
};

// "0x%08lX": eight upper-case hexadecimal digits.
std::string FormatHresult(HResult result);

// The INFO text of a removal that reached the folder: "recovery: delete task: ok" or with the HRESULT in place of
// "ok". Empty when the folder was not reached.
std::string DeleteTaskMessage(const TaskRemoval& removal);

// The WARN text of a removal that could not reach the folder for a reason other than its absence (0x80070002,
// 0x80070003): "recovery: could not open the task folder: <HRESULT>". Empty otherwise.
std::string OpenFolderWarning(const TaskRemoval& removal);

#ifdef _WIN32
// Creates the Task Scheduler service object in process and connects it to this machine as the caller. Returns the
// first failing HRESULT, or S_OK with `service` filled. COM must be initialised on the calling thread.
HRESULT ConnectTaskService(ComPtr<ITaskService>* service);

// Registers `xml` as `task` for the SYSTEM account (service-account logon), create-or-update, so an existing task
// of that name is replaced; the folder is created with default security when missing. Returns the first failing
// HRESULT or S_OK; every interface is released before it returns. COM must be initialised on the calling thread.
HRESULT RegisterTaskXml(const TaskIdentity& task, const WideString& xml);

// Starts COM for the call (multithreaded; a thread already initialised otherwise is accepted), deletes the task and
// then asks for the folder to go, which fails harmlessly while other tasks remain in it.
TaskRemoval RemoveTask(const TaskIdentity& task);
#endif

}  // namespace kestrova::recovery
