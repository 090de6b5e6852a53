#pragma once
// The worker thread: runs the whole installation on WM_SETUP_START, reports every line to the
// dialog and to the installer log.
#include "framework/Thread.h"

#include <cstdint>
#include <string>

constexpr wchar_t LogFileName[] = L"VelomarHDDInstallerLog.txt";
// One log entry, its CR LF included, holds at most this many UTF-16 code units; longer texts go on
// in further entries.
constexpr size_t MaxLogEntry = 255;
// The pause after each status and detail line of a visible run, so that it can be read.
constexpr DWORD StatusPause = 800;

class SetupThread : public Thread {
  public:
    // Opens a fresh log in the working directory.
    SetupThread();
    ~SetupThread() override;

    void PostStatus(std::wstring text);
    void PostDetail(std::wstring text);
    void ReportError(std::wstring message, int32_t code, BYTE isError);
    void WriteLog(std::wstring text);

    // The install sequence. lParam: the heap block with the dialog's window, owned from here on.
    virtual void OnStartInstall(WPARAM wParam, LPARAM lParam);

    // Setup.exe, held open from its extraction until the installer has started, so that nobody
    // can change or replace it in between.
    void HoldInstaller(HANDLE file);
    HANDLE TakeInstallerHold();
    void ReleaseInstaller();

    HWND m_hDialog = nullptr;
    HANDLE m_logFile = INVALID_HANDLE_VALUE;
    BOOL m_bLogOpen = FALSE;
    BOOL m_bReboot = FALSE;
    BOOL m_bSilent = FALSE;
    HANDLE m_hInstallerHold = INVALID_HANDLE_VALUE;

  protected:
    BOOL InitInstance() override { return TRUE; }
    const ThreadMessageEntry* GetMessageTable(size_t& count) const override;

  private:
    void OpenLog();
    void CloseLog();
    void PostLine(UINT message, std::wstring text);
    void RunSequence();
};
