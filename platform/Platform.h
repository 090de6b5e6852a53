#pragma once
// The few platform services that no test machine can steer for real (a battery, a failing token,
// a refused reboot, waits that must not take their time...). The program uses these Win32
// implementations; unit tests install a subclass with fakes.
#include <windows.h>

#include <wbemcli.h>

#include <string>
#include <vector>

// Task Scheduler 1.0 (ITaskScheduler: Windows 2000 and XP) or 2.0 (ITaskService: Vista and later).
enum class TaskSchedulerVersion { V1, V2 };

class Platform {
  public:
    virtual ~Platform() = default;

    // Time.
    virtual void Pause(DWORD milliseconds);
    virtual DWORD WaitForProcess(HANDLE process, DWORD milliseconds);
    // CreateProcessW without security attributes, inherited handles or an environment of its own.
    virtual BOOL StartProcess(const wchar_t* application, wchar_t* commandLine, DWORD flags,
                              const wchar_t* directory, STARTUPINFOW* startup, PROCESS_INFORMATION* started);

    // The machine and the process.
    virtual DWORD ReadCurrentDirectory(DWORD size, wchar_t* buffer);
    virtual BOOL ReadVersion(OSVERSIONINFOW* info);
    virtual BOOL IsTokenMember(PSID group, BOOL* isMember);
    virtual BOOL ReadPowerStatus(SYSTEM_POWER_STATUS* status);
    virtual HRESULT CreateLocator(IWbemLocator** locator);

    // Files: WriteFile at the file's position; a read-only mapping of the whole file and a view of it.
    virtual BOOL WriteToFile(HANDLE file, const void* bytes, DWORD size, DWORD* written);
    virtual HANDLE CreateReadOnlyMapping(HANDLE file);
    virtual const void* MapReadOnlyView(HANDLE mapping);
    // What an open file is: its attributes (a reparse point?) and how many names it has.
    virtual BOOL ReadFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);
    // The owner and DACL of an open file or folder (opened with READ_CONTROL), in a descriptor for
    // LocalFree; returns 0 or the Windows error.
    virtual DWORD ReadSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor);

    // Restarting Windows. AdjustPrivileges returns GetLastError as it stands right after
    // AdjustTokenPrivileges.
    virtual BOOL OpenOwnProcessToken(DWORD access, HANDLE* token);
    virtual DWORD AdjustPrivileges(HANDLE token, TOKEN_PRIVILEGES* privileges);
    virtual BOOL RequestReboot(UINT flags, DWORD reason);
    // False for a caller that no user sees: SYSTEM, or a window station that is not visible (a
    // service, a deployment engine's session).
    virtual bool IsInteractiveSession();
    // Restarts through InitiateSystemShutdownEx (InitiateSystemShutdown where it is missing).
    virtual BOOL InitiateRestart(DWORD reason);

    virtual int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type);

    // DLL search. True when Windows searches the system folder only from now on
    // (SetDefaultDllDirectories, looked up at run time); false where it cannot.
    virtual bool SearchSystemFolderOnly();
    // Loads a DLL by full path, its own imports searched from its folder first; kept loaded.
    virtual HMODULE LoadDllByPath(const std::wstring& path);

    // The run lock's objects (platform/RunLock.h). A private namespace bounded by the
    // Administrators group, made with attributes or opened where it exists: null with the last
    // error where it cannot be, ERROR_CALL_NOT_IMPLEMENTED where Windows has none (before Vista) or
    // only stubs (Wine).
    virtual HANDLE CreateAdministratorsNamespace(SECURITY_ATTRIBUTES* attributes, const wchar_t* prefix);
    virtual HANDLE OpenAdministratorsNamespace(const wchar_t* prefix);
    virtual void ClosePrivateNamespace(HANDLE space);
    // CreateMutexW, not owned.
    virtual HANDLE CreateNamedMutex(SECURITY_ATTRIBUTES* attributes, const wchar_t* name);
    // Takes a mutex without waiting: WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT or WAIT_FAILED.
    virtual DWORD TryTakeMutex(HANDLE mutex);

    // Task Scheduler through COM (platform/TaskScheduler.cpp), tasks in its root folder. 2.0 registers
    // task XML, replacing a task of that name; 1.0 saves a task that runs program at every start of
    // Windows as Local System. Find answers S_OK where the task exists and S_FALSE where it does not;
    // Remove answers S_FALSE where there was none.
    virtual HRESULT RegisterTaskXml(const wchar_t* name, const wchar_t* xml);
    virtual HRESULT RegisterStartupTaskV1(const wchar_t* name, const wchar_t* program,
                                          const wchar_t* arguments, DWORD maxRunMilliseconds);
    virtual HRESULT FindTask(TaskSchedulerVersion version, const wchar_t* name);
    virtual HRESULT RemoveTask(TaskSchedulerVersion version, const wchar_t* name);

    // One event in the Application log from source (RegisterEventSourceW, ReportEventW).
    virtual BOOL WriteEvent(const wchar_t* source, WORD type, DWORD messageId, WORD count,
                            const wchar_t** strings);
};

// The platform in use: the Win32 one unless a test installed another.
Platform& CurrentPlatform();
// Installs a platform (null: the Win32 one) and returns the one it replaces, for the caller to
// put back.
Platform* SetCurrentPlatform(Platform* platform);

// The executable's file name without folder and extension.
std::wstring ApplicationName();

// The Windows version as the platform reports it; version 0.0 when it cannot be read.
OSVERSIONINFOW ReadWindowsVersion();
// The account the process runs as: its token's user SID, empty when it cannot be read.
std::vector<BYTE> ProcessUserSid();
