#pragma once
// Drives the real Tarnwick.exe under Wine as a user or a deployment tool would: starts it in a
// working directory of its own, finds its window, reads its controls, presses its buttons, and
// collects the exit code, the log and the files it left.
#include "TestFiles.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// A Unix path from the test's environment as Wine sees it (Z: is the Unix root).
std::wstring WindowsPath(const char* unixPath);
std::wstring Env(const wchar_t* name);
// A new folder under the temporary folder: <prefix>-<process id>-<counter>.
std::wstring NewScratchFolder(const wchar_t* prefix);

// Removes the result record (HKLM\SOFTWARE\Velomar\HD Firmware Update, the native view), so that no
// earlier test's outcome decides what a run does.
void DeleteResultRecord();

// Sets the Windows version that Wine reports to Tarnwick.exe ("nt40", "winxp", "win7"...).
void SetWindowsVersion(const wchar_t* version);

// Registers the fake WMI provider over a scenario for as long as it lives; Wine's own otherwise.
class FakeWmiScenario {
  public:
    FakeWmiScenario(const std::wstring& directory, const std::string& scenario);
    ~FakeWmiScenario();

  private:
    std::wstring m_original;
};

// Answers the end of the session with "no", so that a reboot request ends no process and the
// program is seen to end by itself.
class SessionEndBlocker {
  public:
    // onQuery, if given, runs on the blocker's thread each time the end of the session is asked.
    explicit SessionEndBlocker(std::function<void()> onQuery = nullptr);
    ~SessionEndBlocker();

  private:
    static DWORD WINAPI Run(void* self);
    std::function<void()> m_onQuery;
    HANDLE m_thread = nullptr;
    HANDLE m_ready = nullptr;
    DWORD m_threadId = 0;
};

struct DialogView {
    std::wstring status, detail, hint;
    bool hintVisible = false, okEnabled = false, closeEnabled = false, visible = false;
};

class ProgramRun {
  public:
    // Starts Tarnwick.exe (or program, a copy of it) with arguments in directory; restricted: without
    // administrator rights.
    ProgramRun(const std::wstring& directory, const std::wstring& arguments, bool restricted = false,
               const std::wstring& program = L"");
    ~ProgramRun();

    bool Started() const { return m_process != nullptr; }
    // The program's dialog (visible or not), or null when it has none (yet).
    HWND Dialog() const;
    HWND WaitForDialog(DWORD milliseconds = 20000) const;
    // A top-level window of the program with this title (a message box), or null.
    HWND WaitForWindow(const wchar_t* title, DWORD milliseconds = 20000) const;
    DialogView Read() const;
    // Polls until the status line equals text; every distinct status line seen on the way is kept.
    bool WaitForStatus(const std::wstring& text, DWORD milliseconds = 60000);
    // Polls until the dialog offers Close (the outcome is shown) or the program has ended.
    bool WaitForOutcome(DWORD milliseconds = 120000);
    const std::vector<std::wstring>& StatusLinesSeen() const { return m_statusSeen; }
    bool EverVisible() const { return m_everVisible; }
    void Press(int id) const;
    void PressEscape() const;
    // Posts a message to the dialog as another program could.
    void Post(UINT message, WPARAM wParam, LPARAM lParam) const;
    // Ends the program at once, as a deployment engine or the power button would.
    void Kill();
    // The exit code, or STILL_ACTIVE when it has not ended in time (it is then killed).
    DWORD WaitForExit(DWORD milliseconds = 60000);

  private:
    void Observe();
    HANDLE m_process = nullptr;
    DWORD m_processId = 0;
    std::vector<std::wstring> m_statusSeen;
    bool m_everVisible = false;
};
