// The task that runs at the next start: its XML, which Task Scheduler each Windows version is given
// through the platform, and what Wine's real Task Scheduler 2.0 and 1.0 store of it.
#include "TestSupport.h"

#include "core/TaskXml.h"
#include "platform/Owned.h"
#include "restart/NextStartTask.h"

#include <mstask.h>
#include <taskschd.h>

#include <gtest/gtest.h>

namespace {
const std::wstring Program = L"C:\\ProgramData\\A&B <x>\\Tarnwick.exe";
const std::wstring Arguments = L"/v \"l='x'\"";

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// What Wine's Task Scheduler 2.0 gives back of a task in the root folder: its XML; empty when absent.
std::wstring StoredXml(const wchar_t* name) {
    com_ptr<ITaskService> service;
    com_ptr<ITaskFolder> folder;
    com_ptr<IRegisteredTask> task;
    VARIANT none = {};
    none.vt = VT_EMPTY;
    BSTR xml = nullptr;
    if (FAILED(CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                reinterpret_cast<void**>(service.put()))) ||
        FAILED(service->Connect(none, none, none, none)) ||
        FAILED(service->GetFolder(unique_bstr(L"\\"), folder.put())) ||
        FAILED(folder->GetTask(unique_bstr(name), task.put())) || FAILED(task->get_Xml(&xml)))
        return L"";
    unique_bstr owned;
    *owned.put() = xml;
    return std::wstring(xml, SysStringLen(xml));
}
} // namespace

TEST(NextStartTaskXml, HoldsBootTriggerLocalSystemBatteryTimeLimitAndTheEscapedAction) {
    const std::wstring xml = NextStartTaskXml(L"a <b>", Program, Arguments);
    for (const wchar_t* part :
         {L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>",
          L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"",
          L"<Description>a &lt;b&gt;</Description>", L"<BootTrigger>\r\n      <Enabled>true</Enabled>",
          L"<UserId>S-1-5-18</UserId>", L"<RunLevel>HighestAvailable</RunLevel>",
          L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
          L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
          L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>",
          L"<Command>C:\\ProgramData\\A&amp;B &lt;x&gt;\\Tarnwick.exe</Command>",
          L"<Arguments>/v &quot;l=&apos;x&apos;&quot;</Arguments>"})
        EXPECT_TRUE(Contains(xml, part)) << part;
    EXPECT_EQ(XmlEscaped(std::wstring(L"a\tb\x01\r\n\xFFFF", 7)), std::wstring(L"a\tb\xFFFD\r\n\xFFFD"));
}

TEST(NextStartTask, VistaAndLaterRegisterXmlAndOlderWindowsTheStartupTaskOfVersion1) {
    FakePlatform platform;
    platform.major = 6;
    platform.minor = 0;
    EXPECT_EQ(RegisterNextStartTask(Program, Arguments), S_OK);
    EXPECT_EQ(platform.taskXml, NextStartTaskXml(L"Checks once after the restart whether the Velomar HD "
                                                 L"firmware update reached the drive.",
                                                 Program, Arguments));
    FindNextStartTask();
    RemoveNextStartTask();
    const std::wstring name = NextStartTaskName;
    EXPECT_EQ(platform.Events(), (Lines{L"TaskXml " + name, L"FindTask 2 " + name, L"RemoveTask 2 " + name}));

    FakePlatform xp;
    xp.major = 5;
    xp.minor = 1;
    xp.taskResult = E_ACCESSDENIED;
    EXPECT_EQ(RegisterNextStartTask(Program, Arguments), E_ACCESSDENIED);
    EXPECT_EQ(FindNextStartTask(), E_ACCESSDENIED);
    RemoveNextStartTask();
    EXPECT_TRUE(xp.taskXml.empty());
    EXPECT_EQ(xp.Events(), (Lines{L"TaskV1 " + name + L"|" + Program + L"|" + Arguments + L"|1800000",
                                  L"FindTask 1 " + name, L"RemoveTask 1 " + name}));
}

// Wine's 2.0 keeps a registered task under its name in the root folder and removes it again. Of the
// XML it keeps the description and the settings; it stores no boot trigger, principal or action
// (its file holds an empty <Triggers/>, <Principal> and <Exec/>), and it writes the description back
// without escaping it, so that a description holding "<" makes the stored task unreadable: the
// program's description holds none.
TEST(NextStartTaskUnderWine, Version2StoresTheTaskUnderItsNameWithItsSettingsAndRemovesIt) {
    const unique_com_init com = unique_com_init::Multithreaded();
    Platform& wine = CurrentPlatform();
    wine.RemoveTask(TaskSchedulerVersion::V2, NextStartTaskName);
    const std::wstring xml = NextStartTaskXml(L"Checks the update.", Program, Arguments);
    ASSERT_EQ(wine.RegisterTaskXml(NextStartTaskName, xml.c_str()), S_OK);
    EXPECT_EQ(wine.FindTask(TaskSchedulerVersion::V2, NextStartTaskName), S_OK);
    const std::wstring stored = StoredXml(NextStartTaskName);
    for (const wchar_t* part : {L"<Description>Checks the update.</Description>",
                                L"<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                                L"<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
                                L"<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
                                L"<ExecutionTimeLimit>PT30M</ExecutionTimeLimit>"})
        EXPECT_TRUE(Contains(stored, part)) << part << L"\n" << stored;
    EXPECT_EQ(wine.RegisterTaskXml(NextStartTaskName, xml.c_str()), S_OK) << "a second registration replaces";
    EXPECT_EQ(wine.RemoveTask(TaskSchedulerVersion::V2, NextStartTaskName), S_OK);
    EXPECT_EQ(wine.FindTask(TaskSchedulerVersion::V2, NextStartTaskName), S_FALSE);
    EXPECT_EQ(wine.RemoveTask(TaskSchedulerVersion::V2, NextStartTaskName), S_FALSE);
    EXPECT_TRUE(StoredXml(NextStartTaskName).empty());
    EXPECT_NE(wine.RegisterTaskXml(NextStartTaskName, L"<Task"), S_OK) << "XML that does not parse";
    EXPECT_EQ(wine.FindTask(TaskSchedulerVersion::V2, NextStartTaskName), S_FALSE);
}

// Wine's 1.0 saves the task as a .job file; read back through ITask, it holds the program, its
// arguments, no flags (so battery does not stop it), the time limit and one trigger at system start.
TEST(NextStartTaskUnderWine, Version1SavesTheStartupTaskAndRemovesIt) {
    const unique_com_init com = unique_com_init::Multithreaded();
    Platform& wine = CurrentPlatform();
    wine.RemoveTask(TaskSchedulerVersion::V1, NextStartTaskName);
    ASSERT_EQ(wine.RegisterStartupTaskV1(NextStartTaskName, Program.c_str(), Arguments.c_str(), 1800000),
              S_OK);
    EXPECT_EQ(wine.FindTask(TaskSchedulerVersion::V1, NextStartTaskName), S_OK);
    {
        com_ptr<ITaskScheduler> scheduler;
        com_ptr<ITask> task;
        ASSERT_EQ(CoCreateInstance(CLSID_CTaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskScheduler,
                                   reinterpret_cast<void**>(scheduler.put())),
                  S_OK);
        ASSERT_EQ(scheduler->Activate(NextStartTaskName, IID_ITask, reinterpret_cast<IUnknown**>(task.put())),
                  S_OK);
        LPWSTR text = nullptr;
        ASSERT_EQ(task->GetApplicationName(&text), S_OK);
        EXPECT_EQ(std::wstring(text), Program);
        CoTaskMemFree(text);
        ASSERT_EQ(task->GetParameters(&text), S_OK);
        EXPECT_EQ(std::wstring(text), Arguments);
        CoTaskMemFree(text);
        DWORD flags = 1, limit = 0;
        EXPECT_EQ(task->GetFlags(&flags), S_OK);
        EXPECT_EQ(flags & (TASK_FLAG_DONT_START_IF_ON_BATTERIES | TASK_FLAG_KILL_IF_GOING_ON_BATTERIES), 0u);
        EXPECT_EQ(task->GetMaxRunTime(&limit), S_OK);
        EXPECT_EQ(limit, 1800000u);
        WORD triggers = 0;
        EXPECT_EQ(task->GetTriggerCount(&triggers), S_OK);
        EXPECT_EQ(triggers, 1);
        com_ptr<ITaskTrigger> trigger;
        TASK_TRIGGER atStart = {};
        atStart.cbTriggerSize = sizeof atStart;
        ASSERT_EQ(task->GetTrigger(0, trigger.put()), S_OK);
        ASSERT_EQ(trigger->GetTrigger(&atStart), S_OK);
        EXPECT_EQ(atStart.TriggerType, TASK_EVENT_TRIGGER_AT_SYSTEMSTART);
    }
    EXPECT_EQ(wine.RegisterStartupTaskV1(NextStartTaskName, Program.c_str(), L"/v", 1800000), S_OK)
        << "a second registration replaces the first";
    EXPECT_EQ(wine.RemoveTask(TaskSchedulerVersion::V1, NextStartTaskName), S_OK);
    EXPECT_EQ(wine.FindTask(TaskSchedulerVersion::V1, NextStartTaskName), S_FALSE);
    EXPECT_EQ(wine.RemoveTask(TaskSchedulerVersion::V1, NextStartTaskName), S_FALSE);
}

namespace {
const wchar_t UnitTestsVersionKey[] = L"Software\\Wine\\AppDefaults\\tarnwick_unit_tests.exe";

// Runs one disabled test of this program in a child process that Wine tells it runs on version
// (winxp, win7...); its exit code, or -1 when it did not start.
DWORD RunAsWindowsVersion(const wchar_t* version, const wchar_t* test) {
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, UnitTestsVersionKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS ||
        RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        return static_cast<DWORD>(-1);
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command =
        std::wstring(L"\"") + self + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    DWORD exitCode = static_cast<DWORD>(-1);
    if (CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
        unique_process_information child;
        child.take(started);
        WaitForSingleObject(child.process.get(), 60000);
        GetExitCodeProcess(child.process.get(), &exitCode);
    }
    RegDeleteValueW(key.get(), L"Version");
    return exitCode;
}
} // namespace

// Run by the next test in a process that Wine tells it runs on Windows XP: there the task goes to
// Wine's real Task Scheduler 1.0 (a .job file), not to 2.0.
TEST(NextStartTaskUnderWine, DISABLED_OnWindowsXp) {
    const unique_com_init com = unique_com_init::Multithreaded();
    ASSERT_EQ(ReadWindowsVersion().dwMajorVersion, 5u);
    ASSERT_EQ(ReadWindowsVersion().dwMinorVersion, 1u);
    ASSERT_EQ(NextStartTaskScheduler(), TaskSchedulerVersion::V1);
    RemoveNextStartTask();
    ASSERT_EQ(RegisterNextStartTask(Program, Arguments), S_OK);
    EXPECT_EQ(FindNextStartTask(), S_OK);
    EXPECT_EQ(CurrentPlatform().FindTask(TaskSchedulerVersion::V2, NextStartTaskName), S_FALSE);
    EXPECT_EQ(RemoveNextStartTask(), S_OK);
    EXPECT_EQ(FindNextStartTask(), S_FALSE);
}

TEST(NextStartTaskUnderWine, OnWindowsXpTheTaskGoesToVersion1AndOnWindows7ToVersion2) {
    EXPECT_EQ(RunAsWindowsVersion(L"winxp", L"NextStartTaskUnderWine.DISABLED_OnWindowsXp"), 0u);
    EXPECT_EQ(RunAsWindowsVersion(L"win7", L"NextStartTaskUnderWine.DISABLED_OnWindowsXp"), 1u)
        << "the child's check of the version must be able to fail";
}
