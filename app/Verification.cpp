#include "app/Verification.h"

#include "core/TraceLog.h"
#include "drive/DriveQualification.h"
#include "drive/WMIConnection.h"
#include "platform/PackageFolder.h"
#include "platform/Platform.h"
#include "report/EventLog.h"
#include "report/HistoryLog.h"
#include "report/ResultRecord.h"
#include "restart/NextStartTask.h"
#include "restart/VerificationSetup.h"
#include "version.h"

namespace {
// WMI may start later than the task at the start of Windows: asked this often, this far apart,
// before the run leaves the verification to the next start.
constexpr int WmiTries = 4;
constexpr DWORD WmiTryPause = 5000;

std::wstring NowIso() {
    return FormatIsoTime(UtcNow());
}

RecordedDrive ReadRecordedDrive(const ResultRecord& record) {
    RecordedDrive drive;
    drive.model = record.Text(L"DriveModel");
    drive.serialNumber = record.Text(L"DriveSerialNumber");
    DWORD position = 0;
    drive.hasPosition = record.Number(L"DrivePosition", position);
    drive.position = position;
    return drive;
}

// The drive at the recorded position once WMI answers, asking at most WmiTries times; raises the
// last HDWMIException.
DriveAtPosition ReadDriveWhenWmiAnswers(unsigned long position) {
    for (int attempt = 1;; ++attempt) {
        try {
            return ReadDriveAt(static_cast<int>(position));
        } catch (const HDWMIException&) {
            if (attempt == WmiTries)
                throw;
            CurrentPlatform().Pause(WmiTryPause);
        }
    }
}

// The program's own file when it is the copy in the verification folder (never the file an
// administrator started by hand), removed with that folder at the next start.
std::wstring RemoveCopyAtNextStart() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    const std::wstring folder = VerificationFolder();
    const std::wstring copy = folder + L"\\" + VerificationProgramName;
    if (folder.empty() || length == 0 || length > MAX_PATH || lstrcmpiW(path, copy.c_str()) != 0)
        return L"The program does not run from " + copy + L": no copy to remove.";
    if (!MoveFileExW(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        return L"The copy " + copy + L" could not be marked for removal (error " +
               std::to_wstring(GetLastError()) + L").";
    MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT); // once empty
    return L"The copy " + copy + L" is removed at the next start of Windows.";
}

Severity SeverityOf(Outcome outcome) {
    return outcome == Outcome::Verified || outcome == Outcome::NothingToVerify ? Severity::Information
           : outcome == Outcome::NotVerifiedYet                                ? Severity::Warning
                                                                               : Severity::Error;
}

} // namespace

std::wstring WhyNotTheRecordedDrive(const RecordedDrive& recorded, const DriveAtPosition& found) {
    if (!recorded.hasPosition || recorded.model.empty())
        return L"The result record names no drive.";
    const std::wstring where = L"position " + std::to_wstring(recorded.position);
    if (!found.present)
        return L"No drive at " + where + L".";
    if (found.model != recorded.model)
        return L"The drive at " + where + L" is '" + found.model + L"', not '" + recorded.model + L"'.";
    if (!recorded.serialNumber.empty() && found.serialNumber != recorded.serialNumber)
        return L"The drive at " + where + L" has the serial number '" + found.serialNumber + L"', not '" +
               recorded.serialNumber + L"': it is another drive.";
    return std::wstring();
}

EarlierUpdate FindEarlierUpdate() {
    EarlierUpdate earlier;
    const ResultRecord record;
    const std::wstring state = record.Text(L"State");
    if (state == L"Updated") {
        earlier.kind = EarlierUpdate::Kind::OnDrive;
        return earlier;
    }
    if (state != L"Installed")
        return earlier;
    const RecordedDrive recorded = ReadRecordedDrive(record);
    try {
        const DriveAtPosition found = ReadDriveAt(static_cast<int>(recorded.position));
        const std::wstring before = record.Text(L"FirmwareRevisionBefore");
        if (WhyNotTheRecordedDrive(recorded, found).empty() && !found.firmwareRevision.empty() &&
            found.firmwareRevision != before) {
            earlier.kind = EarlierUpdate::Kind::OnDrive;
            earlier.revisionAfter = found.firmwareRevision;
            return earlier;
        }
    } catch (const HDWMIException&) {
        // Not known: the task decides below, and the checks report WMI's failure.
    }
    if (FindNextStartTask() == S_OK)
        earlier.kind = EarlierUpdate::Kind::AwaitingRestart;
    return earlier;
}

int32_t EndWithEarlierUpdate(const EarlierUpdate& earlier, bool checkOnly, const std::wstring& switches) {
    const bool onDrive = earlier.kind == EarlierUpdate::Kind::OnDrive;
    const OutcomeRow& row = RowOf(onDrive ? Outcome::AlreadyOnDrive : Outcome::RestartRequired);
    const std::wstring result = onDrive ? L"The update is already on this drive."
                                        : L"The update is staged and waits for the restart of Windows; "
                                          L"nothing was installed again.";
    History().Write(result);
    ResultRecord record;
    const std::wstring now = NowIso();
    if (checkOnly) {
        record.SetText(L"LastCheckTime", now);
        record.SetNumber(L"LastCheckExitCode", static_cast<DWORD>(row.code));
        record.SetText(L"LastCheckResult", result);
    } else {
        // The drive, its revision before and State stay; a drive found updated is recorded as verified.
        if (!earlier.revisionAfter.empty()) {
            record.SetText(L"State", L"Updated");
            record.SetText(L"FirmwareRevisionAfter", earlier.revisionAfter);
            record.SetText(L"VerifiedTime", now);
        }
        record.SetText(L"StartTime", now);
        record.SetText(L"EndTime", now);
        record.SetText(L"Version", L"" TARNWICK_VERSION_TEXT);
        record.SetText(L"Switches", switches);
        record.SetNumber(L"ExitCode", static_cast<DWORD>(row.code));
        record.SetText(L"Result", result);
        record.SetNumber(UpdateInPlaceValue, 1);
        if (History().Refusal().empty())
            record.Remove(L"HistoryLogRefused");
        else
            record.SetText(L"HistoryLogRefused", History().Refusal());
        ReportRunEvent(row.outcome, row.code, row.state, result);
    }
    History().Write(L"Exit code " + std::to_wstring(row.code) + L" (" +
                    (checkOnly ? row.meaning : row.state) + L")");
    History().Close();
    return row.code;
}

int32_t VerifyAfterRestart() {
    HistoryLog& history = History();
    history.Write(L"Verification after the restart");
    ResultRecord record;
    const std::wstring state = record.Text(L"State");
    Outcome outcome = Outcome::NothingToVerify;
    std::wstring result, revisionAfter;
    DWORD tries = 0;
    if (state != L"Installed") {
        result = L"The result record's State is '" + state + L"', not Installed: there is nothing to verify.";
    } else {
        const RecordedDrive recorded = ReadRecordedDrive(record);
        const std::wstring before = record.Text(L"FirmwareRevisionBefore");
        record.Number(L"VerificationTries", tries);
        record.SetNumber(L"VerificationTries", ++tries);
        std::wstring notThere;
        DriveAtPosition found;
        try {
            found = ReadDriveWhenWmiAnswers(recorded.position);
            notThere = WhyNotTheRecordedDrive(recorded, found);
        } catch (const HDWMIException& e) {
            notThere = L"WMI did not answer: " + e.Message;
        }
        if (!notThere.empty()) {
            outcome = tries < VerificationTries ? Outcome::NotVerifiedYet : Outcome::VerificationGaveUp;
            result = notThere + (outcome == Outcome::NotVerifiedYet
                                     ? L" Try " + std::to_wstring(tries) + L" of " +
                                           std::to_wstring(VerificationTries) + L": again at the next start."
                                     : L" The drive could not be verified after " +
                                           std::to_wstring(VerificationTries) + L" starts.");
        } else if (found.firmwareRevision != before) {
            outcome = Outcome::Verified;
            revisionAfter = found.firmwareRevision;
            result = L"The drive's firmware revision is " + revisionAfter + L", before the update " + before +
                     L".";
        } else {
            outcome = Outcome::NotUpdated;
            result = L"The drive's firmware revision is still " + before + L": the update did not take.";
        }
    }
    const OutcomeRow& row = RowOf(outcome);
    history.Write(result, SeverityOf(outcome));
    if (row.state != nullptr) {
        record.SetText(L"State", row.state);
        record.SetNumber(UpdateInPlaceValue, outcome == Outcome::Verified ? 1 : 0);
        record.SetText(L"VerifiedTime", NowIso());
        if (outcome == Outcome::Verified)
            record.SetText(L"FirmwareRevisionAfter", revisionAfter);
    }
    if (outcome != Outcome::NothingToVerify) {
        record.SetNumber(L"VerificationExitCode", static_cast<DWORD>(row.code));
        record.SetText(L"VerificationResult", result);
    }
    if (outcome != Outcome::NotVerifiedYet) {
        const HRESULT removed = RemoveNextStartTask();
        history.Write(SUCCEEDED(removed) ? std::wstring(L"The verification task is removed.")
                                         : L"The verification task could not be removed (error " +
                                               std::to_wstring(static_cast<unsigned long>(removed)) + L").",
                      SUCCEEDED(removed) ? Severity::Information : Severity::Warning);
        history.Write(RemoveCopyAtNextStart());
    }
    ReportRunEvent(outcome, row.code, row.state != nullptr ? row.state : state, result);
    history.Write(L"Exit code " + std::to_wstring(row.code) + L" (" + row.meaning + L")",
                  SeverityOf(outcome));
    history.Close();
    return row.code;
}
