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
    if (!m_bSilent) {
        auto* line = new std::wstring(text);
        if (m_hDialog == nullptr || !PostMessageW(m_hDialog, message, 0, reinterpret_cast<LPARAM>(line)))
            delete line; // nobody received it
        CurrentPlatform().Pause(StatusPause);
    }
    WriteLog(std::move(text));
}

void SetupThread::PostStatus(std::wstring text) {
    PostLine(WM_SETUP_STATUS, std::move(text));
}

void SetupThread::PostDetail(std::wstring text) {
    PostLine(WM_SETUP_DETAIL, std::move(text));
}

void SetupThread::ReportError(std::wstring message, int32_t code, BYTE isError) {
    auto* record = new SetupException(message, code, isError);
    if (m_hDialog == nullptr ||
        !PostMessageW(m_hDialog, WM_SETUP_FAILED, 0, reinterpret_cast<LPARAM>(record)))
        delete record;
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

        ExtractInstallationFiles(*this);
        RunSetup(*this);
        DeleteExistingFiles(*this);
        RestartIfRequested(*this);
        PostMessageW(m_hDialog, WM_SETUP_SUCCEEDED, 0, 0);
    } catch (const SetupException& e) {
        WriteLog(e.Message);
        ReportError(e.Message, e.Code, e.IsError);
    }
}
