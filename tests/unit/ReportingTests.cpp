// The context that every step reports through: records posted to a window that is gone, and the
// installer log's own rules.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "report/Messages.h"

#include <gtest/gtest.h>

namespace {
using ReportingTest = ScratchTest;
} // namespace

TEST_F(ReportingTest, PostsThatNobodyReceivesAreFreedBySender) {
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

TEST_F(ReportingTest, LogStartsWithOpenedEndsWithClosedAndReplacesAnEarlierLog) {
    WriteBytes(directory.File(LogFileName), std::string(1000, 'x'));
    {
        SetupThread worker;
        EXPECT_EQ(Log(), LogBytes({L"Logfile opened"}));
        worker.WriteLog(L"entry");
        worker.WriteLog(L"");
    }
    EXPECT_EQ(Log(), LogBytes({L"Logfile opened", L"entry", L"", L"Logfile closed"}));
}

TEST_F(ReportingTest, LongEntriesGoOnInFurtherLinesOfAtMost255Units) {
    SetupThread worker;
    std::wstring text;
    for (int i = 0; i < 600; ++i)
        text += static_cast<wchar_t>(L'a' + i % 26);
    worker.WriteLog(text);
    std::wstring pair = std::wstring(252, L'p') + L"\xD83D\xDCBE" + L"q"; // a surrogate pair across the cut
    worker.WriteLog(pair);
    worker.WriteLog(std::wstring(253, L'z')); // exactly fits
    EXPECT_EQ(Log(),
              LogBytes({L"Logfile opened", text.substr(0, 253), text.substr(253, 253), text.substr(506),
                        std::wstring(252, L'p'), L"\xD83D\xDCBEq", std::wstring(253, L'z')}));
}

TEST_F(ReportingTest, LogThatIsALinkOnceOpenedLeavesTheRunWithoutALog) {
    // Wine never shows a file link as a reparse point: the seam reports one. The name made a moment
    // ago goes again. (A hard link to a held file: the system tests.)
    platform.addedFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    {
        SetupThread worker;
        EXPECT_FALSE(worker.m_bLogOpen);
        worker.WriteLog(L"entry"); // goes nowhere
    }
    platform.addedFileAttributes = 0;
    EXPECT_FALSE(FileExists(directory.File(LogFileName)));
}

TEST_F(ReportingTest, WorkingDirectoryCannotBeRenamedWhileTheRunHoldsIt) {
    // The process's own current directory cannot be renamed either: the run sees its folder through the
    // seam while the process stands elsewhere, so that only the run's hold is tried.
    platform.currentDirectory = directory.Path();
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    const std::wstring moved = directory.Path() + L"-moved";
    {
        SetupThread worker;
        EXPECT_FALSE(MoveFileW(directory.Path().c_str(), moved.c_str()));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    }
    EXPECT_TRUE(MoveFileW(directory.Path().c_str(), moved.c_str())); // released with the run
    EXPECT_TRUE(MoveFileW(moved.c_str(), directory.Path().c_str()));
    SetCurrentDirectoryW(directory.Path().c_str());
    platform.currentDirectory.clear();
}
