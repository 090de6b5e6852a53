// The production Tarnwick.exe, unchanged, under Wine: its window, its log, its exit codes and the
// files it leaves, with Wine's own WMI and with scenarios of the fake WMI provider.
#include "ProgramTest.h"

namespace {
const wchar_t* const LogName = L"VelomarHDDInstallerLog.txt";

class SystemTest : public ProgramTest {
  protected:
    std::string Log() const { return ReadBytes(directory + L"\\" + LogName); }
};
} // namespace

TEST_F(SystemTest, WineWmiVisibleRunShowsEveryLineAndEndsWith104OnClose) {
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.Started());
    ASSERT_NE(run.WaitForDialog(), nullptr);
    ASSERT_TRUE(run.WaitForStatus(L"This hard disk model is not supported. Model = WineDiskDrive"));
    EXPECT_EQ(run.StatusLinesSeen(),
              (Lines{L"Checking for administrator credentials...", L"Checking Windows version...",
                     L"Checking system power status...", L"Checking hard drive model...",
                     L"This hard disk model is not supported. Model = WineDiskDrive"}));
    const DialogView view = run.Read();
    EXPECT_TRUE(view.visible);
    EXPECT_EQ(view.detail, L"");
    EXPECT_TRUE(view.hintVisible);
    EXPECT_EQ(view.hint, L"Press the \"Close\" button to exit.");
    EXPECT_TRUE(view.closeEnabled);
    EXPECT_FALSE(view.okEnabled);
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 104u);
    EXPECT_EQ(Log(), LogBytes(LogOf(
                         DriveStepRun({L"L Checking drive position 0 with model number = 'Wine Disk Drive'",
                                       L"L Checking drive position 1 with model number = 'Wine Disk Drive'",
                                       L"F 104 0 This hard disk model is not supported. Model = "
                                       L"WineDiskDrive"}))));
}

TEST_F(SystemTest, SilentRunShowsNoWindowAndWritesTheSameLog) {
    ProgramRun run(directory, L"/s");
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.WaitForExit(), 104u);
    EXPECT_FALSE(run.EverVisible());
    EXPECT_NE(
        Log().find(
            LogBytes({L"Exception: This hard disk model is not supported. Model = WineDiskDrive"}).substr(2)),
        std::string::npos);
}

TEST_F(SystemTest, EscapeWhileRunningEndsWith2) {
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"Checking Windows version...", 20000));
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(10000), 2u);
}

TEST_F(SystemTest, WindowsNt4EndsWith101AndItsExactLog) {
    SetWindowsVersion(L"nt40");
    ProgramRun run(directory, L"-s");
    EXPECT_EQ(run.WaitForExit(), 101u);
    EXPECT_EQ(Log(), LogBytes(LogOf(OldWindowsRun(L"4.0"))));
}

TEST_F(SystemTest, UserWithoutAdministratorRightsEndsWith100) {
    ProgramRun run(directory, L"/s", true);
    ASSERT_TRUE(run.Started());
    EXPECT_EQ(run.WaitForExit(), 100u);
    EXPECT_EQ(Log(), LogBytes(LogOf(NotAdministratorRun())));
}

TEST_F(SystemTest, SilentSuccessEndsWith3010AndLeavesNoPackageFile) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(directory, L"/s");
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_FALSE(run.EverVisible());
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory))));
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(File(name)));
    // The stand-in installer ran as "Setup.exe -s" in the working directory, and its own checks of
    // the extracted files passed.
    std::string record = ReadBytes(File(L"record.txt"));
    const std::string expected = "Setup.exe -s\t" + std::string(directory.begin(), directory.end()) + "\t0\n";
    EXPECT_EQ(record, expected);
}

TEST_F(SystemTest, VisibleSuccessThenOkCountsDownAndEndsWith1) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SessionEndBlocker blocker;
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"The installation completed successfully.", 90000));
    DialogView view = run.Read();
    EXPECT_EQ(view.detail, L"You need to reboot for this update to take effect.");
    EXPECT_EQ(view.hint, L"Press \"OK\" to reboot now or \"Close\" to exit.");
    EXPECT_TRUE(view.okEnabled && view.closeEnabled && view.hintVisible);
    EXPECT_EQ(run.StatusLinesSeen(),
              (Lines{L"Checking for administrator credentials...", L"Checking Windows version...",
                     L"Checking system power status...", L"Checking hard drive model...",
                     L"Extracting the installation...", L"Running the Velomar HD upgrade utility...",
                     L"The installation completed successfully."}));
    run.Press(IDOK);
    ASSERT_TRUE(run.WaitForStatus(L"Restarting Windows...", 5000));
    view = run.Read();
    EXPECT_FALSE(view.okEnabled || view.closeEnabled || view.hintVisible);
    EXPECT_EQ(view.detail.substr(0, 22), L"Restarting Windows in ");
    EXPECT_EQ(run.WaitForExit(30000), 1u);
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory))));
}

TEST_F(SystemTest, VisibleSuccessThenCloseEndsWith3010) {
    FakeWmiScenario wmi(directory,
                        "drive 0 model=\"VLM2016\" firmware=null pnp=\"P\"\npartition type=\"IFS\"\n");
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"The installation completed successfully.", 90000));
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 3010u);
}

TEST_F(SystemTest, SilentRestartCountsDownInTheLogRequestsTheRebootAndEndsWith0) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SessionEndBlocker blocker;
    ProgramRun run(directory, L"/s /r");
    EXPECT_EQ(run.WaitForExit(60000), 0u);
    EXPECT_FALSE(run.EverVisible());
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory, true))));
}

TEST_F(SystemTest, GptDiskOnWindows7EndsWith101AndTheReadMeHint) {
    FakeWmiScenario wmi(directory, "drive 0 model=\"VLM2016\"\npartition type=\"GPT: Basic Data\"\n");
    ProgramRun run(directory, L"");
    ASSERT_TRUE(
        run.WaitForStatus(L"Windows is using an EFI boot loader, we can't deploy this update.", 30000));
    for (int i = 0; i < 100 && run.Read().detail.empty(); ++i)
        Sleep(20);
    const DialogView view = run.Read();
    EXPECT_EQ(view.detail, L"Refer to the ReadMe file for instructions to update the firmware locally.");
    EXPECT_TRUE(view.closeEnabled);
    EXPECT_FALSE(view.okEnabled);
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 101u);
}

TEST_F(SystemTest, WmiFailuresAndMissingValuesEndWithTheirCodes) {
    struct Case {
        const char* scenario;
        const wchar_t* version;
        DWORD code;
        std::wstring lastEntry;
    } cases[] = {
        {"drive 0 model=\"VLM2016\"\nfail ExecQuery 1 0x80041017\n", L"vista", 103,
         L"Exception: An error occurred while checking the hard drive model. "
         L"An error occurred executing the WMI query to get the drive model."},
        {"partition type=\"IFS\"\n", L"win7", 104,
         L"Exception: This hard disk model is not supported. Model = "},
        {"drive 0 model=null pnp=\"P\"\npartition type=\"IFS\"\n", L"win7", 104,
         L"Exception: This hard disk model is not supported. Model = "},
        {"drive 0 model=\"VLM2016\"\n", L"win7", 101,
         L"Exception: An error occurred enumerating the WMI query results to get the disk partitions."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        FakeWmiScenario wmi(directory, c.scenario);
        SetWindowsVersion(c.version);
        ProgramRun run(directory, L"/s");
        EXPECT_EQ(run.WaitForExit(), c.code);
        EXPECT_NE(Log().find(LogBytes({c.lastEntry}).substr(2)), std::string::npos);
        EXPECT_EQ(Log().substr(Log().size() - LogBytes({c.lastEntry}).size() + 2),
                  LogBytes({c.lastEntry}).substr(2));
    }
}

TEST_F(SystemTest, InstallerFailureLeavesThePackageAndEndsWithItsCode) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:7");
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"The DOS image file appears to be invalid.", 90000));
    EXPECT_EQ(run.Read().detail, L"");
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 7u);
    for (const wchar_t* name : PackageFiles)
        EXPECT_TRUE(FileExists(File(name)));
    const std::string tail = LogBytes({L"The DOS image file appears to be invalid.",
                                       L"Exception: The DOS image file appears to be invalid."})
                                 .substr(2);
    EXPECT_EQ(Log().substr(Log().size() - tail.size()), tail);
}

// What another program can do to the dialog while the run goes on: click its disabled buttons and
// post its message numbers with made-up records and outcomes. None of it changes the run.
TEST_F(SystemTest, ForgedClicksAndMessagesDuringTheRunChangeNothing) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:3000");
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"Checking hard drive model...", 30000));
    run.Post(0x8003, 0, 0);    // a status line without a record
    run.Post(0x8005, 0, 0x10); // a failure record at a wild address
    run.Post(0x8008, 0, 0);    // success, before the worker got there
    ASSERT_TRUE(run.WaitForStatus(L"Running the Velomar HD upgrade utility...", 60000));
    run.Press(IDOK);    // the disabled OK, while the installer runs
    run.Press(IDCLOSE); // the disabled Close
    run.Post(0x8008, 0, 0);
    ASSERT_TRUE(run.WaitForStatus(L"The installation completed successfully.", 60000));
    EXPECT_TRUE(run.Read().okEnabled);
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory))));
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(File(name)));
}

TEST_F(SystemTest, OkAfterAFailureDoesNotRestart) {
    FakeWmiScenario wmi(directory, "partition type=\"IFS\"\n");
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"This hard disk model is not supported. Model = ", 30000));
    run.Press(IDOK);
    Sleep(500);
    EXPECT_EQ(run.Read().status, L"This hard disk model is not supported. Model = ");
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 104u);
}

TEST_F(SystemTest, KilledDuringAPauseTheLogHoldsTheLineTheWindowShows) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(directory, L"");
    ASSERT_TRUE(run.WaitForStatus(L"Checking system power status...", 30000));
    run.Kill();
    const std::string entry = LogBytes({L"Checking system power status..."}).substr(2);
    EXPECT_NE(Log().find(entry), std::string::npos);
}

TEST_F(SystemTest, ControlCharactersInADriveModelNeverForgeALogEntry) {
    FakeWmiScenario wmi(directory, "drive 0 model=\"VLM\\u0000x\\u000D\\u000AException: forged\" pnp=\"P\"\n"
                                   "partition type=\"IFS\"\n");
    ProgramRun run(directory, L"/s");
    EXPECT_EQ(run.WaitForExit(), 104u);
    EXPECT_EQ(
        Log(),
        LogBytes(LogOf(DriveStepRun(
            {L"L Checking drive position 0 with model number = 'VLM\uFFFDx\uFFFD\uFFFDException: forged'",
             L"F 104 0 This hard disk model is not supported. Model = "
             L"VLM\uFFFDx\uFFFD\uFFFDException:forged"}))));
}

TEST_F(SystemTest, WmiThatStopsAnsweringFailsTheQueryAfterItsTimeOut) {
    FakeWmiScenario wmi(directory, "drive 0 model=\"VLM2016\"\nfail Next 1 hang\n");
    SetWindowsVersion(L"vista"); // no boot-loader query: the drive query is the first to wait
    ProgramRun run(directory, L"/s");
    EXPECT_EQ(run.WaitForExit(120000), 103u);
    const std::wstring last = L"Exception: An error occurred while checking the hard drive model. "
                              L"An error occurred enumerating the WMI query results to get the drive model.";
    EXPECT_EQ(Log().substr(Log().size() - LogBytes({last}).size() + 2), LogBytes({last}).substr(2));
}

TEST_F(SystemTest, WorkingDirectoryTooLongForTheInstallerFailsWith6BeforeWritingAFile) {
    std::wstring deep = directory;
    while (deep.size() < 250) {
        deep += L"\\" + std::wstring(std::min<size_t>(40, 250 - deep.size()), L'd');
        CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr);
    }
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(deep, L"/s");
    EXPECT_EQ(run.WaitForExit(), 6u);
    const std::string log = ReadBytes(L"\\\\?\\" + deep + L"\\" + LogName);
    EXPECT_NE(
        log.find(LogBytes({L"Exception: Extract file failed, the working directory's path is too long for "
                           L"the installer (" +
                           std::to_wstring(deep.size() + 15) +
                           L" characters; the installer takes paths of at most 259)"})
                     .substr(2)),
        std::string::npos);
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(L"\\\\?\\" + deep + L"\\" + name));
}

TEST_F(SystemTest, FullDiskFailsWith6AndAnEntryThatSaysSo) {
    wchar_t volume[MAX_PATH] = L"";
    if (!GetEnvironmentVariableW(L"TARNWICK_SMALL_VOLUME", volume, MAX_PATH) ||
        !FileExists(std::wstring(volume) + L"\\mounted"))
        GTEST_SKIP() << "no small volume: the test run could not mount one (not root?)";
    const std::wstring folder = std::wstring(volume) + L"\\system";
    CreateDirectoryW(folder.c_str(), nullptr);
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(folder, L"/s");
    EXPECT_EQ(run.WaitForExit(), 6u);
    const std::string log = ReadBytes(folder + L"\\" + LogName);
    EXPECT_NE(
        log.find(LogBytes({L"Exception: Extract file failed, the disk of the working directory is full ("})
                     .substr(2, 150)),
        std::string::npos);
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(folder + L"\\" + name));
    DeleteFileW((folder + L"\\" + LogName).c_str());
    RemoveDirectoryW(folder.c_str());
}

TEST_F(SystemTest, BitLockerOnTheWindowsVolumeEndsWith106AndADecryptedOneChangesNothing) {
    {
        FakeWmiScenario wmi(directory, std::string(SupportedBehindUnsupported()) +
                                           "volume C: protection=int:0 conversion=int:1\n");
        ProgramRun run(directory, L"");
        ASSERT_TRUE(run.WaitForStatus(
            L"BitLocker encryption is on for drive C:, we can't deploy this update onto it.", 60000));
        for (int i = 0; i < 100 && run.Read().detail.empty(); ++i)
            Sleep(20);
        EXPECT_EQ(run.Read().detail,
                  L"Refer to the ReadMe file for instructions to update the firmware locally.");
        run.Press(IDCLOSE);
        EXPECT_EQ(run.WaitForExit(), 106u);
        for (const wchar_t* name : PackageFiles)
            EXPECT_FALSE(FileExists(File(name)));
    }
    // A failing method, and one that succeeds without the call result it was asked for, as Wine's does.
    for (const char* failure : {"fail ExecMethod 1 0x80041003\n", "fail ExecMethod 1 nocallresult\n"}) {
        SCOPED_TRACE(failure);
        FakeWmiScenario wmi(directory, std::string(SupportedBehindUnsupported()) +
                                           "volume C: protection=int:0\n" + failure);
        ProgramRun run(directory, L"/s");
        EXPECT_EQ(run.WaitForExit(), 106u);
        const std::wstring last = L"Exception: An error occurred while checking BitLocker encryption. "
                                  L"An error occurred getting the volume encryption from WMI.";
        EXPECT_EQ(Log().substr(Log().size() - LogBytes({last}).size() + 2), LogBytes({last}).substr(2));
    }
    FakeWmiScenario wmi(directory, std::string(SupportedBehindUnsupported()) +
                                       "volume C: protection=int:0 conversion=int:0\n");
    ProgramRun run(directory, L"/s");
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory))));
}
