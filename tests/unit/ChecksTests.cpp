// The checks of the machine, each seen through whole runs: administrator, Windows version, boot
// loader, AC power and volume encryption. Each failure ends the run with its code at once.
#include "TestSupport.h"

#include "FakeWmi.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
const std::wstring ReadMeHint =
    L"D Refer to the ReadMe file for instructions to update the firmware locally.";
// The lines from the boot-loader check on where disk 0 is a GPT disk.
const Lines Efi = {L"D Windows using EFI boot loader",
                   L"F 101 0 Windows is using an EFI boot loader, we can't deploy this update.", ReadMeHint};
const std::wstring Encrypted =
    L"F 106 0 BitLocker encryption is on for drive C:, we can't deploy this update onto it.";

class ChecksTest : public ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        UseScenario(SupportedDriveScenario);
    }
    // What a visible run posts that goes as a successful one up to and including line, then reports then.
    Lines PostedUntil(const std::wstring& line, const Lines& then) const {
        return Posted(Until(SuccessfulRun(directory.Path()), line, then));
    }
};
} // namespace

TEST_F(ChecksTest, NotAnAdministratorStopsAtOnceWith100) {
    platform.tokenMember = FALSE;
    const SequenceRun run = RunSequence();
    EXPECT_EQ(run.posted, Posted(NotAdministratorRun()));
    EXPECT_EQ(run.log, LogBytes(LogOf(NotAdministratorRun())));
    // The check asked for the built-in Administrators group, S-1-5-32-544, after the status line's pause.
    EXPECT_EQ(platform.Events(), (Lines{L"Pause 800", L"IsTokenMember 32 544"}));
    EXPECT_TRUE(fakewmi::Calls().empty());

    // A membership call that fails counts as no administrator.
    platform.tokenMember = TRUE;
    platform.tokenResult = FALSE;
    EXPECT_EQ(RunSequence().posted, Posted(NotAdministratorRun()));
}

TEST_F(ChecksTest, WindowsBefore2000StopsWith101BeforeBootAndPowerChecks) {
    platform.major = 4;
    platform.minor = 0;
    EXPECT_EQ(RunSequence().posted, Posted(OldWindowsRun(L"4.0")));
    EXPECT_TRUE(fakewmi::Calls().empty());

    platform.versionResult = FALSE; // an unreadable version reads as 0.0
    EXPECT_EQ(RunSequence().posted, Posted(OldWindowsRun(L"0.0")));
}

TEST_F(ChecksTest, BootLoaderCheckAppliesFrom61Only) {
    struct Case {
        DWORD major, minor;
        bool applies;
    } cases[] = {{5, 0, false}, {5, 1, false}, {6, 0, false}, {6, 1, true}, {6, 2, true}, {10, 0, false}};
    UseScenario(L"partition type=\"GPT: Basic Data\"\n"); // no drive: every run ends at the drive step
    const Lines checksWithoutBootLoader = After(NoDriveRun(), L"D Windows using Legacy boot loader");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        platform.major = c.major;
        platform.minor = c.minor;
        EXPECT_EQ(After(RunSequence().posted, L"D Windows 2000 or later was found"),
                  c.applies ? Efi : checksWithoutBootLoader);
    }
}

TEST_F(ChecksTest, GptMarkerAnywhereInThePartitionTypeCountsAsEfi) {
    struct Case {
        const wchar_t* type;
        bool efi;
    } cases[] = {
        {L"Partition GPT: System", true}, {L"gpt: system", false}, {L"Installable File System", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.type).c_str());
        UseScenario(L"partition type=\"" + std::wstring(c.type) + L"\"\n"); // and no drive
        EXPECT_EQ(RunSequence().posted,
                  c.efi ? PostedUntil(L"D Windows 2000 or later was found", Efi) : Posted(NoDriveRun()));
    }
}

TEST_F(ChecksTest, BootLoaderThatWmiCannotTellStopsWith101AsAnError) {
    UseScenario(L"drive 0 model=\"VLM3064\"\n"); // disk 0 has no partition
    EXPECT_EQ(RunSequence().posted,
              PostedUntil(L"D Windows 2000 or later was found",
                          {L"F 101 1 An error occurred enumerating the WMI query results to get the disk "
                           L"partitions."}));
    EXPECT_EQ(fakewmi::LiveObjects(), 0);

    UseScenario(L"fail CreateInstance 1 0x80004005\n");
    EXPECT_EQ(RunSequence().posted,
              PostedUntil(L"D Windows 2000 or later was found",
                          {L"F 101 1 An error occurred connecting to WMI to check the boot loader."}));
    // No query ran on the connection that could not be opened.
    for (const fakewmi::Call& call : fakewmi::Calls())
        EXPECT_NE(call.method, L"ExecQuery");
}

TEST_F(ChecksTest, OnlyAnOfflineAcLineFailsThePowerCheck) {
    platform.acLineStatus = 0;
    EXPECT_EQ(RunSequence().posted, Posted(NotOnAcPowerRun()));
    EXPECT_TRUE(fakewmi::Calls().size() > 0);

    UseScenario(L"partition type=\"IFS\"\n");
    for (BYTE status : {BYTE(1), BYTE(255)}) {
        platform.acLineStatus = status;
        EXPECT_EQ(RunSequence().posted, Posted(NoDriveRun()));
    }
    platform.powerResult = FALSE; // a status that cannot be read passes like "unknown"
    EXPECT_EQ(RunSequence().posted, Posted(NoDriveRun()));
}

TEST_F(ChecksTest, EncryptedVolumesStopTheRunWith106BeforeAnythingIsExtracted) {
    const SequenceRun plain = RunSequence(true); // BitLocker's namespace does not exist
    const Lines refused =
        Until(SuccessfulRun(directory.Path()),
              L"D A supported drive was found. Model number = 'VLM306450B3D160'", {Encrypted, ReadMeHint});
    struct Case {
        const wchar_t* volume;
        bool refused;
    } cases[] = {
        {L"volume C: protection=int:0 conversion=int:0", false}, // fully decrypted, protection off
        {L"volume D: protection=int:1 conversion=int:1", false}, // another volume
        {L"volume C: protection=int:1 conversion=int:1", true},  // encrypted, protected
        {L"volume C: protection=int:0 conversion=int:1", true},  // protection suspended: still ciphertext
        {L"volume C: protection=int:0 conversion=int:3", true},  // decryption in progress
        {L"volume c: protection=int:2 conversion=int:0", true},  // locked: protection unknown
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.volume).c_str());
        UseScenario(std::wstring(SupportedDriveScenario) + c.volume + L"\n");
        const SequenceRun run = RunSequence();
        if (c.refused) {
            EXPECT_EQ(run.posted, Posted(refused));
            EXPECT_EQ(run.log, LogBytes(LogOf(refused)));
            EXPECT_FALSE(FileExists(directory.File(L"Setup.exe")));
        } else {
            EXPECT_EQ(run.posted, Posted(SuccessfulRun(directory.Path())));
            // Where the check passes the log is the same, byte for byte, as without BitLocker.
            EXPECT_EQ(RunSequence(true).log, plain.log);
        }
    }
    // The namespace is read with privacy, as BitLocker's provider demands.
    UseScenario(std::wstring(SupportedDriveScenario) + L"volume C: protection=int:0 conversion=int:0\n");
    RunSequence(true);
    const std::vector<fakewmi::Call> calls = fakewmi::Calls();
    const auto connect = std::find_if(calls.begin(), calls.end(), [](const fakewmi::Call& call) {
        return call.method == L"ConnectServer" &&
               call.args.find(L"MicrosoftVolumeEncryption") != std::wstring::npos;
    });
    ASSERT_NE(connect, calls.end());
    ASSERT_NE(connect + 1, calls.end());
    // SetBlanket: NTLM, no authorisation service, packet privacy, impersonation.
    EXPECT_EQ((connect + 1)->method, L"SetBlanket");
    EXPECT_EQ((connect + 1)->args, L"10|0|(null)|6|3|(null)|0");
}

TEST_F(ChecksTest, EncryptionCheckAppliesFromVistaAndPassesWhereBitLockerIsMissing) {
    for (DWORD major : {5u, 6u, 10u}) {
        SCOPED_TRACE(major);
        UseScenario(std::wstring(SupportedDriveScenario) + L"volume C: protection=int:1 conversion=int:1\n");
        platform.major = major;
        platform.minor = 0;
        EXPECT_EQ(RunSequence(true).posted, (Lines{major < 6 ? L"OK" : Encrypted}));
    }
}

TEST_F(ChecksTest, EncryptionThatCannotBeReadStopsWith106AsAnError) {
    const std::wstring volume =
        std::wstring(SupportedDriveScenario) + L"volume C: protection=int:0 conversion=int:0\n";
    const std::wstring prefix = L"F 106 1 An error occurred while checking BitLocker encryption. ";
    // The volume's query and its answer are the 11th: after the partition's and three positions
    // (two drives and the end) for each of the three drive queries.
    struct Case {
        const wchar_t* failure;
        const wchar_t* text;
    } cases[] = {
        {L"fail ConnectServer 3 0x80041003",
         L"An error occurred connecting to WMI to check the volume encryption."},
        {L"fail ExecQuery 11 0x80041017",
         L"An error occurred executing the WMI query to get the volume encryption."},
        {L"fail Next 11 0x40004",
         L"An error occurred enumerating the WMI query results to get the volume encryption."},
        {L"fail Next 11 0x80004005",
         L"An error occurred enumerating the WMI query results to get the volume encryption."},
        {L"fail Next 11 0x80041004",
         L"An error occurred enumerating the WMI query results to get the volume encryption."},
        // The method's answer: semi-synchronous, through a call result waited for with a bound.
        {L"fail ExecMethod 1 nocallresult", L"An error occurred getting the volume encryption from WMI."},
        {L"fail GetCallStatus 1 0x40004", L"An error occurred getting the volume encryption from WMI."},
        {L"fail GetCallStatus 1 0x80010108", L"An error occurred getting the volume encryption from WMI."},
        {L"fail GetResultObject 1 0x80041001", L"An error occurred getting the volume encryption from WMI."},
        {L"fail GetResultObject 1 0", L"An error occurred getting the volume encryption from WMI."},
        {L"fail Get:ProtectionStatus 1 0x80041002",
         L"An error occurred getting the volume encryption from WMI."},
        {L"fail ExecMethod 1 0x80041001", L"An error occurred getting the volume encryption from WMI."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.failure).c_str());
        UseScenario(volume + c.failure + L"\n");
        EXPECT_EQ(RunSequence(true).posted, (Lines{prefix + c.text}));
        EXPECT_FALSE(FileExists(directory.File(L"Setup.exe")));
        EXPECT_EQ(fakewmi::LiveObjects(), 0);
    }
    // A class that the namespace lacks passes.
    UseScenario(volume + L"fail ExecQuery 11 0x80041010\n");
    EXPECT_EQ(RunSequence(true).posted, (Lines{L"OK"}));
}

TEST_F(ChecksTest, TheConversionStatusIsAskedSemiSynchronouslyWithBoundedWaits) {
    UseScenario(std::wstring(SupportedDriveScenario) + L"volume C: protection=int:0 conversion=int:0\n");
    EXPECT_EQ(RunSequence(true).posted, (Lines{L"OK"}));
    Lines calls;
    for (const fakewmi::Call& call : fakewmi::Calls())
        if (call.method == L"ExecMethod" || call.method == L"GetCallStatus" ||
            call.method == L"GetResultObject")
            calls.push_back(call.method + L" " + call.args.substr(call.args.rfind(L'|') + 1));
    EXPECT_EQ(calls, (Lines{L"ExecMethod 16", L"GetCallStatus 60000", L"GetResultObject 60000"}));
    EXPECT_EQ(fakewmi::LiveObjects(), 0);
}
