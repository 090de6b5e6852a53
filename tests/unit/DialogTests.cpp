// The main dialog, run modally for real, driven from a second thread as the worker and the user
// would: its lines, buttons, hint, visibility and the value it ends with.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "report/Messages.h"
#include "report/SetupException.h"
#include "resources/resource.h"
#include "restart/Restart.h"
#include "ui/CommandLine.h"
#include "ui/TarnwickDlg.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
// A worker that takes the start message and does nothing: the test posts in its place.
class IdleWorker : public SetupThread {
  public:
    static HWND s_startWindow;
    static BOOL s_silent, s_reboot;
    void OnStartInstall(WPARAM, LPARAM lParam) override {
        auto* block = reinterpret_cast<HWND*>(lParam);
        s_startWindow = *block;
        s_silent = m_bSilent;
        s_reboot = m_bReboot;
        delete block;
    }
};
HWND IdleWorker::s_startWindow = nullptr;
BOOL IdleWorker::s_silent = -1, IdleWorker::s_reboot = -1;

class TestDialog : public TarnwickDlg {
  public:
    explicit TestDialog(Lines arguments, bool failStart = false)
        : m_arguments(std::move(arguments)), m_failStart(failStart),
          m_ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~TestDialog() override { CloseHandle(m_ready); }
    HWND WaitForWindow() {
        WaitForSingleObject(m_ready, 10000);
        return m_hWnd;
    }

  protected:
    BOOL OnInitDialog() override {
        const BOOL result = TarnwickDlg::OnInitDialog();
        SetEvent(m_ready);
        return result;
    }
    void ParseCommandLine(CommandLine& commandLine) override {
        std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"Tarnwick.exe")};
        for (std::wstring& argument : m_arguments)
            argv.push_back(&argument[0]);
        Application::ParseArguments(static_cast<int>(argv.size()), argv.data(), commandLine);
    }
    SetupThread* NewWorker() override { return new IdleWorker; }
    bool StartWorker(SetupThread& worker) override {
        if (m_failStart) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        return worker.CreateThread();
    }

  private:
    Lines m_arguments;
    bool m_failStart;
    HANDLE m_ready;
};

struct DialogState {
    std::wstring status, detail, hint;
    bool hintVisible, okEnabled, closeEnabled, visible;
};

std::wstring Text(HWND dialog, int id) {
    wchar_t text[512] = {};
    GetDlgItemTextW(dialog, id, text, 512);
    return text;
}

DialogState Read(HWND dialog) {
    SendMessageW(dialog, WM_NULL, 0, 0); // the dialog's thread has handled everything sent before
    return {Text(dialog, IDC_STATUS_TEXT),
            Text(dialog, IDC_DETAIL_TEXT),
            Text(dialog, IDC_HINT_TEXT),
            IsWindowVisible(GetDlgItem(dialog, IDC_HINT_TEXT)) != FALSE,
            IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE,
            IsWindowEnabled(GetDlgItem(dialog, IDCLOSE)) != FALSE,
            IsWindowVisible(dialog) != FALSE};
}

void Click(HWND dialog, int id) {
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The worker's messages, registered as the worker registers them, and handled before they return.
template <typename Record> void SendRecord(HWND dialog, UINT message, Record* record) {
    RegisterPosted(record);
    SendMessageW(dialog, message, 0, reinterpret_cast<LPARAM>(record));
}

void Status(HWND dialog, const wchar_t* text) {
    SendRecord(dialog, WM_SETUP_STATUS, new std::wstring(text));
}

void Detail(HWND dialog, const wchar_t* text) {
    SendRecord(dialog, WM_SETUP_DETAIL, new std::wstring(text));
}

void Fail(HWND dialog, int32_t code, BYTE isError, const wchar_t* text) {
    SendRecord(dialog, WM_SETUP_FAILED, new SetupException(text, code, isError));
}

void Succeed(HWND dialog) {
    RegisterSucceeded();
    SendMessageW(dialog, WM_SETUP_SUCCEEDED, 0, 0);
}

// Runs the dialog modally on this thread while script drives it from another; returns the result.
template <typename Script> INT_PTR RunDialog(TestDialog& dialog, Script script) {
    std::thread driver([&] {
        HWND window = dialog.WaitForWindow();
        script(window);
        // A dialog the script did not end is a failure, not a hang.
        for (int i = 0; i < 100 && IsWindow(window); ++i)
            Sleep(50);
        if (IsWindow(window)) {
            ADD_FAILURE() << "the dialog did not end";
            PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const INT_PTR result = dialog.DoModal();
    driver.join();
    return result;
}

using DialogTest = ScratchTest;
} // namespace

TEST_F(DialogTest, StartsTheWorkerWithItsWindowAndTheSwitches) {
    TestDialog dialog({L"/x", L"-r"});
    const INT_PTR result = RunDialog(dialog, [](HWND window) {
        const DialogState state = Read(window);
        EXPECT_EQ(state.status, L"[ status text... ]");
        EXPECT_FALSE(state.okEnabled);
        EXPECT_FALSE(state.closeEnabled);
        EXPECT_FALSE(state.hintVisible);
        EXPECT_TRUE(state.visible);
        for (int i = 0; i < 100 && IdleWorker::s_startWindow != window; ++i)
            Sleep(20);
        EXPECT_EQ(IdleWorker::s_startWindow, window);
        EXPECT_EQ(IdleWorker::s_reboot, 1);
        EXPECT_EQ(IdleWorker::s_silent, 0);
        EXPECT_EQ(SendMessageW(window, WM_QUERYDRAGICON, 0, 0),
                  SendMessageW(window, WM_GETICON, ICON_BIG, 0));
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0); // Esc while the installation runs
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST_F(DialogTest, FailureShowsItsTextAndOnlyCloseWhichEndsWithItsCode) {
    TestDialog dialog({});
    const INT_PTR result = RunDialog(dialog, [](HWND window) {
        Status(window, L"Checking...");
        Detail(window, L"a detail");
        EXPECT_EQ(Read(window).detail, L"a detail");
        Fail(window, 100, 0, L"Admin credentials were not found.");
        const DialogState state = Read(window);
        EXPECT_EQ(state.status, L"Admin credentials were not found.");
        EXPECT_EQ(state.detail, L"");
        EXPECT_TRUE(state.hintVisible);
        EXPECT_EQ(state.hint, L"Press the \"Close\" button to exit.");
        EXPECT_FALSE(state.okEnabled);
        EXPECT_TRUE(state.closeEnabled);
        Click(window, IDCLOSE);
    });
    EXPECT_EQ(result, 100);
}

TEST_F(DialogTest, ErrorFailureHeadsItsTextAndAZeroCodeClosesWith3010) {
    TestDialog dialog({});
    const INT_PTR result = RunDialog(dialog, [](HWND window) {
        Fail(window, 0, 1, L"Extract file failed, file handle is invalid");
        const DialogState state = Read(window);
        EXPECT_EQ(state.status, L"An error occurred...");
        EXPECT_EQ(state.detail, L"Extract file failed, file handle is invalid");
        Click(window, IDCLOSE);
    });
    EXPECT_EQ(result, 3010);
}

TEST_F(DialogTest, SuccessOffersOkAndCloseAndCloseEndsWith3010) {
    TestDialog dialog({});
    const INT_PTR result = RunDialog(dialog, [](HWND window) {
        Succeed(window);
        const DialogState state = Read(window);
        EXPECT_EQ(state.status, L"The installation completed successfully.");
        EXPECT_EQ(state.detail, L"You need to reboot for this update to take effect.");
        EXPECT_EQ(state.hint, L"Press \"OK\" to reboot now or \"Close\" to exit.");
        EXPECT_TRUE(state.hintVisible);
        EXPECT_TRUE(state.okEnabled);
        EXPECT_TRUE(state.closeEnabled);
        Click(window, IDCLOSE);
    });
    EXPECT_EQ(result, 3010);
    EXPECT_TRUE(platform.Events().empty()); // no restart
}

TEST_F(DialogTest, OkCountsDownOnceEndsWith1AndRequestsTheReboot) {
    TestDialog dialog({});
    HWND window = nullptr;
    Lines countdown;
    bool okAgainTried = false;
    platform.onPause = [&](DWORD) {
        const DialogState state{Text(window, IDC_STATUS_TEXT),
                                Text(window, IDC_DETAIL_TEXT),
                                L"",
                                IsWindowVisible(GetDlgItem(window, IDC_HINT_TEXT)) != FALSE,
                                IsWindowEnabled(GetDlgItem(window, IDOK)) != FALSE,
                                IsWindowEnabled(GetDlgItem(window, IDCLOSE)) != FALSE,
                                true};
        EXPECT_EQ(state.status, L"Restarting Windows...");
        EXPECT_FALSE(state.okEnabled || state.closeEnabled || state.hintVisible);
        countdown.push_back(state.detail);
        if (!okAgainTried) { // a second OK while counting down does nothing
            okAgainTried = true;
            Click(window, IDOK);
        }
    };
    const INT_PTR result = RunDialog(dialog, [&](HWND w) {
        window = w;
        Succeed(w);
        Click(w, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(countdown, CountdownLines());
    EXPECT_EQ(platform.Events(), RestartEvents(false));
}

TEST_F(DialogTest, SilentRunNeverShowsAndEndsWithTheOutcome) {
    {
        TestDialog dialog({L"s"});
        const INT_PTR result = RunDialog(dialog, [](HWND window) {
            EXPECT_FALSE(Read(window).visible);
            SendMessageW(window, WM_SETUP_SHOW, 0, 0);
            EXPECT_FALSE(Read(window).visible);
            EXPECT_EQ(IdleWorker::s_silent, 1);
            Fail(window, 102, 0, L"System is not on AC power.");
        });
        EXPECT_EQ(result, 102);
    }
    {
        TestDialog dialog({L"/s"});
        EXPECT_EQ(RunDialog(dialog, [](HWND window) { Succeed(window); }), 3010);
    }
    EXPECT_TRUE(platform.Pauses().empty());
}

TEST_F(DialogTest, HideHidesAndShowShowsAVisibleDialog) {
    TestDialog dialog({});
    RunDialog(dialog, [](HWND window) {
        for (int i = 0; i < 100 && !Read(window).visible; ++i) // shown once its initialisation is done
            Sleep(20);
        // The dialog manager shows the dialog once more when its loop first goes idle; a hide that
        // came before that is undone, so hide until the dialog stays hidden.
        bool hidden = false;
        for (int i = 0; i < 10 && !hidden; ++i) {
            SendMessageW(window, WM_SETUP_HIDE, 0, 0);
            hidden = !Read(window).visible;
            Sleep(100);
            hidden = hidden && !Read(window).visible;
        }
        EXPECT_TRUE(hidden);
        SendMessageW(window, WM_SETUP_SHOW, 0, 0);
        EXPECT_TRUE(Read(window).visible);
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    });
}

TEST_F(DialogTest, SuccessWithRestartSwitchEndsAfterThreeSecondsWithItsResult) {
    ASSERT_TRUE(RequestReboot(0)); // as the worker does before it reports the success
    TestDialog dialog({L"/r", L"/s"});
    EXPECT_EQ(RunDialog(dialog, [](HWND window) { PostSucceeded(window); }), 0);
    EXPECT_EQ(platform.Pauses(), (std::vector<DWORD>{3000}));
}

TEST_F(DialogTest, ARestartThatWindowsRefusedEndsWith3010NotAsStarted) {
    platform.rebootResult = FALSE;
    ASSERT_FALSE(RequestReboot(0));
    TestDialog silent({L"/r", L"/s"});
    EXPECT_EQ(RunDialog(silent, [](HWND window) { PostSucceeded(window); }), ERROR_SUCCESS_REBOOT_REQUIRED);

    TestDialog visible({});
    EXPECT_EQ(RunDialog(visible,
                        [](HWND window) {
                            Succeed(window);
                            Click(window, IDOK);
                        }),
              ERROR_SUCCESS_REBOOT_REQUIRED);
}

TEST_F(DialogTest, CheckOnlyOffersCloseAloneWhichEndsWith0) {
    TestDialog dialog({L"/c", L"/r"});
    EXPECT_EQ(RunDialog(dialog,
                        [](HWND window) {
                            Status(window, L"The update can be installed on this machine.");
                            Succeed(window);
                            const DialogState state = Read(window);
                            EXPECT_EQ(state.status, L"The update can be installed on this machine.");
                            EXPECT_FALSE(state.okEnabled);
                            EXPECT_TRUE(state.closeEnabled);
                            EXPECT_EQ(state.hint, L"Press the \"Close\" button to exit.");
                            Click(window, IDOK); // does nothing: there is nothing to restart into
                            EXPECT_TRUE(IsWindow(window));
                            Click(window, IDCLOSE);
                        }),
              0);
    TestDialog silent({L"/s", L"/c"});
    EXPECT_EQ(RunDialog(silent, [](HWND window) { PostSucceeded(window); }), 0);
    EXPECT_TRUE(platform.Pauses().empty()); // no restart wait
}

TEST_F(DialogTest, WorkerThatCannotStartIsReportedAndEndsWith105) {
    {
        TestDialog dialog({}, true);
        const INT_PTR result = RunDialog(dialog, [](HWND window) {
            // The failure was posted during the initialisation; a message sent since may be
            // handled before it, so wait for it to show.
            for (int i = 0; i < 100 && !Read(window).closeEnabled; ++i)
                Sleep(20);
            const DialogState state = Read(window);
            EXPECT_EQ(state.status, L"An error occurred...");
            EXPECT_EQ(state.detail, L"The installation could not be started. Error = 8");
            EXPECT_TRUE(state.closeEnabled);
            Click(window, IDCLOSE);
        });
        EXPECT_EQ(result, WorkerNotStarted);
    }
    EXPECT_EQ(Log(),
              LogBytes({L"Logfile opened", L"Exception: The installation could not be started. Error = 8",
                        L"Logfile closed"}));
    TestDialog silent({L"s"}, true);
    EXPECT_EQ(RunDialog(silent, [](HWND) {}), WorkerNotStarted);
}

TEST_F(DialogTest, ButtonsActOnlyInTheirStateAndMessagesTheWorkerDidNotPostAreIgnored) {
    TestDialog dialog({});
    const INT_PTR result = RunDialog(dialog, [](HWND window) {
        Status(window, L"Running the Velomar HD upgrade utility...");
        // Clicks on the disabled buttons while the run goes on: no restart, no end.
        Click(window, IDOK);
        Click(window, IDCLOSE);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_EQ(Read(window).status, L"Running the Velomar HD upgrade utility...");
        EXPECT_FALSE(Read(window).okEnabled);

        // What another program could post: no record, a record never registered, a wild pointer,
        // a success the worker has not reached, and a record handled already.
        std::wstring forged = L"forged";
        SendMessageW(window, WM_SETUP_STATUS, 0, 0);
        SendMessageW(window, WM_SETUP_DETAIL, 0, reinterpret_cast<LPARAM>(&forged));
        SendMessageW(window, WM_SETUP_FAILED, 0, 0x1234);
        SendMessageW(window, WM_SETUP_SUCCEEDED, 0, 0);
        auto* line = new std::wstring(L"once");
        SendRecord(window, WM_SETUP_DETAIL, line);
        SendMessageW(window, WM_SETUP_DETAIL, 0, reinterpret_cast<LPARAM>(line)); // freed: not again
        const DialogState state = Read(window);
        EXPECT_EQ(state.status, L"Running the Velomar HD upgrade utility...");
        EXPECT_EQ(state.detail, L"once");
        EXPECT_FALSE(state.okEnabled || state.closeEnabled);
        EXPECT_TRUE(IsWindow(window));

        // After a failure OK still does nothing; Close ends with the failure's code.
        Fail(window, 7, 0, L"The DOS image file appears to be invalid.");
        SendMessageW(window, WM_SETUP_SUCCEEDED, 0, 0);
        Click(window, IDOK);
        EXPECT_EQ(Read(window).status, L"The DOS image file appears to be invalid.");
        EXPECT_FALSE(Read(window).okEnabled);
        Click(window, IDCLOSE);
    });
    EXPECT_EQ(result, 7);
    EXPECT_TRUE(platform.Events().empty()); // never a restart
}

// Esc abandons only what can be abandoned (the system tests show each stage of a real run): the
// extraction ends once the worker has posted that its files are removed, and an Esc after the
// restart request is dropped, not kept for later.
TEST_F(DialogTest, EscEndsAnExtractionOnlyOnTheWorkersWordAndNothingOnceTheRestartIsRequested) {
    TestDialog extracting({});
    EXPECT_EQ(RunDialog(extracting,
                        [](HWND window) {
                            g_pSetupThread->EnterStage(RunStage::Extracting);
                            SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
                            EXPECT_TRUE(g_pSetupThread->Cancelled());
                            SendMessageW(window, WM_SETUP_CANCELLED, 0, 0); // not posted by the worker
                            EXPECT_TRUE(IsWindow(window));
                            PostCancelled(window);
                        }),
              IDCANCEL);
    EXPECT_EQ(extracting.m_runState, TarnwickDlg::RunState::Running); // recorded as Cancelled
    TestDialog restarting({});
    EXPECT_EQ(RunDialog(restarting,
                        [](HWND window) {
                            g_pSetupThread->EnterStage(RunStage::Restarting);
                            SendMessageW(window, WM_COMMAND, IDCANCEL, 0);
                            Succeed(window);
                            Click(window, IDCLOSE);
                        }),
              ERROR_SUCCESS_REBOOT_REQUIRED);
}
