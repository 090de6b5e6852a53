#include "ui/TarnwickDlg.h"

#include "framework/Application.h"
#include "install/SetupThread.h"
#include "platform/Platform.h"
#include "report/Messages.h"
#include "report/SetupException.h"
#include "resources/resource.h"
#include "restart/Restart.h"
#include "ui/CommandLine.h"

#include <cwchar>
#include <memory>

SetupThread* g_pSetupThread = nullptr;

TarnwickDlg::TarnwickDlg()
    : Dialog(IDD_TARNWICK_DIALOG),
      m_hIcon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME))) {}

const DialogMessageEntry* TarnwickDlg::GetMessageTable(size_t& count) const {
    static const DialogMessageEntry table[] = {
        DIALOG_MESSAGE(WM_PAINT, &TarnwickDlg::OnPaint),
        DIALOG_MESSAGE(WM_WINDOWPOSCHANGING, &TarnwickDlg::OnWindowPosChanging),
        DIALOG_MESSAGE(WM_QUERYDRAGICON, &TarnwickDlg::OnQueryDragIcon),
        DIALOG_MESSAGE(WM_SETUP_STATUS, &TarnwickDlg::OnStatusText),
        DIALOG_MESSAGE(WM_SETUP_DETAIL, &TarnwickDlg::OnDetailText),
        DIALOG_MESSAGE(WM_SETUP_FAILED, &TarnwickDlg::OnInstallFailed),
        DIALOG_MESSAGE(WM_SETUP_HIDE, &TarnwickDlg::OnHideDialog),
        DIALOG_MESSAGE(WM_SETUP_SHOW, &TarnwickDlg::OnShowDialog),
        DIALOG_MESSAGE(WM_SETUP_SUCCEEDED, &TarnwickDlg::OnInstallSucceeded),
        DIALOG_MESSAGE(WM_SETUP_CANCELLED, &TarnwickDlg::OnInstallCancelled),
        DIALOG_COMMAND(IDOK, &TarnwickDlg::OnOkClicked),
        DIALOG_COMMAND(IDCLOSE, &TarnwickDlg::OnCloseClicked),
    };
    count = sizeof(table) / sizeof(table[0]);
    return table;
}

void TarnwickDlg::ParseCommandLine(CommandLine& commandLine) {
    if (Application* application = GetApplication())
        application->ParseCommandLine(commandLine);
}

SetupThread* TarnwickDlg::NewWorker() {
    return new SetupThread;
}

bool TarnwickDlg::StartWorker(SetupThread& worker) {
    return worker.CreateThread();
}

BOOL TarnwickDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // A worker that runs deletes itself when its thread ends; one that could not start is ours.
    std::unique_ptr<SetupThread> unstarted(NewWorker());
    SetupThread* worker = unstarted.get();
    const bool started = StartWorker(*worker);
    const DWORD startError = started ? 0 : GetLastError();
    if (started)
        unstarted.release();
    g_pSetupThread = started ? worker : nullptr;

    CommandLine commandLine;
    ParseCommandLine(commandLine);
    m_bReboot = worker->m_bReboot = commandLine.m_bRebootSwitch == 1 ? 1 : 0;
    m_bSilent = worker->m_bSilent = commandLine.m_bSilentSwitch == 1 ? 1 : 0;
    m_bCheckOnly = worker->m_bCheckOnly = commandLine.m_bCheckOnlySwitch == 1 ? 1 : 0;

    std::unique_ptr<HWND> block(new HWND(m_hWnd));
    if (started && worker->PostThreadMessage(WM_SETUP_START, 0, reinterpret_cast<LPARAM>(block.get()))) {
        block.release(); // the worker's now
        return TRUE;
    }
    block.reset();
    g_pSetupThread = nullptr; // no run to cancel or wait for

    // Without a worker nothing would ever happen: report it like any failure, through the log and
    // the failure message, so that a silent run ends too.
    wchar_t message[128];
    swprintf(message, 128, L"The installation could not be started. Error = %u",
             static_cast<unsigned>(startError != 0 ? startError : GetLastError()));
    worker->m_hDialog = m_hWnd;
    worker->ReportError(message, WorkerNotStarted, 1);
    return TRUE;
}

INT_PTR TarnwickDlg::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic(m_hWnd))
        return FALSE;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &paint);
    return TRUE;
}

INT_PTR TarnwickDlg::OnWindowPosChanging(WPARAM, LPARAM lParam) {
    if (m_bSilent)
        reinterpret_cast<WINDOWPOS*>(lParam)->flags &= ~SWP_SHOWWINDOW;
    return FALSE;
}

INT_PTR TarnwickDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<INT_PTR>(m_hIcon);
}

INT_PTR TarnwickDlg::OnStatusText(WPARAM, LPARAM lParam) {
    const std::unique_ptr<std::wstring> line = TakeRecord<std::wstring>(lParam);
    if (!line)
        return TRUE;
    SetDlgItemText(IDC_STATUS_TEXT, line->c_str());
    SetDlgItemText(IDC_DETAIL_TEXT, L"");
    return TRUE;
}

INT_PTR TarnwickDlg::OnDetailText(WPARAM, LPARAM lParam) {
    const std::unique_ptr<std::wstring> line = TakeRecord<std::wstring>(lParam);
    if (!line)
        return TRUE;
    SetDlgItemText(IDC_DETAIL_TEXT, line->c_str());
    return TRUE;
}

INT_PTR TarnwickDlg::OnInstallFailed(WPARAM, LPARAM lParam) {
    const std::unique_ptr<SetupException> failure = TakeRecord<SetupException>(lParam);
    if (!failure)
        return TRUE;
    m_runState = RunState::Failed;
    m_nResult = failure->Code;
    if (m_bSilent) {
        EndDialog(failure->Code);
        return TRUE;
    }
    EnableButton(IDCLOSE, TRUE);
    if (!m_bRestarting)
        ShowHint(L"Press the \"Close\" button to exit.");
    if (failure->IsError) {
        SetDlgItemText(IDC_STATUS_TEXT, L"An error occurred...");
        SetDlgItemText(IDC_DETAIL_TEXT, failure->Message.c_str());
    } else {
        SetDlgItemText(IDC_STATUS_TEXT, failure->Message.c_str());
        SetDlgItemText(IDC_DETAIL_TEXT, L"");
    }
    return TRUE;
}

INT_PTR TarnwickDlg::OnHideDialog(WPARAM, LPARAM) {
    ShowWindow(m_hWnd, SW_HIDE);
    return TRUE;
}

INT_PTR TarnwickDlg::OnShowDialog(WPARAM, LPARAM) {
    if (!m_bSilent)
        ShowWindow(m_hWnd, SW_SHOW);
    return TRUE;
}

INT_PTR TarnwickDlg::OnInstallSucceeded(WPARAM, LPARAM) {
    if (!TakeSucceeded())
        return TRUE;
    if (m_bCheckOnly) {
        // The checks passed; the worker's last line says so. Nothing to restart into.
        m_runState = RunState::Checked;
        if (m_bSilent) {
            EndDialog(0);
            return TRUE;
        }
        EnableButton(IDCLOSE, TRUE);
        ShowHint(L"Press the \"Close\" button to exit.");
        return TRUE;
    }
    m_runState = RunState::Succeeded;
    if (!m_bSilent) {
        SetDlgItemText(IDC_STATUS_TEXT, L"The installation completed successfully.");
        SetDlgItemText(IDC_DETAIL_TEXT, L"");
    }
    if (m_bReboot) {
        // The worker has already asked Windows to restart; a restart that did not start is not
        // reported as started.
        CurrentPlatform().Pause(3000);
        EndDialog(RebootInitiated() ? m_nResult : ERROR_SUCCESS_REBOOT_REQUIRED);
    } else if (!m_bSilent) {
        SetDlgItemText(IDC_DETAIL_TEXT, L"You need to reboot for this update to take effect.");
        EnableButton(IDOK, TRUE);
        EnableButton(IDCLOSE, TRUE);
        if (!m_bRestarting)
            ShowHint(L"Press \"OK\" to reboot now or \"Close\" to exit.");
    } else if (m_nResult == 0) {
        EndDialog(ERROR_SUCCESS_REBOOT_REQUIRED);
    }
    return TRUE;
}

INT_PTR TarnwickDlg::OnOkClicked(WPARAM, LPARAM) {
    // Only a successful run restarts, whatever sent the command: the button is disabled before.
    if (m_bRestarting || m_runState != RunState::Succeeded)
        return TRUE;
    EnableButton(IDOK, FALSE);
    EnableButton(IDCLOSE, FALSE);
    ShowWindow(GetDlgItem(IDC_HINT_TEXT), SW_HIDE);
    RestartWithCountdown();
    return TRUE;
}

void TarnwickDlg::RestartWithCountdown() {
    m_bRestarting = TRUE;
    SetDlgItemText(IDC_STATUS_TEXT, L"Restarting Windows...");
    for (int seconds = RestartCountdownSeconds; seconds >= 1; --seconds) {
        SetDlgItemText(IDC_DETAIL_TEXT, CountdownLine(seconds).c_str());
        // The thread handles no messages while it counts down: paint the line now.
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        CurrentPlatform().Pause(1000);
    }
    EndDialog(IDOK);
    if (!RequestReboot(IDOK))
        EndDialog(ERROR_SUCCESS_REBOOT_REQUIRED); // installed; the restart is still to come
}

void TarnwickDlg::OnCancel() {
    // Esc abandons only what can be abandoned. Once the run has an outcome, it ends as ever.
    if (m_runState != RunState::Running || g_pSetupThread == nullptr) {
        EndDialog(IDCANCEL);
        return;
    }
    switch (g_pSetupThread->Cancel()) {
    case RunStage::Checking: // nothing written yet
        EndDialog(IDCANCEL);
        break;
    case RunStage::CountingDown: // the update is staged; the worker does not restart
        m_runState = RunState::Succeeded;
        EndDialog(IDCANCEL);
        break;
    default:
        // Extracting: the worker removes what it wrote and then posts WM_SETUP_CANCELLED. The
        // installer and the restart request cannot be abandoned: the key is dropped.
        break;
    }
}

INT_PTR TarnwickDlg::OnInstallCancelled(WPARAM, LPARAM) {
    if (TakeCancelled())
        EndDialog(IDCANCEL);
    return TRUE;
}

INT_PTR TarnwickDlg::OnCloseClicked(WPARAM, LPARAM) {
    // While the run goes on there is no outcome to end with (Esc abandons it instead).
    if (m_runState == RunState::Running)
        return TRUE;
    if (m_runState == RunState::Checked)
        EndDialog(0);
    else
        EndDialog(m_nResult != 0 ? m_nResult : ERROR_SUCCESS_REBOOT_REQUIRED);
    return TRUE;
}

void TarnwickDlg::ShowHint(const wchar_t* text) {
    ShowWindow(GetDlgItem(IDC_HINT_TEXT), SW_SHOW);
    SetDlgItemText(IDC_HINT_TEXT, text);
}

void TarnwickDlg::EnableButton(int id, BOOL enable) {
    EnableWindow(GetDlgItem(id), enable);
}
