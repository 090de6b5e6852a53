#pragma once
// The program's only window: shows what the worker posts, the outcome, and ends with the exit code.
#include "framework/Dialog.h"

#include <cstdint>
#include <string>

class CommandLine;
class SetupThread;
struct SetupException;

// The exit code when the worker thread cannot be started.
constexpr int32_t WorkerNotStarted = 105;

// The worker of this process, set when the dialog starts it.
extern SetupThread* g_pSetupThread;

class TarnwickDlg : public Dialog {
  public:
    TarnwickDlg();

    HICON m_hIcon;
    BOOL m_bSilent = FALSE;
    BOOL m_bReboot = FALSE;
    BOOL m_bCheckOnly = FALSE;
    int32_t m_nResult = 0;
    BOOL m_bRestarting = FALSE;
    // What the worker has reported: OK acts only after a success, Close only after an outcome.
    // Checked: a check-only run whose checks all passed.
    enum class RunState { Running, Failed, Succeeded, Checked } m_runState = RunState::Running;

  protected:
    BOOL OnInitDialog() override;
    const DialogMessageEntry* GetMessageTable(size_t& count) const override;

    // Seams for tests: the command line, and making and starting the worker.
    virtual void ParseCommandLine(CommandLine& commandLine);
    virtual SetupThread* NewWorker();
    virtual bool StartWorker(SetupThread& worker);

    INT_PTR OnPaint(WPARAM, LPARAM);
    INT_PTR OnWindowPosChanging(WPARAM, LPARAM lParam);
    INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
    INT_PTR OnStatusText(WPARAM, LPARAM lParam);
    INT_PTR OnDetailText(WPARAM, LPARAM lParam);
    INT_PTR OnInstallFailed(WPARAM, LPARAM lParam);
    INT_PTR OnHideDialog(WPARAM, LPARAM);
    INT_PTR OnShowDialog(WPARAM, LPARAM);
    INT_PTR OnInstallSucceeded(WPARAM, LPARAM);
    INT_PTR OnInstallCancelled(WPARAM, LPARAM);
    // Esc, and whatever else asks the dialog to close.
    void OnCancel() override;
    INT_PTR OnOkClicked(WPARAM, LPARAM);
    INT_PTR OnCloseClicked(WPARAM, LPARAM);

  private:
    // OK after a success: counts down, ends the dialog with IDOK and asks Windows to reboot.
    void RestartWithCountdown();
    void ShowHint(const wchar_t* text);
    void EnableButton(int id, BOOL enable);
};
