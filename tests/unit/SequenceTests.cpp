// Whole runs of the install sequence: success with and without the window and the restart, a failed
// installer, the silent mode, and what a run leaves in the log and the folder.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "platform/WorkingDirectory.h"
#include "restart/NextStartTask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {
class SequenceTest : public ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        UseScenario(SupportedDriveScenario);
    }
};
} // namespace

TEST_F(SequenceTest, VisibleRunSucceedsRemovesThePackageAndLogsEveryLine) {
    const SequenceRun run = RunSequence();
    EXPECT_EQ(run.posted, Posted(SuccessfulRun(directory.Path())));
    EXPECT_EQ(run.log, LogBytes(LogOf(SuccessfulRun(directory.Path()))));
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(directory.File(name))) << std::string(name, name + wcslen(name));
    EXPECT_EQ(Record().substr(Record().size() - 3), "\t0\n"); // the stand-in's own checks passed
    const std::vector<DWORD> pauses = platform.Pauses();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 800u), 17);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 5000u), 1);
}

TEST_F(SequenceTest, SilentRunWithRestartCountsDownInTheLogAndRebootsBeforeSuccess) {
    MessageSink sink;
    {
        SetupThread worker;
        worker.m_bSilent = TRUE;
        worker.m_bReboot = TRUE;
        worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    }
    EXPECT_EQ(sink.Collect(), (Lines{L"OK"}));
    Lines log = LogOf(SuccessfulRun(directory.Path(), true));
    log.push_back(L"Logfile closed");
    EXPECT_EQ(Log(), LogBytes(log));
    // The verification task is registered before the restart is requested.
    Lines events{L"IsTokenMember 32 544", L"Wait 120000", L"Pause 5000",
                 std::wstring(L"TaskXml ") + NextStartTaskName};
    const Lines restart = RestartEvents(false);
    events.insert(events.end(), restart.begin(), restart.end());
    EXPECT_EQ(platform.Events(), events);
}

TEST_F(SequenceTest, InstallerFailureKeepsThePackageAndLogsItsTextTwice) {
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:3");
    const SequenceRun run = RunSequence();
    const Lines failed =
        Until(SuccessfulRun(directory.Path()), L"L executing: " + directory.File(L"Setup.exe") + L" -s",
              {L"L The Setup.ini file is invalid.", L"F 3 0 The Setup.ini file is invalid."});
    EXPECT_EQ(run.posted, Posted(failed));
    EXPECT_EQ(run.log, LogBytes(LogOf(failed)));
    for (const wchar_t* name : PackageFiles)
        EXPECT_TRUE(FileExists(directory.File(name)));
}

TEST_F(SequenceTest, SilentRunPostsOnlyTheOutcomeAndNeverPauses) {
    platform.acLineStatus = 0;
    const SequenceRun visible = RunSequence(false);
    const size_t visiblePauses = platform.Pauses().size();
    const SequenceRun silent = RunSequence(true);
    EXPECT_EQ(visible.posted, Posted(NotOnAcPowerRun()));
    EXPECT_EQ(silent.posted, (Lines{L"F 102 0 System is not on AC power."}));
    EXPECT_EQ(silent.log, visible.log);
    EXPECT_EQ(platform.Pauses().size(), visiblePauses);
    EXPECT_EQ(visiblePauses, 7u); // 3 status + 4 detail lines, none after the failure
}

TEST_F(SequenceTest, EachLineIsInTheLogBeforeItsPause) {
    // The log's last entry while the worker pauses: a run killed then lacks no line the window shows.
    Lines lastEntryAtPause;
    platform.onPause = [&](DWORD) {
        const std::string log = Log();
        std::wstring text(log.size() / sizeof(wchar_t), L'\0');
        std::memcpy(&text[0], log.data(), text.size() * sizeof(wchar_t));
        text.resize(text.size() - 2); // the last entry's line end
        lastEntryAtPause.push_back(text.substr(text.rfind(L"\r\n") + 2));
    };
    platform.acLineStatus = 0;
    const SequenceRun run = RunSequence();
    ASSERT_EQ(run.posted, Posted(NotOnAcPowerRun()));
    Lines shown;
    for (const std::wstring& line : run.posted)
        if (line[0] != L'F')
            shown.push_back(line.substr(2));
    EXPECT_EQ(lastEntryAtPause, shown);
}

TEST_F(SequenceTest, LogThatCannotBeCreatedLeavesTheRunGoingWithoutLog) {
    CreateDirectoryW(directory.File(LogFileName).c_str(), nullptr); // a folder in the log's place
    platform.acLineStatus = 0;
    EXPECT_EQ(RunSequence().posted, Posted(NotOnAcPowerRun()));
    EXPECT_TRUE(GetFileAttributesW(directory.File(LogFileName).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(SequenceTest, UnreadableWorkingDirectoryFallsBackToTheCurrentDirectory) {
    platform.failCurrentDirectory = true;
    EXPECT_EQ(GetWorkingDirectory(), L"");
    EXPECT_EQ(CombinePath(GetWorkingDirectory(), L"Setup.exe"), L"Setup.exe");
    platform.acLineStatus = 0;
    const SequenceRun run = RunSequence();
    platform.failCurrentDirectory = false;
    EXPECT_EQ(run.posted, Posted(NotOnAcPowerRun()));
    Lines log = LogOf(NotOnAcPowerRun());
    log.push_back(L"Logfile closed");
    EXPECT_EQ(Log(), LogBytes(log));
}

TEST(WorkingDirectory, CombinePathJoinsWithExactlyOneBackslash) {
    EXPECT_EQ(CombinePath(L"C:\\work", L"a.txt"), L"C:\\work\\a.txt");
    EXPECT_EQ(CombinePath(L"C:\\work\\", L"a.txt"), L"C:\\work\\a.txt");
    EXPECT_EQ(CombinePath(L"C:\\", L"a.txt"), L"C:\\a.txt");
}

// Esc during extraction, as the third file is written and as the last one (the image, written in
// four pieces) is: the run writes no further file, and none stays.
TEST_F(SequenceTest, EscDuringExtractionStopsBeforeTheNextFileAndRemovesWhatTheRunWrote) {
    const Lines extracting = Until(SuccessfulRun(directory.Path()), L"D Extracting installation files",
                                   {L"D Deleting existing files"});
    Lines log = LogOf(extracting);
    log.push_back(L"Cancelled: the package files written by this run are removed.");
    for (const std::pair<int, int>& cancel : {std::make_pair(3, 3), std::make_pair(6, 9)}) {
        SCOPED_TRACE(cancel.first);
        MessageSink sink;
        SetupThread worker;
        int writes = 0;
        platform.onWrite = [&] {
            if (++writes == cancel.first) {
                EXPECT_EQ(worker.Cancel(), RunStage::Extracting);
            }
        };
        worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
        Lines posted = Posted(extracting);
        posted.push_back(L"Cancelled");
        EXPECT_EQ(sink.Collect(), posted);
        EXPECT_EQ(writes, cancel.second); // not a file after the one being written
        EXPECT_EQ(Log(), LogBytes(log));
        for (const wchar_t* name : PackageFiles)
            EXPECT_FALSE(FileExists(directory.File(name))) << std::string(name, name + wcslen(name));
        EXPECT_EQ(Record(), ""); // the installer never ran
        EXPECT_TRUE(worker.WaitForRunEnd(0));
    }
}
