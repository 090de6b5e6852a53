// The install sequence through its seams: lines and records in order, pauses, silent mode, the log.
#include "TestSupport.h"

#include "FakeWmi.h"
#include "install/SetupThread.h"
#include "platform/WorkingDirectory.h"
#include "report/Messages.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
using Lines = std::vector<std::wstring>;

const wchar_t* const SupportedDrive = L"drive 0 model=\"ATA VLM3064 50B3D160\" firmware=\"V3D1\" "
                                      L"pnp=\"IDE\\DiskVLM306450B3D160_____V3D1____\\5&1\"\n"
                                      L"partition type=\"Installable File System\"\n";

struct RunResult {
    Lines posted;
    std::string log;
};

// Runs the sequence on this thread with a sink window as the dialog; returns what was posted and
// the log as it stands when the run has ended.
RunResult RunSequence(bool silent = false, bool reboot = false) {
    MessageSink sink;
    SetupThread worker;
    worker.m_bSilent = silent;
    worker.m_bReboot = reboot;
    worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    RunResult run{sink.Collect(), ReadBytes(CombinePath(GetWorkingDirectory(), LogFileName))};
    return run;
}

class SequenceTest : public ::testing::Test {
  protected:
    void SetUp() override { UseScenario(SupportedDrive); }
    FakePlatform platform;
    ScratchDirectory directory;
};
} // namespace

TEST_F(SequenceTest, NotAnAdministratorStopsAtOnceWith100) {
    platform.tokenMember = FALSE;
    const RunResult run = RunSequence();
    EXPECT_EQ(run.posted, (Lines{L"S Checking for administrator credentials...",
                                 L"F 100 0 Admin credentials were not found."}));
    EXPECT_EQ(run.log, LogBytes({L"Logfile opened", L"Checking for administrator credentials...",
                                 L"Exception: Admin credentials were not found."}));
    EXPECT_EQ(platform.Pauses(), (std::vector<DWORD>{800}));
    // The check asked for the built-in Administrators group, S-1-5-32-544.
    EXPECT_EQ(platform.Events().at(1), L"IsTokenMember 32 544");
    EXPECT_TRUE(fakewmi::Calls().empty());
}

TEST_F(SequenceTest, FailedMembershipCallCountsAsNoAdministrator) {
    platform.tokenResult = FALSE;
    EXPECT_EQ(RunSequence().posted.back(), L"F 100 0 Admin credentials were not found.");
}

TEST_F(SequenceTest, WindowsBefore2000StopsWith101BeforeBootAndPowerChecks) {
    platform.major = 4;
    platform.minor = 0;
    const RunResult run = RunSequence();
    EXPECT_EQ(run.posted,
              (Lines{L"S Checking for administrator credentials...", L"D Admin credentials were found",
                     L"S Checking Windows version...", L"D Current Windows version = 4.0",
                     L"F 101 0 Windows 2000 or later was not found."}));
    EXPECT_TRUE(fakewmi::Calls().empty());
}

TEST_F(SequenceTest, UnreadableVersionReadsAsZeroAndFails) {
    platform.versionResult = FALSE;
    const Lines posted = RunSequence().posted;
    EXPECT_EQ(posted[3], L"D Current Windows version = 0.0");
    EXPECT_EQ(posted.back(), L"F 101 0 Windows 2000 or later was not found.");
}

TEST_F(SequenceTest, BootLoaderCheckAppliesFrom61Only) {
    struct Case {
        DWORD major, minor;
        bool applies;
    } cases[] = {{5, 0, false}, {5, 1, false}, {6, 0, false}, {6, 1, true}, {6, 2, true}, {10, 0, false}};
    UseScenario(L"partition type=\"GPT: Basic Data\"\n"); // no drive: every run ends at the drive step
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        fakewmi::ClearCalls();
        platform.major = c.major;
        platform.minor = c.minor;
        const Lines posted = RunSequence().posted;
        if (c.applies) {
            EXPECT_EQ(posted[5], L"D Windows using EFI boot loader");
            EXPECT_EQ(posted[6],
                      L"F 101 0 Windows is using an EFI boot loader, we can't deploy this update.");
            EXPECT_EQ(posted[7],
                      L"D Refer to the ReadMe file for instructions to update the firmware locally.");
            EXPECT_EQ(posted.size(), 8u);
        } else {
            EXPECT_EQ(posted[5], L"S Checking system power status...");
            EXPECT_EQ(posted.back(), L"F 104 0 This hard disk model is not supported. Model = ");
        }
    }
}

TEST_F(SequenceTest, LegacyBootLoaderGoesOn) {
    const Lines posted = RunSequence().posted;
    EXPECT_EQ(posted[5], L"D Windows using Legacy boot loader");
    EXPECT_EQ(posted[6], L"S Checking system power status...");
}

TEST_F(SequenceTest, GptMarkerAnywhereInThePartitionTypeCountsAsEfi) {
    UseScenario(L"partition type=\"Partition GPT: System\"\n");
    EXPECT_EQ(RunSequence().posted[5], L"D Windows using EFI boot loader");
    UseScenario(L"partition type=\"gpt: system\"\n");
    EXPECT_EQ(RunSequence().posted[5], L"D Windows using Legacy boot loader");
}

TEST_F(SequenceTest, BootLoaderThatWmiCannotTellStopsWith101AsAnError) {
    UseScenario(L"drive 0 model=\"VLM3064\"\n"); // disk 0 has no partition
    Lines posted = RunSequence().posted;
    EXPECT_EQ(posted.back(),
              L"F 101 1 An error occurred enumerating the WMI query results to get the disk partitions.");
    EXPECT_EQ(posted.size(), 6u);
    EXPECT_EQ(fakewmi::LiveObjects(), 0);

    UseScenario(L"fail CreateInstance 1 0x80004005\n");
    posted = RunSequence().posted;
    EXPECT_EQ(posted.back(), L"F 101 1 An error occurred connecting to WMI to check the boot loader.");
    // No query ran on the connection that could not be opened.
    for (const fakewmi::Call& call : fakewmi::Calls())
        EXPECT_NE(call.method, L"ExecQuery");
}

TEST_F(SequenceTest, OnlyAnOfflineAcLineFailsThePowerCheck) {
    platform.acLineStatus = 0;
    Lines posted = RunSequence().posted;
    EXPECT_EQ(posted.back(), L"F 102 0 System is not on AC power.");
    EXPECT_EQ(posted[posted.size() - 2], L"S Checking system power status...");
    EXPECT_TRUE(fakewmi::Calls().size() > 0);

    UseScenario(L"partition type=\"IFS\"\n");
    for (BYTE status : {BYTE(1), BYTE(255)}) {
        platform.acLineStatus = status;
        posted = RunSequence().posted;
        EXPECT_EQ(posted.back(), L"F 104 0 This hard disk model is not supported. Model = ");
    }
    platform.powerResult = FALSE; // a status that cannot be read passes like "unknown"
    EXPECT_EQ(RunSequence().posted.back(), L"F 104 0 This hard disk model is not supported. Model = ");
}

TEST_F(SequenceTest, SilentRunPostsOnlyTheOutcomeAndNeverPauses) {
    platform.acLineStatus = 0;
    const RunResult visible = RunSequence(false);
    const size_t visiblePauses = platform.Pauses().size();
    const RunResult silent = RunSequence(true);
    EXPECT_EQ(silent.posted, (Lines{L"F 102 0 System is not on AC power."}));
    EXPECT_EQ(silent.log, visible.log);
    EXPECT_EQ(platform.Pauses().size(), visiblePauses);
    EXPECT_EQ(visiblePauses, 7u); // 3 status + 4 detail lines, none after the failure
}

TEST_F(SequenceTest, PostsThatNobodyReceivesAreFreedBySender) {
    struct QuietPlatform : Platform {
        void Pause(DWORD) override {}
    } quiet; // keeps no record of its own that would count as allocations
    SetCurrentPlatform(&quiet);
    MessageSink sink;
    SetupThread worker;
    worker.m_hDialog = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x7ff0)); // no such window
    const long before = g_liveAllocations;
    worker.PostStatus(L"status");
    worker.PostDetail(L"detail");
    worker.ReportError(L"failure", 1, 1);
    EXPECT_EQ(g_liveAllocations, before);

    worker.m_hDialog = sink.Window();
    worker.PostDetail(L"got");                // short enough to need no buffer of its own
    EXPECT_EQ(g_liveAllocations, before + 1); // the copy now belongs to the window
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, sink.Window(), WM_SETUP_DETAIL, WM_SETUP_DETAIL, PM_REMOVE));
    EXPECT_TRUE(TakeRecord<std::wstring>(msg.lParam)); // as the receiver does, which frees it
    EXPECT_EQ(g_liveAllocations, before);
    SetCurrentPlatform(&platform);
}

TEST_F(SequenceTest, LogStartsWithOpenedEndsWithClosedAndReplacesAnEarlierLog) {
    const std::wstring log = directory.File(LogFileName);
    WriteBytes(log, std::string(1000, 'x'));
    {
        SetupThread worker;
        EXPECT_EQ(ReadBytes(log), LogBytes({L"Logfile opened"}));
        worker.WriteLog(L"entry");
        worker.WriteLog(L"");
    }
    EXPECT_EQ(ReadBytes(log), LogBytes({L"Logfile opened", L"entry", L"", L"Logfile closed"}));
}

TEST_F(SequenceTest, LongEntriesGoOnInFurtherLinesOfAtMost255Units) {
    SetupThread worker;
    std::wstring text;
    for (int i = 0; i < 600; ++i)
        text += static_cast<wchar_t>(L'a' + i % 26);
    worker.WriteLog(text);
    std::wstring pair = std::wstring(252, L'p') + L"\xD83D\xDCBE" + L"q"; // a surrogate pair across the cut
    worker.WriteLog(pair);
    worker.WriteLog(std::wstring(253, L'z')); // exactly fits
    EXPECT_EQ(ReadBytes(directory.File(LogFileName)),
              LogBytes({L"Logfile opened", text.substr(0, 253), text.substr(253, 253), text.substr(506),
                        std::wstring(252, L'p'), L"\xD83D\xDCBEq", std::wstring(253, L'z')}));
}

TEST_F(SequenceTest, LogThatCannotBeCreatedLeavesTheRunGoingWithoutLog) {
    CreateDirectoryW(directory.File(LogFileName).c_str(), nullptr); // a folder in the log's place
    platform.acLineStatus = 0;
    const RunResult run = RunSequence();
    EXPECT_EQ(run.posted.back(), L"F 102 0 System is not on AC power.");
    EXPECT_TRUE(GetFileAttributesW(directory.File(LogFileName).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(SequenceTest, UnreadableWorkingDirectoryFallsBackToTheCurrentDirectory) {
    platform.failCurrentDirectory = true;
    EXPECT_EQ(GetWorkingDirectory(), L"");
    EXPECT_EQ(CombinePath(GetWorkingDirectory(), L"Setup.exe"), L"Setup.exe");
    platform.acLineStatus = 0;
    const RunResult run = RunSequence();
    platform.failCurrentDirectory = false;
    EXPECT_EQ(run.posted.back(), L"F 102 0 System is not on AC power.");
    const std::string opened = LogBytes({L"Logfile opened"});
    EXPECT_EQ(ReadBytes(directory.File(LogFileName)).substr(0, opened.size()), opened);
}

TEST(WorkingDirectory, CombinePathJoinsWithExactlyOneBackslash) {
    EXPECT_EQ(CombinePath(L"C:\\work", L"a.txt"), L"C:\\work\\a.txt");
    EXPECT_EQ(CombinePath(L"C:\\work\\", L"a.txt"), L"C:\\work\\a.txt");
    EXPECT_EQ(CombinePath(L"C:\\", L"a.txt"), L"C:\\a.txt");
}

TEST_F(SequenceTest, EncryptedVolumesStopTheRunWith106BeforeAnythingIsExtracted) {
    const RunResult plain = RunSequence(true); // BitLocker's namespace does not exist
    const std::wstring refusal =
        L"F 106 0 BitLocker encryption is on for drive C:, we can't deploy this update onto it.";
    const std::wstring hint = L"D Refer to the ReadMe file for instructions to update the firmware locally.";
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
        UseScenario(std::wstring(SupportedDrive) + c.volume + L"\n");
        const RunResult run = RunSequence();
        if (c.refused) {
            EXPECT_EQ(Lines(run.posted.end() - 2, run.posted.end()), (Lines{refusal, hint}));
            EXPECT_FALSE(FileExists(directory.File(L"Setup.exe")));
            EXPECT_NE(run.log.find(LogBytes({refusal.substr(8)}).substr(2)), std::string::npos);
        } else {
            EXPECT_EQ(run.posted.back(), L"OK");
            // Where the check passes the log is the same, byte for byte, as without BitLocker.
            EXPECT_EQ(RunSequence(true).log, plain.log);
        }
    }
    // The namespace is read with privacy, as BitLocker's provider demands.
    UseScenario(std::wstring(SupportedDrive) + L"volume C: protection=int:0 conversion=int:0\n");
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

TEST_F(SequenceTest, EncryptionCheckAppliesFromVistaAndPassesWhereBitLockerIsMissing) {
    const std::wstring encrypted =
        std::wstring(SupportedDrive) + L"volume C: protection=int:1 conversion=int:1\n";
    for (DWORD major : {5u, 6u, 10u}) {
        SCOPED_TRACE(major);
        UseScenario(encrypted);
        platform.major = major;
        platform.minor = 0;
        EXPECT_EQ(
            RunSequence(true).posted.back(),
            major < 6
                ? L"OK"
                : L"F 106 0 BitLocker encryption is on for drive C:, we can't deploy this update onto it.");
    }
}

TEST_F(SequenceTest, EncryptionThatCannotBeReadStopsWith106AsAnError) {
    const std::wstring volume =
        std::wstring(SupportedDrive) + L"volume C: protection=int:0 conversion=int:0\n";
    const std::wstring prefix = L"F 106 1 An error occurred while checking BitLocker encryption. ";
    struct Case {
        const wchar_t* failure;
        const wchar_t* text;
    } cases[] = {
        {L"fail ConnectServer 3 0x80041003",
         L"An error occurred connecting to WMI to check the volume encryption."},
        {L"fail ExecQuery 8 0x80041017",
         L"An error occurred executing the WMI query to get the volume encryption."},
        {L"fail Next 8 0x40004",
         L"An error occurred enumerating the WMI query results to get the volume encryption."},
        {L"fail Get:ProtectionStatus 1 0x80041002",
         L"An error occurred getting the volume encryption from WMI."},
        {L"fail ExecMethod 1 0x80041001", L"An error occurred getting the volume encryption from WMI."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.failure).c_str());
        UseScenario(volume + c.failure + L"\n");
        const RunResult run = RunSequence(true);
        EXPECT_EQ(run.posted, (Lines{prefix + c.text}));
        EXPECT_FALSE(FileExists(directory.File(L"Setup.exe")));
        EXPECT_EQ(fakewmi::LiveObjects(), 0);
    }
    // A class that the namespace lacks passes.
    UseScenario(volume + L"fail ExecQuery 8 0x80041010\n");
    EXPECT_EQ(RunSequence(true).posted.back(), L"OK");
}

TEST_F(SequenceTest, EachLineIsInTheLogBeforeItsPause) {
    // What the log holds while the worker pauses: a run killed then lacks no line the window shows.
    std::vector<std::string> logAtPause;
    platform.onPause = [&](DWORD) { logAtPause.push_back(ReadBytes(directory.File(LogFileName))); };
    platform.acLineStatus = 0;
    const RunResult run = RunSequence();
    ASSERT_EQ(logAtPause.size(), 7u);
    for (size_t i = 0; i < logAtPause.size(); ++i) {
        const std::string entry = LogBytes({run.posted[i].substr(2)}).substr(2);
        ASSERT_GE(logAtPause[i].size(), entry.size());
        EXPECT_EQ(logAtPause[i].substr(logAtPause[i].size() - entry.size()), entry) << i;
    }
}
