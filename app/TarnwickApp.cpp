#include "app/TarnwickApp.h"

#include "app/RunJournal.h"
#include "core/Outcomes.h"
#include "platform/Platform.h"
#include "platform/RunLock.h"
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

namespace {
constexpr wchar_t AnotherRunText[] = L"Another run of the Velomar HD firmware update is in progress on this "
                                     L"machine.\n\nWait until it has ended, then start this one again.";
} // namespace

std::wstring UsageText() {
    return L"Tarnwick.exe [/s] [/r] [/c] [/l=<file>] [/?]\n"
           L"\n"
           L"/s\tno window; the exit code tells the outcome\n"
           L"/r\trestart Windows after a success\n"
           L"/c\tcheck only: run the checks, install nothing\n"
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
    if (lock.Status() == RunLock::State::Busy) {
        journal.EndBusy(lock.Error());
        if (commandLine.m_bSilentSwitch != 1)
            CurrentPlatform().ShowMessageBox(AnotherRunText, ApplicationName().c_str(),
                                             MB_OK | MB_ICONWARNING);
        m_nExitCode = ExitCode(Outcome::AnotherRunInProgress);
        return FALSE;
    }
    journal.Begin(lock.Status() == RunLock::State::Abandoned);
    TarnwickDlg dialog;
    m_nExitCode = static_cast<int32_t>(dialog.DoModal());
    journal.End(m_nExitCode, dialog.m_runState);
    return FALSE; // no message loop of its own: straight on to ExitInstance
}
