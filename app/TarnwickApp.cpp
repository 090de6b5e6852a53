#include "app/TarnwickApp.h"

#include "app/RunJournal.h"
#include "app/Verification.h"
#include "core/Outcomes.h"
#include "install/SetupThread.h"
#include "platform/Platform.h"
#include "platform/RunLock.h"
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

namespace {
// How long the end of the program waits for the worker's run to end.
constexpr DWORD WorkerEndWait = 10000;

constexpr wchar_t AnotherRunText[] = L"Another run of the Velomar HD firmware update is in progress on this "
                                     L"machine.\n\nWait until it has ended, then start this one again.";
constexpr wchar_t EarlierOnDriveText[] = L"The update is already on this drive.";
constexpr wchar_t EarlierAwaitingRestartText[] =
    L"The update is installed and waits for the restart of Windows.\n\nRestart Windows to finish it.";
} // namespace

std::wstring UsageText() {
    return L"Tarnwick.exe [/s] [/r] [/c] [/v] [/l=<file>] [/?]\n"
           L"\n"
           L"/s\tno window; the exit code tells the outcome\n"
           L"/r\trestart Windows after a success\n"
           L"/c\tcheck only: run the checks, install nothing\n"
           L"/v\tafter the restart: verify the update, no window\n"
           L"/l=<file>\n\twrite the history log to <file>\n"
           L"/?\tshow this text\n"
           L"Also -s or s. Switches are case-sensitive.\n"
           L"\n"
           L"Exit codes:\n" +
           UsageExitCodeLines() +
           L"\n"
           L"Run log: VelomarHDDInstallerLog.txt\n"
           L"History log: %ProgramData%\\Velomar\\\n\tHD Firmware Update\\Tarnwick.log\n"
           L"Result: HKLM\\SOFTWARE\\Velomar\\\n\tHD Firmware Update";
}

BOOL TarnwickApp::InitInstance() {
    CommandLine commandLine;
    ParseCommandLine(commandLine);
    if (commandLine.m_bUsageSwitch) {
        // The usage changes nothing: no log, no record, no run.
        if (commandLine.m_bSilentSwitch != 1)
            CurrentPlatform().ShowMessageBox(UsageText().c_str(), ApplicationName().c_str(),
                                             MB_OK | MB_ICONINFORMATION);
        m_nExitCode = 0;
        return FALSE;
    }
    // One run at a time per machine, taken before the working folder, the record or the history log
    // is touched, and held until the run has ended. A check-only run takes it too: beside an
    // installing run it would examine a machine whose boot configuration is being changed, and its
    // working-folder log would meet the installer's.
    const RunLock lock;
    RunJournal journal(commandLine);
    const bool windowless = commandLine.m_bSilentSwitch == 1 || commandLine.m_bVerifySwitch == 1;
    if (lock.Status() == RunLock::State::Busy) {
        journal.EndBusy(lock.Error());
        if (!windowless)
            CurrentPlatform().ShowMessageBox(AnotherRunText, ApplicationName().c_str(),
                                             MB_OK | MB_ICONWARNING);
        m_nExitCode = ExitCode(Outcome::AnotherRunInProgress);
        return FALSE;
    }
    if (commandLine.m_bVerifySwitch == 1) {
        m_nExitCode = VerifyAfterRestart();
        return FALSE;
    }
    // An update already on the drive, or staged and waiting for the restart, is not installed again
    // (read before this run writes anything of its own). A check of a staged machine runs its checks.
    const EarlierUpdate earlier = FindEarlierUpdate();
    if (earlier.kind == EarlierUpdate::Kind::OnDrive ||
        (earlier.kind == EarlierUpdate::Kind::AwaitingRestart && !journal.CheckOnly())) {
        m_nExitCode = EndWithEarlierUpdate(earlier, journal.CheckOnly(), journal.Switches());
        if (!windowless)
            CurrentPlatform().ShowMessageBox(earlier.kind == EarlierUpdate::Kind::OnDrive
                                                 ? EarlierOnDriveText
                                                 : EarlierAwaitingRestartText,
                                             ApplicationName().c_str(), MB_OK | MB_ICONINFORMATION);
        return FALSE;
    }
    journal.Begin(lock.Status() == RunLock::State::Abandoned);
    TarnwickDlg dialog;
    m_nExitCode = static_cast<int32_t>(dialog.DoModal());
    // The worker may still be writing (its last log entries, the record's facts): not ended under it.
    if (g_pSetupThread != nullptr)
        g_pSetupThread->WaitForRunEnd(WorkerEndWait);
    journal.End(m_nExitCode, dialog.m_runState);
    return FALSE; // no message loop of its own: straight on to ExitInstance
}
