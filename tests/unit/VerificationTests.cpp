// The verification after the restart through the platform seam: which drive passes, which event and
// exit code each outcome gives, and a task that cannot be registered.
#include "TestSupport.h"

#include "app/Verification.h"
#include "core/Events.h"
#include "drive/DriveQualification.h"
#include "report/ResultRecord.h"
#include "restart/NextStartTask.h"
#include "restart/VerificationSetup.h"

#include <gtest/gtest.h>

TEST(Verification, OnlyTheRecordedDriveAtItsPositionPasses) {
    const RecordedDrive twin{L"VLM2016", L"S-1", true, 1};
    const struct {
        RecordedDrive recorded;
        DriveAtPosition found;
        const wchar_t* why;
    } cases[] = {
        {twin, {true, L"VLM2016", L"A2", L"S-1"}, L""},
        {{L"VLM2016", L"", true, 1}, {true, L"VLM2016", L"A2", L"S-9"}, L""}, // no serial recorded
        {twin,
         {true, L"VLM2016", L"A2", L"S-2"},
         L"The drive at position 1 has the serial number 'S-2', not 'S-1': it is another drive."},
        {twin,
         {true, L"VLM2016", L"A2", L""},
         L"The drive at position 1 has the serial number '', not 'S-1': it is another drive."},
        {twin, {true, L"Other", L"A2", L"S-1"}, L"The drive at position 1 is 'Other', not 'VLM2016'."},
        {twin, {}, L"No drive at position 1."},
        {{L"VLM2016", L"S-1", false, 0},
         {true, L"VLM2016", L"A2", L"S-1"},
         L"The result record names no drive."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WhyNotTheRecordedDrive(c.recorded, c.found), c.why);
}

namespace {
// A record as a successful installation leaves it, for the drive at position 0.
void RecordStagedUpdate(DWORD tries) {
    ResultRecord record;
    record.SetText(L"State", L"Installed");
    record.SetText(L"DriveModel", L"VLM2016");
    record.SetText(L"DriveSerialNumber", L"S-1");
    record.SetNumber(L"DrivePosition", 0);
    record.SetText(L"FirmwareRevisionBefore", L"A1");
    record.SetNumber(L"VerificationTries", tries);
}
} // namespace

TEST(Verification, EachOutcomeReportsItsEventAndOnlyAFinalOneRemovesTheTask) {
    const std::wstring drive = L"drive 0 model=\"VLM2016\" pnp=\"P\" serial=\"S-1\" firmware=";
    std::wstring noWmi = drive + L"\"A2\"\n";
    for (int call = 1; call <= 4; ++call)
        noWmi += L"fail ConnectServer " + std::to_wstring(call) + L" 0x80041014\n";
    const struct {
        std::wstring scenario;
        DWORD triesBefore;
        int32_t code;
        EventOutcome event;
        const wchar_t* state;
    } cases[] = {
        {drive + L"\"A2\"\n", 0, 108, EventOutcome::Updated, L"Updated"},
        {drive + L"\"A1\"\n", 0, 109, EventOutcome::NotUpdated, L"NotUpdated"},
        {noWmi, 0, 110, EventOutcome::NotVerifiedYet, L"Installed"},
        {noWmi, 2, 111, EventOutcome::NotUpdated, L"NotUpdated"},
    };
    const std::wstring task = std::wstring(L" ") + NextStartTaskName;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        FakePlatform platform;
        UseScenario(c.scenario);
        RecordStagedUpdate(c.triesBefore);
        EXPECT_EQ(VerifyAfterRestart(), c.code);
        const ResultRecord record;
        EXPECT_EQ(record.Text(L"State"), c.state);
        const EventRow& row = EventRowOf(c.event);
        const std::wstring event = L"Event Tarnwick " + std::to_wstring(static_cast<int>(row.type)) + L" " +
                                   std::to_wstring(MessageId(row)) + L"|" + std::to_wstring(c.code) + L"|" +
                                   c.state + L"|" + record.Text(L"VerificationResult");
        const Lines events = platform.Events();
        EXPECT_EQ(std::count(events.begin(), events.end(), event), 1);
        EXPECT_EQ(std::count(events.begin(), events.end(), L"RemoveTask 2" + task), c.code == 110 ? 0 : 1);
        // WMI is asked four times, five seconds apart, before the start is counted as failed.
        EXPECT_EQ(platform.Pauses(),
                  c.scenario == noWmi ? std::vector<DWORD>(3, 5000) : std::vector<DWORD>());
    }
}

TEST(Verification, ATaskThatCannotBeRegisteredIsSaidAndLeavesNoCopy) {
    FakePlatform platform;
    platform.taskResult = E_ACCESSDENIED;
    EXPECT_EQ(SetUpVerification(), L"The verification after the restart could not be set up: the task could "
                                   L"not be registered (error 0x80070005)");
    EXPECT_EQ(GetFileAttributesW((VerificationFolder() + L"\\" + VerificationProgramName).c_str()),
              INVALID_FILE_ATTRIBUTES);

    FakePlatform xp; // Task Scheduler 1.0 runs the copy with "/v"
    xp.major = 5;
    EXPECT_EQ(SetUpVerification(), L"");
    const std::wstring copy = VerificationFolder() + L"\\" + VerificationProgramName;
    EXPECT_EQ(xp.Events(),
              (Lines{std::wstring(L"TaskV1 ") + NextStartTaskName + L"|" + copy + L"|/v|1800000"}));
    DeleteFileW(copy.c_str());
}
