// The restart on the worker: the countdown it reports, the shutdown privilege around the reboot
// request, and what the user is shown when the privilege cannot be had.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "restart/Restart.h"

#include <gtest/gtest.h>

namespace {
using RestartTest = ScratchTest;
} // namespace

TEST_F(RestartTest, VisibleRestartOnTheWorkerPostsEachLineAndPauses) {
    SetupThread worker;
    worker.m_bReboot = FALSE;
    EXPECT_TRUE(RunStep(worker, RestartIfRequested).posted.empty());
    EXPECT_TRUE(platform.Events().empty());

    worker.m_bReboot = TRUE;
    EXPECT_EQ(RunStep(worker, RestartIfRequested).posted, RestartLines());
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
    EXPECT_TRUE(RequestReboot());
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
    ASSERT_TRUE(RequestReboot());
    EXPECT_TRUE(RebootInitiated());
    const std::wstring planned = std::to_wstring(PlannedRestartReason);
    EXPECT_EQ(planned, L"2147680258"); // planned | software | installation
    EXPECT_EQ(platform.Events(), (Lines{L"OpenToken 40", L"Adjust shutdown 2", L"Reboot 2 " + planned,
                                        L"OpenToken 40", L"Adjust shutdown 0"}));

    FakePlatform system;
    system.interactive = false;
    ASSERT_TRUE(RequestReboot());
    EXPECT_EQ(system.Events(), (Lines{L"OpenToken 40", L"Adjust shutdown 2", L"InitiateRestart " + planned,
                                      L"OpenToken 40", L"Adjust shutdown 0"}));

    system.rebootResult = FALSE;
    EXPECT_FALSE(RequestReboot());
    EXPECT_FALSE(RebootInitiated());
}
