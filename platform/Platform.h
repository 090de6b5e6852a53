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

    // The machine and the process.
    virtual DWORD ReadCurrentDirectory(DWORD size, wchar_t* buffer);
    virtual BOOL ReadVersion(OSVERSIONINFOW* info);
    virtual BOOL IsTokenMember(PSID group, BOOL* isMember);
    virtual BOOL ReadPowerStatus(SYSTEM_POWER_STATUS* status);
    virtual HRESULT CreateLocator(IWbemLocator** locator);

    // Files through mappings: a read-write mapping of size bytes of file and a writable view of all
    // of it; a read-only mapping of the whole file and a view of it.
    virtual HANDLE CreateWritableMapping(HANDLE file, DWORD size);
    virtual void* MapWritableView(HANDLE mapping);
    virtual HANDLE CreateReadOnlyMapping(HANDLE file);
    virtual const void* MapReadOnlyView(HANDLE mapping);
    // What an open file is: its attributes (a reparse point?) and how many names it has.
    virtual BOOL ReadFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* information);

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
