#include "app/TarnwickApp.h"

#include "app/RunJournal.h"
#include "install/SetupThread.h"
#include "platform/Platform.h"
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

namespace {
// How long the end of the program waits for the worker's run to end.
constexpr DWORD WorkerEndWait = 10000;

constexpr wchar_t UsageText[] = L"Tarnwick.exe [/s] [/r] [/c] [/l=<file>] [/?]\n"
                                L"\n"
                                L"/s\tno window; the exit code tells the outcome\n"
                                L"/r\trestart Windows after a success\n"
                                L"/c\tcheck only: run the checks, install nothing\n"
                                L"/l=<file>\n\twrite the history log to <file>\n"
                                L"/?\tshow this text\n"
                                L"Also -s or s. Switches are case-sensitive.\n"
                                L"\n"
                                L"Exit codes:\n"
                                L"0\tinstalled, restart started (/r);\n\tor the checks passed (/c)\n"
                                L"3010\tinstalled; Windows must restart\n"
                                L"100\tnot an administrator\n"
                                L"101\tWindows or boot loader not supported\n"
                                L"102\trunning on battery\n"
                                L"103\tthe drives could not be queried\n"
                                L"104\tno supported drive\n"
                                L"105\tthe installation could not start\n"
                                L"106\tBitLocker encryption is on\n"
                                L"6\tthe package could not be written\n"
                                L"1-16\tthe package installer failed\n"
                                L"\n"
                                L"Run log: VelomarHDDInstallerLog.txt\n"
                                L"History log: %ProgramData%\\Velomar\\\n\tHD Firmware Update\\Tarnwick.log\n"
                                L"Result: HKLM\\SOFTWARE\\Velomar\\\n\tHD Firmware Update";
} // namespace

BOOL TarnwickApp::InitInstance() {
    CommandLine commandLine;
    ParseCommandLine(commandLine);
    if (commandLine.m_bUsageSwitch) {
        // The usage changes nothing: no log, no record, no run.
        if (commandLine.m_bSilentSwitch != 1)
            CurrentPlatform().ShowMessageBox(UsageText, ApplicationName().c_str(),
                                             MB_OK | MB_ICONINFORMATION);
        m_nExitCode = 0;
        return FALSE;
    }
    RunJournal journal(commandLine);
    TarnwickDlg dialog;
    m_nExitCode = static_cast<int32_t>(dialog.DoModal());
    // The worker may still be writing (its last log entries, the record's facts): not ended under it.
    if (g_pSetupThread != nullptr)
        g_pSetupThread->WaitForRunEnd(WorkerEndWait);
    journal.End(m_nExitCode, dialog.m_runState);
    return FALSE; // no message loop of its own: straight on to ExitInstance
}
