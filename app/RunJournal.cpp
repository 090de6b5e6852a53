#include "app/RunJournal.h"

#include "app/Verification.h"
#include "core/TraceLog.h"
#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/EventLog.h"
#include "report/HistoryLog.h"
#include "report/ResultRecord.h"
#include "restart/Restart.h"
#include "version.h"

#include <cwchar>
#include <functional>

namespace {
std::wstring NowIso() {
    return FormatIsoTime(UtcNow());
}

std::wstring Joined(const std::vector<std::wstring>& arguments) {
    std::wstring text;
    for (const std::wstring& argument : arguments)
        text += (text.empty() ? L"" : L" ") + argument;
    return text;
}

std::wstring WindowsVersion() {
    const OSVERSIONINFOW info = ReadWindowsVersion();
    wchar_t text[192];
    swprintf(text, 192, L"%u.%u.%u %ls", static_cast<unsigned>(info.dwMajorVersion),
             static_cast<unsigned>(info.dwMinorVersion), static_cast<unsigned>(info.dwBuildNumber),
             info.szCSDVersion);
    std::wstring version = text;
    while (!version.empty() && version.back() == L' ')
        version.pop_back();
    return version;
}

// DOMAIN\name of the account the program runs as.
std::wstring UserName() {
    std::vector<BYTE> user = ProcessUserSid();
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    if (user.empty() || !LookupAccountSidW(nullptr, user.data(), name, &nameSize, domain, &domainSize, &use))
        return L"(unknown)";
    return std::wstring(domain) + L"\\" + name;
}

} // namespace

// The table's codes are the Windows values the dialog ends with.
static_assert(ExitCode(Outcome::RestartRequired) == ERROR_SUCCESS_REBOOT_REQUIRED, "3010");
static_assert(ExitCode(Outcome::RestartAfterOk) == IDOK && ExitCode(Outcome::Cancelled) == IDCANCEL,
              "OK, Esc");
static_assert(ExitCode(Outcome::AnotherRunInProgress) == ERROR_INSTALL_ALREADY_RUNNING, "1618");
static_assert(ExitCode(Outcome::NotStarted) == WorkerNotStarted, "105");

Outcome InstallOutcome(int exitCode, TarnwickDlg::RunState state) {
    const Reported reported = state == TarnwickDlg::RunState::Succeeded ? Reported::Success
                              : state == TarnwickDlg::RunState::Failed  ? Reported::Failure
                                                                        : Reported::Nothing;
    return InstallOutcome(static_cast<int32_t>(exitCode), reported);
}

const wchar_t* RecordedState(int exitCode, TarnwickDlg::RunState state) {
    return RowOf(InstallOutcome(exitCode, state)).state;
}

RunJournal::RunJournal(const CommandLine& commandLine)
    : m_checkOnly(commandLine.m_bCheckOnlySwitch == 1), m_switches(Joined(commandLine.m_switches)) {
    HistoryLog& history = History();
    const std::wstring defaultPath = DefaultHistoryLogPath();
    DWORD refused = 0;
    if (!commandLine.m_logFile.empty()) {
        refused = history.Open(commandLine.m_logFile);
        if (refused != 0 && !defaultPath.empty())
            history.Open(defaultPath); // the history goes on where it always is
    } else if (!defaultPath.empty()) {
        history.Open(defaultPath);
    }
    history.Write(L"Tarnwick " TARNWICK_VERSION_TEXT L" started");
    history.Write(L"Command line: " + std::wstring(GetCommandLineW()));
    if (!commandLine.m_ignored.empty())
        history.Write(L"Ignored arguments (switches are case-sensitive): " + Joined(commandLine.m_ignored),
                      Severity::Warning);
    if (refused != 0)
        history.Write(L"The history log could not be opened at " + commandLine.m_logFile + L" (error " +
                          std::to_wstring(refused) + L"); it is written here instead.",
                      Severity::Warning);
    history.Write(L"Working folder: " + GetWorkingDirectory());
    history.Write(L"Windows version: " + WindowsVersion());
    history.Write(L"User: " + UserName());
}

void RunJournal::Begin(bool lockAbandoned) {
    HistoryLog& history = History();
    if (lockAbandoned)
        history.Write(L"The run before this one ended without releasing the run lock (it was killed or "
                      L"crashed); this run goes on.",
                      Severity::Warning);
    if (m_checkOnly) {
        history.Write(L"Check only: nothing is installed");
        return;
    }
    ResultRecord record;
    if (record.OpenError() != 0)
        history.Write(L"The result record could not be written (error " +
                          std::to_wstring(record.OpenError()) + L")",
                      Severity::Warning);
    // Both restarts request it only after a successful installation.
    SetRestartRecorder([this](int32_t exitCode) { Note(exitCode, TarnwickDlg::RunState::Succeeded); });
    record.SetText(L"State", L"Running");
    record.SetText(L"StartTime", NowIso());
    record.SetText(L"Version", L"" TARNWICK_VERSION_TEXT);
    record.SetText(L"Switches", m_switches);
    record.SetNumber(UpdateInPlaceValue, 0);
    for (const wchar_t* stale :
         {L"EndTime", L"ExitCode", L"Result", L"DriveModel", L"FirmwareRevisionBefore", L"HistoryLogRefused",
          L"DrivePosition", L"DriveSerialNumber", L"FirmwareRevisionAfter", L"VerifiedTime",
          L"VerificationTask", L"VerificationTries", L"VerificationExitCode", L"VerificationResult"})
        record.Remove(stale);
    if (!history.Refusal().empty()) // no history written into a folder or file others could control
        record.SetText(L"HistoryLogRefused", history.Refusal());
}

void RunJournal::EndBusy(DWORD lockError) {
    const OutcomeRow& busy = RowOf(Outcome::AnotherRunInProgress);
    History().Write(lockError == 0
                        ? std::wstring(L"Another run is in progress on this machine; this run does nothing.")
                        : L"Another run may be in progress on this machine: the run lock could not be "
                          L"taken (error " +
                              std::to_wstring(lockError) + L"); this run does nothing.",
                    Severity::Warning);
    if (!m_checkOnly)
        ReportRunEvent(Outcome::AnotherRunInProgress, busy.code, L"", busy.meaning);
    History().Write(L"Exit code " + std::to_wstring(busy.code) + L" (" + busy.meaning + L")",
                    Severity::Warning);
    History().Close();
}

void RunJournal::End(int exitCode, TarnwickDlg::RunState state) {
    SetRestartRecorder(nullptr);
    Note(exitCode, state);
    History().Close();
}

void RunJournal::Note(int exitCode, TarnwickDlg::RunState state) {
    const RunFacts facts = ReadRunFacts();
    ResultRecord record;
    Severity severity = Severity::Information;
    std::wstring outcome;
    std::function<void()> event; // an installing run's event, reported with its exit code line
    if (m_checkOnly) {
        const bool passed = state == TarnwickDlg::RunState::Checked;
        outcome = passed ? L"the update can be installed" : L"the update cannot be installed";
        severity = passed ? Severity::Information : Severity::Warning;
        record.SetText(L"LastCheckTime", NowIso());
        record.SetNumber(L"LastCheckExitCode", static_cast<DWORD>(exitCode));
        record.SetText(L"LastCheckResult", facts.result);
    } else {
        const std::wstring recorded = RecordedState(exitCode, state);
        outcome = recorded;
        severity = recorded == L"Installed" ? Severity::Information
                   : recorded == L"Failed"  ? Severity::Error
                                            : Severity::Warning;
        const std::wstring result =
            recorded == L"Cancelled" ? L"The run was cancelled before it ended." : facts.result;
        record.SetText(L"State", recorded);
        record.SetNumber(L"ExitCode", static_cast<DWORD>(exitCode));
        record.SetText(L"Result", result);
        record.SetText(L"EndTime", NowIso());
        record.SetText(L"DriveModel", facts.driveModel);
        record.SetText(L"FirmwareRevisionBefore", facts.firmwareRevision);
        if (facts.drivePosition >= 0)
            record.SetNumber(L"DrivePosition", static_cast<DWORD>(facts.drivePosition));
        if (!facts.serialNumber.empty())
            record.SetText(L"DriveSerialNumber", facts.serialNumber);
        const bool installed = recorded == L"Installed";
        record.SetNumber(UpdateInPlaceValue, installed ? 1 : 0);
        if (installed) {
            const std::wstring task = facts.verificationSetUp
                                          ? L"Registered: the drive is verified at the next start of Windows."
                                          : facts.verificationFailure;
            record.SetText(L"VerificationTask", task);
        }
        event = [=] { ReportRunEvent(InstallOutcome(exitCode, state), exitCode, recorded, result); };
    }
    // Once for each code: the end noted before a restart request stands unless the code changed.
    if (m_notedEnd && m_notedExitCode == exitCode)
        return;
    m_notedEnd = true;
    m_notedExitCode = exitCode;
    if (event)
        event();
    History().Write(L"Exit code " + std::to_wstring(exitCode) + L" (" + outcome + L")", severity);
}
