// The restart on the worker: the countdown it reports, the shutdown privilege around the reboot
// request, and what the user is shown when the privilege cannot be had.
#include "TestSupport.h"

#include "app/RunJournal.h"
#include "install/SetupThread.h"
#include "report/ResultRecord.h"
#include "restart/Restart.h"

#include <gtest/gtest.h>

namespace {
using RestartTest = ScratchTest;
} // namespace

TEST_F(RestartTest, VisibleRestartOnTheWorkerPostsEachLineAndPauses) {
    SetupThread worker;
    worker.m_bReboot = FALSE;
    EXPECT_TRUE(RunStep(worker, [](SetupContext& context) { RestartIfRequested(context); }).posted.empty());
    EXPECT_TRUE(platform.Events().empty());

    worker.m_bReboot = TRUE;
    EXPECT_EQ(RunStep(worker, [](SetupContext& context) { RestartIfRequested(context); }).posted,
              RestartLines());
    EXPECT_EQ(platform.Events(), RestartEvents(true));
}

TEST_F(RestartTest, PrivilegeFailuresShowTheirMessageBoxesAndTheRebootIsStillRequested) {
    const std::wstring box = L"|" + ApplicationName() + L"|48";
    const std::wstring unableToOpen = L"MessageBox ERROR: Unable to open process token." + box;
    const std::wstring unableToAdjust = L"MessageBox ERROR: Uanble to adjust token privileges." + box;
    platform.adjustError = ERROR_NOT_ALL_ASSIGNED;
    EnableShutdownPrivilege();
    DisableShutdownPrivilege();
    EXPECT_EQ(platform.Events(), (Lines{L"OpenToken 40", L"Adjust shutdown 2", unableToAdjust,
                                        L"OpenToken 40", L"Adjust shutdown 0", unableToAdjust}));

    // The OK path, on the dialog's thread: a user is there to answer.
    FakePlatform noToken;
    noToken.openTokenResult = FALSE;
    EXPECT_TRUE(RequestReboot(IDOK));
    EXPECT_EQ(noToken.Events(), (Lines{L"OpenToken 40", unableToOpen, L"Adjust shutdown 2 no-token",
                                       unableToAdjust, L"Reboot 2 2147680258", L"OpenToken 40", unableToOpen,
                                       L"Adjust shutdown 0 no-token", unableToAdjust}));
    EXPECT_EQ(ApplicationName(), L"tarnwick_unit_tests");
}

TEST_F(RestartTest, ASilentRunLogsThePrivilegeErrorsInsteadOfWaitingOnABox) {
    platform.openTokenResult = FALSE;
    {
        SetupThread worker;
        worker.m_bReboot = TRUE;
        worker.m_bSilent = TRUE;
        RestartIfRequested(worker);
    }
    Lines events(15, L"Pause 1000");
    events.insert(events.end(), {L"OpenToken 40", L"Adjust shutdown 2 no-token", L"Reboot 2 2147680258",
                                 L"OpenToken 40", L"Adjust shutdown 0 no-token"});
    EXPECT_EQ(platform.Events(), events); // no message box
    Lines log{L"Logfile opened", L"Restarting Windows..."};
    for (const std::wstring& line : CountdownLines())
        log.push_back(line);
    for (int step = 0; step < 2; ++step)
        log.insert(log.end(),
                   {L"ERROR: Unable to open process token.", L"ERROR: Uanble to adjust token privileges."});
    log.push_back(L"Logfile closed");
    EXPECT_EQ(Log(), LogBytes(log));
}

TEST_F(RestartTest, ARestartIsPlannedGoesThroughTheShutdownApiWhereNoUserSeesAndARefusalIsNoStart) {
    ASSERT_TRUE(RequestReboot(0));
    EXPECT_TRUE(RebootInitiated());
    const std::wstring planned = std::to_wstring(PlannedRestartReason);
    EXPECT_EQ(planned, L"2147680258"); // planned | software | installation
    EXPECT_EQ(platform.Events(), (Lines{L"OpenToken 40", L"Adjust shutdown 2", L"Reboot 2 " + planned,
                                        L"OpenToken 40", L"Adjust shutdown 0"}));

    FakePlatform system;
    system.interactive = false;
    ASSERT_TRUE(RequestReboot(0));
    EXPECT_EQ(system.Events(), (Lines{L"OpenToken 40", L"Adjust shutdown 2", L"InitiateRestart " + planned,
                                      L"OpenToken 40", L"Adjust shutdown 0"}));

    system.rebootResult = FALSE;
    EXPECT_FALSE(RequestReboot(0));
    EXPECT_FALSE(RebootInitiated());
}

// The record and the history's last line are written before Windows is asked to restart; a restart
// that Windows refuses writes them again with 3010.
TEST_F(RestartTest, TheEndIsRecordedBeforeTheRequestAndARefusalRewritesItWith3010) {
    CommandLine commandLine;
    commandLine.m_logFile = directory.File(L"history.log");
    const auto lastEntries = [&](size_t count) {
        const std::string bytes = ReadBytes(commandLine.m_logFile);
        std::vector<std::string> texts;
        for (size_t at = bytes.find("<![LOG["); at != std::string::npos; at = bytes.find("<![LOG[", at + 1))
            texts.push_back(bytes.substr(at + 7, bytes.find("]LOG]!>", at) - at - 7));
        return std::vector<std::string>(texts.end() - std::min(count, texts.size()), texts.end());
    };
    RunJournal journal(commandLine);
    journal.Begin(false);
    std::vector<std::string> atRequest;
    platform.onReboot = [&] { atRequest = lastEntries(2); };
    platform.rebootResult = FALSE;
    EXPECT_FALSE(RequestReboot(IDOK));
    journal.End(ERROR_SUCCESS_REBOOT_REQUIRED, TarnwickDlg::RunState::Succeeded);
    EXPECT_EQ(atRequest, (std::vector<std::string>{"Windows is restarting (planned: software installation).",
                                                   "Exit code 1 (Installed)"}));
    EXPECT_EQ(lastEntries(3),
              (std::vector<std::string>{
                  "Exit code 1 (Installed)",
                  "Windows refused to restart (error 5); the update runs at the next restart.",
                  "Exit code 3010 (Installed)"}));
    DWORD code = 0, size = sizeof code;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, ResultRecordKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key),
              0);
    RegQueryValueExW(key, L"ExitCode", nullptr, nullptr, reinterpret_cast<BYTE*>(&code), &size);
    RegCloseKey(key);
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED));
}
