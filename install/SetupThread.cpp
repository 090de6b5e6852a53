#include "install/SetupThread.h"

#include "drive/DriveQualification.h"
#include "drive/WMIConnection.h"
#include "install/Checks.h"
#include "install/Messages.h"
#include "install/Platform.h"
#include "install/SetupException.h"
#include "install/WorkingDirectory.h"
#include "package/PayloadExtraction.h"
#include "package/RunSetup.h"
#include "ui/Restart.h"

SetupThread::SetupThread() {
    OpenLog();
}

SetupThread::~SetupThread() {
    ReleaseInstaller();
    CloseLog();
}

const ThreadMessageEntry* SetupThread::GetMessageTable(size_t& count) const {
    static const ThreadMessageEntry table[] = {
        THREAD_MESSAGE(WM_SETUP_START, &SetupThread::OnStartInstall),
    };
    count = sizeof(table) / sizeof(table[0]);
    return table;
}

void SetupThread::OpenLog() {
    if (m_bLogOpen)
        CloseLog();
    m_bLogOpen = FALSE;
    const std::wstring path = CombinePath(GetWorkingDirectory(), LogFileName);
    DeleteFileW(path.c_str());
    m_logFile = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_logFile == INVALID_HANDLE_VALUE)
        return;
    static const BYTE byteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(m_logFile, byteOrderMark, sizeof byteOrderMark, &written, nullptr);
    m_bLogOpen = TRUE;
    WriteLog(L"Logfile opened");
}

void SetupThread::CloseLog() {
    if (!m_bLogOpen)
        return;
    WriteLog(L"Logfile closed");
    CloseHandle(m_logFile);
    m_logFile = INVALID_HANDLE_VALUE;
    m_bLogOpen = FALSE;
}

void SetupThread::WriteLog(std::wstring text) {
    if (!m_bLogOpen)
        return;
    // Texts from outside (a drive's model, a folder) may hold control characters: shown as U+FFFD,
    // they can neither end an entry early nor forge one.
    for (wchar_t& c : text) {
        if (c < 0x20 || c == 0x7F)
            c = 0xFFFD;
    }
    // Each entry is one line; a text too long for one goes on in the next, never split inside a
    // surrogate pair.
    constexpr size_t maxText = MaxLogEntry - 2;
    std::wstring lines;
    size_t start = 0;
    do {
        size_t length = text.size() - start;
        if (length > maxText) {
            length = maxText;
            if (IS_HIGH_SURROGATE(text[start + length - 1]))
                --length;
        }
        lines.append(text, start, length);
        lines += L"\r\n";
        start += length;
    } while (start < text.size());
    // Written through and flushed at once: a reboot, a crash or a killed process must not eat the
    // end of the log.
    DWORD written = 0;
    WriteFile(m_logFile, lines.data(), static_cast<DWORD>(lines.size() * sizeof(wchar_t)), &written, nullptr);
    FlushFileBuffers(m_logFile);
}

void SetupThread::PostLine(UINT message, std::wstring text) {
    // The log first: a run killed during the pause must not lack the line the window shows.
    WriteLog(text);
    if (!m_bSilent) {
        PostRecord(m_hDialog, message, std::unique_ptr<std::wstring>(new std::wstring(std::move(text))));
        CurrentPlatform().Pause(StatusPause);
    }
}

void SetupThread::PostStatus(std::wstring text) {
    PostLine(WM_SETUP_STATUS, std::move(text));
}

void SetupThread::PostDetail(std::wstring text) {
    PostLine(WM_SETUP_DETAIL, std::move(text));
}

void SetupThread::ReportError(std::wstring message, int32_t code, BYTE isError) {
    PostRecord(m_hDialog, WM_SETUP_FAILED,
               std::unique_ptr<SetupException>(new SetupException(message, code, isError)));
    WriteLog(L"Exception: " + message);
}

void SetupThread::HoldInstaller(HANDLE file) {
    ReleaseInstaller();
    m_hInstallerHold = file;
}

HANDLE SetupThread::TakeInstallerHold() {
    HANDLE file = m_hInstallerHold;
    m_hInstallerHold = INVALID_HANDLE_VALUE;
    return file;
}

void SetupThread::ReleaseInstaller() {
    if (m_hInstallerHold != INVALID_HANDLE_VALUE)
        CloseHandle(TakeInstallerHold());
}

void SetupThread::OnStartInstall(WPARAM, LPARAM lParam) {
    auto* block = reinterpret_cast<HWND*>(lParam);
    m_hDialog = block != nullptr ? *block : nullptr;
    RunSequence();
    ReleaseInstaller();
    delete block;
}

void SetupThread::RunSequence() {
    try {
        PostStatus(L"Checking for administrator credentials...");
        if (!CheckAdminCredentials(*this)) {
            ReportError(L"Admin credentials were not found.", 100, 0);
            return;
        }
        PostDetail(L"Admin credentials were found");

        PostStatus(L"Checking Windows version...");
        if (!CheckWindowsVersion(*this)) {
            ReportError(L"Windows 2000 or later was not found.", 101, 0);
            return;
        }

        bool efi = false;
        try {
            efi = IsEfiBootLoader(*this);
        } catch (const HDWMIException& e) {
            // The boot loader could not be told: deploying onto an EFI machine is what must not
            // happen, so the run stops here with the boot-loader check's code.
            ReportError(e.Message, 101, 1);
            return;
        }
        if (efi) {
            ReportError(L"Windows is using an EFI boot loader, we can't deploy this update.", 101, 0);
            PostDetail(L"Refer to the ReadMe file for instructions to update the firmware locally.");
            return;
        }

        PostStatus(L"Checking system power status...");
        if (!IsOnACPower(*this)) {
            ReportError(L"System is not on AC power.", 102, 0);
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
                        VolumeEncrypted, 1);
            return;
        }
        if (!encrypted.empty()) {
            ReportError(L"BitLocker encryption is on for drive " + encrypted +
                            L", we can't deploy this update onto it.",
                        VolumeEncrypted, 0);
            PostDetail(L"Refer to the ReadMe file for instructions to update the firmware locally.");
            return;
        }

        ExtractInstallationFiles(*this);
        RunSetup(*this);
        DeleteExistingFiles(*this);
        RestartIfRequested(*this);
        PostSucceeded(m_hDialog);
    } catch (const SetupException& e) {
        WriteLog(e.Message);
        ReportError(e.Message, e.Code, e.IsError);
    }
}
