#include "report/SetupContext.h"

#include "core/LogText.h"
#include "platform/OwnFile.h"
#include "platform/PackageFolder.h"
#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/HistoryLog.h"
#include "report/Messages.h"
#include "report/ResultRecord.h"
#include "report/SetupException.h"

SetupContext::SetupContext() {
    // Without FILE_SHARE_DELETE nobody can rename or remove the folder while this handle is open. A
    // reparse point in its path is followed: redirected user folders are such points.
    m_workingDirectory.reset(CreateFileW(GetWorkingDirectory().c_str(), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    OpenLog();
}

SetupContext::~SetupContext() {
    ReleasePackageFiles();
    CloseLog();
}

void SetupContext::OpenLog() {
    if (m_bLogOpen)
        CloseLog();
    m_bLogOpen = FALSE;
    const std::wstring path = CombinePath(GetWorkingDirectory(), LogFileName);
    // Only a new file of our own: a name that another file still holds, or a link, leaves the run
    // without its log rather than writing into someone else's file.
    DWORD error = 0;
    m_logFile = ReplaceWithNewFile(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   FILE_ATTRIBUTE_NORMAL, nullptr, error);
    if (!m_logFile)
        return;
    static const BYTE byteOrderMark[] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(m_logFile.get(), byteOrderMark, sizeof byteOrderMark, &written, nullptr);
    m_bLogOpen = TRUE;
    WriteLog(L"Logfile opened");
}

void SetupContext::CloseLog() {
    if (!m_bLogOpen)
        return;
    WriteLog(L"Logfile closed");
    m_logFile.reset();
    m_bLogOpen = FALSE;
}

void SetupContext::WriteLog(std::wstring text) {
    WriteLogEntry(std::move(text), false);
}

void SetupContext::WriteLogEntry(std::wstring text, bool isError) {
    History().Write(text, isError ? Severity::Error : Severity::Information);
    if (!m_bLogOpen)
        return;
    const std::wstring lines = FormatLogEntries(std::move(text));
    // Written through and flushed at once: a reboot, a crash or a killed process must not eat the
    // end of the log.
    DWORD written = 0;
    WriteFile(m_logFile.get(), lines.data(), static_cast<DWORD>(lines.size() * sizeof(wchar_t)), &written,
              nullptr);
    FlushFileBuffers(m_logFile.get());
}

void SetupContext::PostLine(UINT message, std::wstring text) {
    // The log first: a run killed during the pause must not lack the line the window shows.
    WriteLog(text);
    if (!m_bSilent) {
        PostRecord(m_hDialog, message, std::unique_ptr<std::wstring>(new std::wstring(std::move(text))));
        CurrentPlatform().Pause(StatusPause);
    }
}

void SetupContext::PostStatus(std::wstring text) {
    NoteRunResult(text);
    PostLine(WM_SETUP_STATUS, std::move(text));
}

void SetupContext::PostDetail(std::wstring text) {
    PostLine(WM_SETUP_DETAIL, std::move(text));
}

void SetupContext::ReportError(std::wstring message, int32_t code, BYTE isError) {
    // Logged and noted first: a silent dialog ends on the post, and the program may end with it.
    NoteRunResult(message);
    WriteLogEntry(L"Exception: " + message, true);
    PostRecord(m_hDialog, WM_SETUP_FAILED,
               std::unique_ptr<SetupException>(new SetupException(message, code, isError)));
}

void SetupContext::HoldPackageFile(unique_hfile file) {
    m_packageFiles.push_back(std::move(file));
}

void SetupContext::ReleasePackageFiles() {
    m_packageFiles.clear();
}

bool SetupContext::EnterStage(RunStage stage) {
    for (;;) {
        const LONG current = m_stage;
        if (current == static_cast<LONG>(RunStage::Cancelled))
            return false;
        if (InterlockedCompareExchange(&m_stage, static_cast<LONG>(stage), current) == current)
            return true;
    }
}

RunStage SetupContext::Cancel() {
    for (;;) {
        const LONG current = m_stage;
        const RunStage found = static_cast<RunStage>(current);
        if (found != RunStage::Checking && found != RunStage::Extracting && found != RunStage::CountingDown)
            return found;
        if (InterlockedCompareExchange(&m_stage, static_cast<LONG>(RunStage::Cancelled), current) == current)
            return found;
    }
}
