// The platform's Task Scheduler services: 2.0 (ITaskService) and 1.0 (ITaskScheduler), both
// through COM. Each call initialises COM for itself (a thread already initialised keeps its mode).
#include "platform/Owned.h"
#include "platform/Platform.h"

#include <mstask.h>
#include <taskschd.h>

namespace {
const HRESULT NotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT OpenRootFolder(com_ptr<ITaskFolder>& folder) {
    com_ptr<ITaskService> service;
    HRESULT hr = ::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                    reinterpret_cast<void**>(service.put()));
    if (FAILED(hr))
        return hr;
    VARIANT none = {};
    none.vt = VT_EMPTY; // this computer, as the caller
    hr = service->Connect(none, none, none, none);
    if (FAILED(hr))
        return hr;
    return service->GetFolder(unique_bstr(L"\\"), folder.put());
}

HRESULT OpenScheduler(com_ptr<ITaskScheduler>& scheduler) {
    return ::CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                              reinterpret_cast<void**>(scheduler.put()));
}

HRESULT InitialisedCom(unique_com_init& com) {
    com = unique_com_init::Multithreaded();
    return com.result() == RPC_E_CHANGED_MODE ? S_OK : com.result();
}

HRESULT NewStartupTask(ITaskScheduler* scheduler, const wchar_t* name, const wchar_t* program,
                       const wchar_t* arguments, DWORD maxRunMilliseconds) {
    com_ptr<ITask> task;
    HRESULT hr =
        scheduler->NewWorkItem(name, CLSID_CTask, IID_ITask, reinterpret_cast<IUnknown**>(task.put()));
    if (FAILED(hr))
        return hr;
    // An empty account is Local System; no flags: it starts, and goes on, on battery too.
    for (HRESULT step : {task->SetApplicationName(program), task->SetParameters(arguments),
                         task->SetAccountInformation(L"", nullptr), task->SetFlags(0),
                         task->SetMaxRunTime(maxRunMilliseconds)})
        if (FAILED(step))
            return step;
    WORD index = 0;
    com_ptr<ITaskTrigger> trigger;
    if (FAILED(hr = task->CreateTrigger(&index, trigger.put())))
        return hr;
    SYSTEMTIME today;
    ::GetLocalTime(&today);
    TASK_TRIGGER atStart = {};
    atStart.cbTriggerSize = sizeof atStart;
    atStart.wBeginYear = today.wYear; // a trigger must have a first day
    atStart.wBeginMonth = today.wMonth;
    atStart.wBeginDay = today.wDay;
    atStart.TriggerType = TASK_EVENT_TRIGGER_AT_SYSTEMSTART;
    if (FAILED(hr = trigger->SetTrigger(&atStart)))
        return hr;
    com_ptr<IPersistFile> file;
    if (FAILED(hr = task->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()))))
        return hr;
    return file->Save(nullptr, TRUE);
}
} // namespace

HRESULT Platform::RegisterTaskXml(const wchar_t* name, const wchar_t* xml) {
    unique_com_init com;
    com_ptr<ITaskFolder> folder;
    HRESULT hr = InitialisedCom(com);
    if (FAILED(hr) || FAILED(hr = OpenRootFolder(folder)))
        return hr;
    VARIANT none = {};
    none.vt = VT_EMPTY; // the account and rights come from the XML's principal
    com_ptr<IRegisteredTask> task;
    return folder->RegisterTask(unique_bstr(name), unique_bstr(xml), TASK_CREATE_OR_UPDATE, none, none,
                                TASK_LOGON_SERVICE_ACCOUNT, none, task.put());
}

HRESULT Platform::RegisterStartupTaskV1(const wchar_t* name, const wchar_t* program, const wchar_t* arguments,
                                        DWORD maxRunMilliseconds) {
    unique_com_init com;
    com_ptr<ITaskScheduler> scheduler;
    HRESULT hr = InitialisedCom(com);
    if (FAILED(hr) || FAILED(hr = OpenScheduler(scheduler)))
        return hr;
    hr = scheduler->Delete(name); // a new work item cannot take an existing task's name
    if (FAILED(hr) && hr != NotFound)
        return hr;
    hr = NewStartupTask(scheduler.get(), name, program, arguments, maxRunMilliseconds);
    if (FAILED(hr))
        scheduler->Delete(name); // no half-made task stays behind
    return hr;
}

HRESULT Platform::FindTask(TaskSchedulerVersion version, const wchar_t* name) {
    unique_com_init com;
    HRESULT hr = InitialisedCom(com);
    if (FAILED(hr))
        return hr;
    if (version == TaskSchedulerVersion::V2) {
        com_ptr<ITaskFolder> folder;
        com_ptr<IRegisteredTask> task;
        if (FAILED(hr = OpenRootFolder(folder)))
            return hr;
        hr = folder->GetTask(unique_bstr(name), task.put());
    } else {
        com_ptr<ITaskScheduler> scheduler;
        com_ptr<ITask> task;
        if (FAILED(hr = OpenScheduler(scheduler)))
            return hr;
        hr = scheduler->Activate(name, IID_ITask, reinterpret_cast<IUnknown**>(task.put()));
    }
    return hr == NotFound ? S_FALSE : FAILED(hr) ? hr : S_OK;
}

HRESULT Platform::RemoveTask(TaskSchedulerVersion version, const wchar_t* name) {
    unique_com_init com;
    HRESULT hr = InitialisedCom(com);
    if (FAILED(hr))
        return hr;
    if (version == TaskSchedulerVersion::V2) {
        com_ptr<ITaskFolder> folder;
        if (FAILED(hr = OpenRootFolder(folder)))
            return hr;
        hr = folder->DeleteTask(unique_bstr(name), 0);
    } else {
        com_ptr<ITaskScheduler> scheduler;
        if (FAILED(hr = OpenScheduler(scheduler)))
            return hr;
        hr = scheduler->Delete(name);
    }
    return hr == NotFound ? S_FALSE : hr;
}
