#include "install/SetupThread.h"

#include "checks/Checks.h"
#include "core/Outcomes.h"
#include "drive/DriveQualification.h"
#include "drive/WMIConnection.h"
#include "package/PayloadExtraction.h"
#include "package/RunSetup.h"
#include "report/Messages.h"
#include "report/ResultRecord.h"
#include "report/SetupException.h"
#include "restart/Restart.h"
#include "restart/VerificationSetup.h"

#include <memory>

const ThreadMessageEntry* SetupThread::GetMessageTable(size_t& count) const {
    static const ThreadMessageEntry table[] = {
        THREAD_MESSAGE(WM_SETUP_START, &SetupThread::OnStartInstall),
    };
    count = sizeof(table) / sizeof(table[0]);
    return table;
}

SetupThread::SetupThread() : m_hRunEnded(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void SetupThread::OnStartInstall(WPARAM, LPARAM lParam) {
    const std::unique_ptr<HWND> block(reinterpret_cast<HWND*>(lParam));
    m_hDialog = block != nullptr ? *block : nullptr;
    RunSequence();
    ReleasePackageFiles();
    SetEvent(m_hRunEnded.get());
}

bool SetupThread::WaitForRunEnd(DWORD milliseconds) const {
    return WaitForSingleObject(m_hRunEnded.get(), milliseconds) == WAIT_OBJECT_0;
}

void SetupThread::RunSequence() {
    try {
        PostStatus(L"Checking for administrator credentials...");
        if (!CheckAdminCredentials(*this)) {
            ReportError(L"Admin credentials were not found.", ExitCode(Outcome::NotAdministrator), 0);
            return;
        }
        PostDetail(L"Admin credentials were found");

        PostStatus(L"Checking Windows version...");
        if (!CheckWindowsVersion(*this)) {
            ReportError(L"Windows 2000 or later was not found.", ExitCode(Outcome::UnsupportedWindows), 0);
            return;
        }

        bool efi = false;
        try {
            efi = IsEfiBootLoader(*this);
        } catch (const HDWMIException& e) {
            // The boot loader could not be told: deploying onto an EFI machine is what must not
            // happen, so the run stops here with the boot-loader check's code.
            ReportError(e.Message, ExitCode(Outcome::UnsupportedWindows), 1);
            return;
        }
        if (efi) {
            ReportError(L"Windows is using an EFI boot loader, we can't deploy this update.",
                        ExitCode(Outcome::UnsupportedWindows), 0);
            PostDetail(L"Refer to the ReadMe file for instructions to update the firmware locally.");
            return;
        }

        PostStatus(L"Checking system power status...");
        if (!IsOnACPower(*this)) {
            ReportError(L"System is not on AC power.", ExitCode(Outcome::OnBattery), 0);
            return;
        }
        PostDetail(L"System is on AC power");

        PostStatus(L"Checking hard drive model...");
        if (!CheckHardDriveModel(*this))
            return;

        // No line of its own: where no volume is encrypted, the log stays as it always was.
        std::wstring encrypted;
        try {
            encrypted = FindEncryptedVolume(*this);
        } catch (const HDWMIException& e) {
            ReportError(L"An error occurred while checking BitLocker encryption. " + e.Message,
                        ExitCode(Outcome::VolumeEncrypted), 1);
            return;
        }
        if (!encrypted.empty()) {
            ReportError(L"BitLocker encryption is on for drive " + encrypted +
                            L", we can't deploy this update onto it.",
                        ExitCode(Outcome::VolumeEncrypted), 0);
            PostDetail(L"Refer to the ReadMe file for instructions to update the firmware locally.");
            return;
        }

        if (m_bCheckOnly) {
            // Every check has passed: the run ends here, before anything is written or run.
            PostStatus(CheckOnlyPassed);
            PostSucceeded(m_hDialog);
            return;
        }

        if (!EnterStage(RunStage::Extracting))
            return; // Esc came first: the dialog has ended, nothing is written
        ExtractInstallationFiles(*this);
        RunSetup(*this);
        DeleteExistingFiles(*this);
        // Before any restart: the task must be in place when Windows starts again.
        NoteVerificationSetUp(SetUpVerification());
        if (!RestartIfRequested(*this)) {
            // Esc during the countdown: the update is staged and runs at the next restart.
            const wchar_t* const staged = L"The restart was cancelled; the update runs at the next restart.";
            WriteLog(staged);
            NoteRunResult(staged);
            return;
        }
        NoteRunResult(L"The installation completed successfully.");
        PostSucceeded(m_hDialog);
    } catch (const SetupException& e) {
        WriteLog(e.Message);
        ReportError(e.Message, e.Code, e.IsError);
    } catch (const RunCancelled&) {
        WriteLog(L"Cancelled: the package files written by this run are removed.");
        PostCancelled(m_hDialog);
    }
}
