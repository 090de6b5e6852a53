#pragma once
// Shared pieces of the unit tests: a platform with fakes, a scratch working directory, a window
// that collects what the worker posts, runs of the sequence and of its steps, and file helpers.
#include "TestFiles.h"
#include "Transcripts.h"
#include "platform/Platform.h"
#include "report/SetupContext.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Heap blocks alive in the test process (operator new minus operator delete).
extern std::atomic<long> g_liveAllocations;

class FakePlatform : public Platform {
  public:
    FakePlatform() : m_replaced(SetCurrentPlatform(this)) {}
    ~FakePlatform() override { SetCurrentPlatform(m_replaced); }

    // Steering; set before the code under test runs.
    DWORD major = 6, minor = 1;
    BOOL versionResult = TRUE;
    BOOL tokenMember = TRUE, tokenResult = TRUE;
    BYTE acLineStatus = 1;
    BOOL powerResult = TRUE;
    bool failCurrentDirectory = false;
    std::wstring currentDirectory; // when set, reported in place of the real one
    bool fakeWait = false;
    DWORD waitResult = WAIT_OBJECT_0;
    int failWriteOfCall = 0;      // 1-based: which WriteToFile fails; 0: none
    DWORD writeError = ERROR_CRC; // the failed write's last error
    BOOL openTokenResult = TRUE;
    DWORD adjustError = ERROR_SUCCESS;
    bool interactive = true;        // whether a user sees the session
    BOOL rebootResult = TRUE;       // what both ways of restarting answer
    DWORD addedFileAttributes = 0;  // reported on top of what an open file really has
    DWORD refuseExtendedStart = 0;  // when set, a start with an attribute list fails with this error
    std::wstring securitySddl;      // when set, every file's and folder's owner and DACL
    bool systemFolderSearch = true; // whether SetDefaultDllDirectories is there to restrict the search
    bool fakeDllLoads = false;      // record "LoadDll <path>" without loading
    HRESULT taskResult = S_OK;      // what the Task Scheduler calls answer
    std::wstring taskXml;           // the XML of the last 2.0 registration
    BOOL eventResult = TRUE;        // what WriteEvent answers (setting ERROR_ACCESS_DENIED when FALSE)
    // Each process start: its creation flags and current directory.
    std::vector<std::pair<DWORD, std::wstring>> starts;
    // Called on every pause, on the pausing thread.
    std::function<void(DWORD)> onPause;
    // Called as Windows is asked to restart, before it answers.
    std::function<void()> onReboot;
    // Called before each write of a package file's bytes.
    std::function<void()> onWrite;
    // The run lock: the error with which making and opening the namespace fail (0: they succeed),
    // the mutex's (0: a real unnamed mutex), and what taking it answers.
    DWORD createNamespaceError = ERROR_CALL_NOT_IMPLEMENTED, openNamespaceError = 0, createMutexError = 0;
    DWORD takeMutexResult = WAIT_OBJECT_0;

    // What happened, in order: "Pause 800", "OpenToken 40", "Adjust 2", "Reboot 2 2147680258", "MessageBox
    // ...", "CreateNamespace Tarnwick D:P(...) inherit 0", "CreateMutex name D:P(...) inherit 0"...
    std::vector<std::wstring> Events();
    std::vector<DWORD> Pauses();

    void Pause(DWORD milliseconds) override;
    DWORD ReadCurrentDirectory(DWORD size, wchar_t* buffer) override;
    BOOL ReadVersion(OSVERSIONINFOW* info) override;
    BOOL IsTokenMember(PSID group, BOOL* isMember) override;
    BOOL ReadPowerStatus(SYSTEM_POWER_STATUS* status) override;
    HRESULT CreateLocator(IWbemLocator** locator) override;
    DWORD WaitForProcess(HANDLE process, DWORD milliseconds) override;
    BOOL StartProcess(const wchar_t* application, wchar_t* commandLine, DWORD flags, const wchar_t* directory,
                      STARTUPINFOW* startup, PROCESS_INFORMATION* started) override;
    BOOL WriteToFile(HANDLE file, const void* bytes, DWORD size, DWORD* written) override;
    BOOL ReadFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) override;
    DWORD ReadSecurity(HANDLE object, PSECURITY_DESCRIPTOR* descriptor) override;
    bool SearchSystemFolderOnly() override;
    HMODULE LoadDllByPath(const std::wstring& path) override;
    BOOL OpenOwnProcessToken(DWORD access, HANDLE* token) override;
    DWORD AdjustPrivileges(HANDLE token, TOKEN_PRIVILEGES* privileges) override;
    BOOL RequestReboot(UINT flags, DWORD reason) override;
    bool IsInteractiveSession() override { return interactive; }
    BOOL InitiateRestart(DWORD reason) override;
    int ShowMessageBox(const wchar_t* text, const wchar_t* caption, UINT type) override;
    HANDLE CreateAdministratorsNamespace(SECURITY_ATTRIBUTES* attributes, const wchar_t* prefix) override;
    HANDLE OpenAdministratorsNamespace(const wchar_t* prefix) override;
    void ClosePrivateNamespace(HANDLE space) override;
    HANDLE CreateNamedMutex(SECURITY_ATTRIBUTES* attributes, const wchar_t* name) override;
    DWORD TryTakeMutex(HANDLE mutex) override;

    // Recorded as "TaskXml name", "TaskV1 name|program|arguments|ms", "FindTask 1|2 name", "RemoveTask
    // 1|2 name" and "Event type messageId|string|string|string".
    HRESULT RegisterTaskXml(const wchar_t* name, const wchar_t* xml) override;
    HRESULT RegisterStartupTaskV1(const wchar_t* name, const wchar_t* program, const wchar_t* arguments,
                                  DWORD maxRunMilliseconds) override;
    HRESULT FindTask(TaskSchedulerVersion version, const wchar_t* name) override;
    HRESULT RemoveTask(TaskSchedulerVersion version, const wchar_t* name) override;
    BOOL WriteEvent(const wchar_t* source, WORD type, DWORD messageId, WORD count,
                    const wchar_t** strings) override;

  private:
    void Record(std::wstring event);
    Platform* m_replaced;
    int m_writes = 0;
    std::mutex m_lock;
    std::vector<std::wstring> m_events;
};

// A fresh directory under the temporary folder, made the current directory for its lifetime.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

  private:
    std::wstring m_path;
    std::wstring m_previous;
};

// What the worker posted to its dialog, in order. Each entry: "S text", "D text",
// "F code error text", "OK" or "Cancelled".
class MessageSink {
  public:
    MessageSink();
    ~MessageSink();
    HWND Window() const { return m_hwnd; }
    // Handles every message that is waiting and returns all collected so far.
    std::vector<std::wstring> Collect();

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND m_hwnd;
    std::vector<std::wstring> m_lines;
};

// A test on the fake platform in a scratch working directory. The stand-in installer records its
// runs in record.txt there, and succeeds unless TARNWICK_STANDIN_SETUP tells it otherwise.
class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::string Log() const { return ReadBytes(directory.File(LogFileName)); }
    std::string Record() const { return ReadBytes(directory.File(L"record.txt")); }

    FakePlatform platform;
    ScratchDirectory directory;
};

struct SequenceRun {
    Lines posted;
    std::string log; // as it stands when the sequence has ended, still open
};
// Runs the whole sequence on this thread with a sink window as the dialog.
SequenceRun RunSequence(bool silent = false, bool reboot = false);

class SetupThread;
struct StepOutcome {
    Lines posted;
    std::wstring failure; // "code isError text", empty when nothing was raised
};
// Runs one step of the sequence on worker with a sink window as the dialog.
StepOutcome RunStep(SetupThread& worker, void (*step)(SetupContext&));

// The platform events of the countdown and the reboot request; linePauses: the restart's lines
// pause as a visible run's lines do.
Lines RestartEvents(bool linePauses);

// Loads a fake WMI scenario or fails the test.
void UseScenario(const std::wstring& text);
