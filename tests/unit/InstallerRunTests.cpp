// Running the package installer Setup.exe -s: its command line and directory, its exit codes,
// a missing or broken installer, and the time limit.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "package/PayloadExtraction.h"
#include "package/RunSetup.h"

#include <gtest/gtest.h>

namespace {
class InstallerRunTest : public ScratchTest {
  protected:
    void PutInstaller() { ExtractResourceFile(GetModuleHandleW(nullptr), 102, directory.File(L"Setup.exe")); }
    std::string LogAfterOpened() const { return Log().substr(LogBytes({L"Logfile opened"}).size()); }
};
} // namespace

TEST_F(InstallerRunTest, RunsWithDashSInTheWorkingDirectory) {
    PutInstaller();
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:0");
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, RunSetup);
    EXPECT_EQ(outcome.failure, L"");
    EXPECT_EQ(outcome.posted,
              (Lines{L"S Running the Velomar HD upgrade utility...", L"D Update executed successfully."}));
    EXPECT_EQ(LogAfterOpened(), LogBytes({L"Running the Velomar HD upgrade utility...",
                                          L"executing: " + directory.File(L"Setup.exe") + L" -s",
                                          L"Update executed successfully."})
                                    .substr(2));
    // The stand-in recorded its command line and current directory.
    const std::string record = Record();
    EXPECT_EQ(record.substr(0, record.find('\t')), "Setup.exe -s");
    EXPECT_NE(record.find("\t" + std::string(directory.Path().begin(), directory.Path().end()) + "\t"),
              std::string::npos);
    EXPECT_EQ(platform.Events(), (Lines{L"Pause 800", L"Wait 120000", L"Pause 5000", L"Pause 800"}));
}

TEST_F(InstallerRunTest, EveryInstallerOutcomeBecomesItsFailure) {
    PutInstaller();
    struct Case {
        const wchar_t* control;
        std::wstring failure;
    } cases[] = {
        {L"exit:3", L"3 0 The Setup.ini file is invalid."},
        {L"exit:1", L"1 0 This operating system is unsupported."},
        {L"exit:16", L"16 0 A unknown error occurred."},
        {L"exit:17", L"17 0 "},
        {L"crash", std::to_wstring(int32_t(0xC0000005)) + L" 0 "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::wstring(c.control).c_str());
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", c.control);
        SetupThread worker;
        EXPECT_EQ(RunStep(worker, RunSetup).failure, c.failure);
    }
    for (DWORD code = 1; code <= 16; ++code)
        EXPECT_FALSE(SetupExitCodeText(code).empty());
    EXPECT_EQ(SetupExitCodeText(12), L"An error occurred while updating the boot.ini file.");
}

TEST_F(InstallerRunTest, MissingInstallerNamesItsPathWithCode2) {
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, RunSetup);
    EXPECT_EQ(outcome.failure, L"2 1 An error occurred running the installation wizard.The virtual floppy "
                               L"installation application, Setup.exe, was not found at \"" +
                                   directory.File(L"Setup.exe") +
                                   L"\". Ensure that this file is not missing, in use or corrupt.");
    EXPECT_EQ(LogAfterOpened(), LogBytes({L"Running the Velomar HD upgrade utility..."}).substr(2));
}

TEST_F(InstallerRunTest, InstallerThatCannotStartOrWaitGivesTheWindowsError) {
    WriteBytes(directory.File(L"Setup.exe"), "this is no program");
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"193 1 An Windows error occurred running the hard drive upgrade utility. Error = 193");

    PutInstaller();
    platform.fakeWait = true;
    platform.waitResult = WAIT_FAILED;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"-1 1 An Windows error occurred running the hard drive upgrade utility. Error = 4294967295");
}

TEST_F(InstallerRunTest, InstallerPastTheTimeLimitGives258AndIsLeftRunning) {
    PutInstaller();
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:1500");
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
    platform.fakeWait = true;
    platform.waitResult = WAIT_TIMEOUT;
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"258 1 An Windows error occurred running the hard drive upgrade utility. Error = 258");
    // The installer goes on and ends by itself: it then no longer holds its file.
    bool ended = false;
    for (int i = 0; i < 100 && !ended; ++i) {
        Sleep(100);
        ended = DeleteFileW(directory.File(L"Setup.exe").c_str()) != FALSE;
    }
    EXPECT_TRUE(ended);
}

TEST_F(InstallerRunTest, StartsInThePackageFolderAskingForSystem32DllsFirst) {
    PutInstaller();
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:0");
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, RunSetup).failure, L"");
    ASSERT_EQ(platform.starts.size(), 1u);
    EXPECT_EQ(platform.starts[0].first, DWORD(CREATE_DEFAULT_ERROR_MODE | EXTENDED_STARTUPINFO_PRESENT));
    EXPECT_EQ(platform.starts[0].second, directory.Path());
}

TEST_F(InstallerRunTest, WindowsThatRefusesTheDllRequestStartsTheInstallerWithoutIt) {
    PutInstaller();
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:0");
    for (DWORD refusal : {DWORD(ERROR_INVALID_PARAMETER), DWORD(ERROR_NOT_SUPPORTED)}) {
        SCOPED_TRACE(refusal);
        platform.starts.clear();
        platform.refuseExtendedStart = refusal;
        SetupThread worker;
        EXPECT_EQ(RunStep(worker, RunSetup).failure, L"");
        ASSERT_EQ(platform.starts.size(), 2u);
        EXPECT_EQ(platform.starts[1].first, DWORD(CREATE_DEFAULT_ERROR_MODE));
        EXPECT_EQ(platform.starts[1].second, directory.Path());
    }
    // Any other refusal is the start's own failure: it is not tried again.
    platform.starts.clear();
    platform.refuseExtendedStart = ERROR_ACCESS_DENIED;
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"5 1 An Windows error occurred running the hard drive upgrade utility. Error = 5");
    EXPECT_EQ(platform.starts.size(), 1u);
}
