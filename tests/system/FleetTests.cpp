// What the real Tarnwick.exe leaves for deployment tools under Wine: the result record (read with
// reg query, as a detection rule would), the history log, the check-only and usage switches.
#include "ProgramTest.h"

#include <algorithm>
#include <map>

namespace {
using Record = std::map<std::wstring, std::wstring>; // value name -> data as reg query prints it

const wchar_t* const RecordKey = L"HKLM\\SOFTWARE\\Velomar\\HD Firmware Update";
// Runs reg.exe (the 64-bit view, whichever reg this is) and returns what it printed.
std::string RunReg(const std::wstring& arguments, const std::wstring& scratch) {
    const std::wstring output = scratch + L"\\reg-output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE file =
        CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = file;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"reg.exe " + arguments + L" /reg:64";
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(file);
    return ReadBytes(output);
}

Record ReadRecord(const std::wstring& scratch, const std::wstring& key = RecordKey) {
    Record record;
    const std::string text = RunReg(L"query \"" + key + L"\"", scratch);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // "    Name    REG_SZ    data"
        const size_t type = line.find("    REG_");
        if (line.compare(0, 4, "    ") != 0 || type == std::string::npos)
            continue;
        const size_t data = line.find("    ", type + 4);
        const std::string name = line.substr(4, type - 4);
        const std::string value = data == std::string::npos ? "" : line.substr(data + 4);
        record[std::wstring(name.begin(), name.end())] = std::wstring(value.begin(), value.end());
    }
    return record;
}

bool IsIsoTime(const std::wstring& text) {
    return text.size() == 20 && text[4] == L'-' && text[7] == L'-' && text[10] == L'T' && text[13] == L':' &&
           text[16] == L':' && text[19] == L'Z';
}

// The history log's entries: the text of each, with its type ("1", "2" or "3").
std::vector<std::pair<std::string, char>> Entries(const std::wstring& path) {
    std::vector<std::pair<std::string, char>> entries;
    const std::string bytes = ReadBytes(path);
    size_t at = 0;
    while ((at = bytes.find("<![LOG[", at)) != std::string::npos) {
        const size_t end = bytes.find("]LOG]!>", at);
        const size_t type = bytes.find("type=\"", end);
        if (end == std::string::npos || type == std::string::npos)
            break;
        entries.emplace_back(bytes.substr(at + 7, end - at - 7), bytes[type + 6]);
        at = end;
    }
    return entries;
}

bool HasEntry(const std::vector<std::pair<std::string, char>>& entries, const std::string& text, char type) {
    for (const auto& entry : entries)
        if (entry.first == text && entry.second == type)
            return true;
    return false;
}

// The names in a folder, with each file's size.
std::vector<std::wstring> Listing(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(std::wstring(found.cFileName) + L" " + std::to_wstring(found.nFileSizeLow));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

size_t CountEntries(const std::vector<std::pair<std::string, char>>& entries, const std::string& text,
                    char type) {
    size_t count = 0;
    for (const auto& entry : entries)
        count += entry.first == text && entry.second == type ? 1 : 0;
    return count;
}

// Under Wine the private namespace is a stub: the run lock is the Global\ mutex.
const wchar_t* const GlobalRunLock = L"Global\\TarnwickRunLock";
const char* const AnotherRunLine = "Another run is in progress on this machine; this run does nothing.";
const char* const AnotherRunEnd = "Exit code 1618 (another run is in progress)";

class FleetTest : public ProgramTest {
  protected:
    void SetUp() override {
        ProgramTest::SetUp();
        RunReg(L"delete \"" + std::wstring(RecordKey) + L"\" /f", directory);
        history = directory + L"\\history folder\\run history.log";
    }
    // A silent run with its history log in the scratch folder; returns the exit code.
    DWORD RunSilent(const std::wstring& switches) {
        ProgramRun run(directory, L"/s " + switches + L" \"/l=" + history + L"\"");
        return run.WaitForExit();
    }
    Record ReadRecord() const { return ::ReadRecord(directory); }
    bool AnyPackageFile() const {
        for (const wchar_t* name : PackageFiles)
            if (FileExists(directory + L"\\" + name))
                return true;
        return false;
    }

    std::wstring history;
};
} // namespace

TEST_F(FleetTest, SuccessRecordsInstalledWithTheDriveAndItsRevisionBefore) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ASSERT_EQ(RunSilent(L""), 3010u);
    Record record = ReadRecord();
    EXPECT_TRUE(IsIsoTime(record[L"StartTime"])) << record[L"StartTime"];
    EXPECT_TRUE(IsIsoTime(record[L"EndTime"])) << record[L"EndTime"];
    EXPECT_LE(record[L"StartTime"], record[L"EndTime"]);
    record.erase(L"StartTime");
    record.erase(L"EndTime");
    EXPECT_EQ(record, (Record{{L"State", L"Installed"},
                              {L"ExitCode", L"0xbc2"},
                              {L"Result", L"The installation completed successfully."},
                              {L"Version", L"1.0.0"},
                              {L"Switches", L"/s /l=" + history},
                              {L"DriveModel", L"ATA VLM3064 50B3D160"},
                              {L"FirmwareRevisionBefore", L"V3D1"},
                              {L"DrivePosition", L"0x1"},
                              {L"UpdateInPlace", L"0x1"},
                              {L"VerificationTask",
                               L"Registered: the drive is verified at the next start of Windows."}}));
}

TEST_F(FleetTest, EachFailureRecordsItsStateCodeAndText) {
    struct Case {
        const char* scenario; // null: Wine's own WMI
        const wchar_t* windows;
        const wchar_t* setup; // the stand-in installer's control
        DWORD code;
        const wchar_t* state;
        const wchar_t* result;
    };
    const Case cases[] = {
        {nullptr, L"win7", nullptr, 104, L"NotApplicable",
         L"This hard disk model is not supported. Model = WineDiskDrive"},
        {SupportedBehindUnsupported().c_str(), L"nt40", nullptr, 101, L"NotApplicable",
         L"Windows 2000 or later was not found."},
        {"fail ExecQuery 2 0x80041001\npartition type=\"Installable File System\"\n", L"win7", nullptr, 103,
         L"Failed",
         L"An error occurred while checking the hard drive model. An error occurred executing the WMI query "
         L"to "
         L"get the drive model."},
        {"drive 0 model=\"ATA VLM3064 50B3D160\" firmware=\"V3D1\" pnp=\"IDE\\\\DiskVLM__V3D1_\"\npartition "
         "type=\"Installable File "
         "System\"\nvolume Z: protection=int:1 conversion=int:1\nvolume C: protection=int:1 "
         "conversion=int:1\n",
         L"win7", nullptr, 106, L"Failed", nullptr},
        {SupportedBehindUnsupported().c_str(), L"win7", L"exit:7", 7, L"Failed",
         L"The DOS image file appears to be invalid."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        SetWindowsVersion(c.windows);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", c.setup);
        DWORD code = 0;
        if (c.scenario != nullptr) {
            FakeWmiScenario wmi(directory, c.scenario);
            code = RunSilent(L"");
        } else {
            code = RunSilent(L"");
        }
        EXPECT_EQ(code, c.code);
        Record record = ReadRecord();
        EXPECT_EQ(record[L"State"], c.state);
        wchar_t hex[16];
        swprintf(hex, 16, L"0x%x", static_cast<unsigned>(c.code));
        EXPECT_EQ(record[L"ExitCode"], hex);
        if (c.result != nullptr)
            EXPECT_EQ(record[L"Result"], c.result);
        else
            EXPECT_EQ(record[L"Result"].rfind(L"BitLocker encryption is on for drive ", 0), 0u)
                << record[L"Result"];
        EXPECT_TRUE(IsIsoTime(record[L"EndTime"]));
    }
}

TEST_F(FleetTest, ADriveWalkWhoseNextFailsEndsWith103AndRecordsFailed) {
    // The walk fails at position 0, and at position 1 behind an unsupported drive (where the supported
    // drive sits): neither may read as "no supported drive".
    const std::string cases[] = {"fail Next:0 1 0x80004005\n" + SupportedBehindUnsupported(),
                                 "fail Next:1 1 0x80010108\n" + SupportedBehindUnsupported()};
    const std::wstring failure = L"An error occurred while checking the hard drive model. An error occurred "
                                 L"enumerating the WMI query results to get the drive model.";
    for (const std::string& scenario : cases) {
        SCOPED_TRACE(scenario);
        FakeWmiScenario wmi(directory, scenario);
        EXPECT_EQ(RunSilent(L""), 103u);
        Record record = ReadRecord();
        EXPECT_EQ(record[L"State"], L"Failed");
        EXPECT_EQ(record[L"ExitCode"], L"0x67");
        EXPECT_EQ(record[L"Result"], failure);
        const std::string log = ReadBytes(directory + L"\\VelomarHDDInstallerLog.txt");
        EXPECT_NE(log.find(LogBytes({L"Exception: " + failure}).substr(2)), std::string::npos);
        EXPECT_FALSE(AnyPackageFile());
    }
}

TEST_F(FleetTest, ARunKilledMidwayLeavesRunning) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(directory, L"\"/l=" + history + L"\"");
    ASSERT_TRUE(run.WaitForStatus(L"Checking hard drive model..."));
    run.Kill();
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Running");
    EXPECT_TRUE(IsIsoTime(record[L"StartTime"]));
    EXPECT_EQ(record.count(L"EndTime"), 0u);
    EXPECT_EQ(record.count(L"ExitCode"), 0u);
}

TEST_F(FleetTest, CheckOnlyPassesWritesNothingAndRecordsOnlyTheCheck) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    // An installing run first: the check must leave its values alone.
    ASSERT_EQ(RunSilent(L""), 3010u);
    const Record installed = ReadRecord();
    const std::string installerRuns = ReadBytes(directory + L"\\record.txt");

    ASSERT_EQ(RunSilent(L"/c"), 0u);
    EXPECT_FALSE(AnyPackageFile());
    EXPECT_EQ(ReadBytes(directory + L"\\record.txt"), installerRuns); // the installer did not run again
    Record record = ReadRecord();
    EXPECT_TRUE(IsIsoTime(record[L"LastCheckTime"]));
    EXPECT_EQ(record[L"LastCheckExitCode"], L"0x0");
    EXPECT_EQ(record[L"LastCheckResult"], L"The update can be installed on this machine.");
    for (const auto& value : installed)
        EXPECT_EQ(record[value.first], value.second) << value.first;

    const auto entries = Entries(history);
    EXPECT_TRUE(HasEntry(entries, "Check only: nothing is installed", '1'));
    EXPECT_TRUE(HasEntry(entries, "The update can be installed on this machine.", '1'));
    EXPECT_TRUE(HasEntry(entries, "Exit code 0 (the update can be installed)", '1'));
}

TEST_F(FleetTest, CheckOnlyFailsWithTheCheckCodeAndRecordsIt) {
    ASSERT_EQ(RunSilent(L"-c"), 104u); // Wine's own drives are not supported
    EXPECT_FALSE(AnyPackageFile());
    Record record = ReadRecord();
    EXPECT_EQ(record.count(L"State"), 0u);
    EXPECT_EQ(record[L"LastCheckExitCode"], L"0x68");
    EXPECT_EQ(record[L"LastCheckResult"], L"This hard disk model is not supported. Model = WineDiskDrive");
}

TEST_F(FleetTest, CheckOnlyInTheWindowEndsWith0OnClose) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun run(directory, L"/c /r");
    ASSERT_TRUE(run.WaitForOutcome());
    const DialogView view = run.Read();
    EXPECT_EQ(view.status, L"The update can be installed on this machine.");
    EXPECT_FALSE(view.okEnabled);
    EXPECT_TRUE(view.closeEnabled);
    EXPECT_EQ(view.hint, L"Press the \"Close\" button to exit.");
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 0u);
    EXPECT_FALSE(AnyPackageFile());
}

TEST_F(FleetTest, HistoryLogHasHeaderEntriesAndExitCodeInTraceForm) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ASSERT_EQ(RunSilent(L"/S -x"), 3010u);
    const std::string bytes = ReadBytes(history);
    ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0); // UTF-8, marked as such
    const auto entries = Entries(history);
    ASSERT_GE(entries.size(), 8u);
    EXPECT_EQ(entries[0].first, "Tarnwick 1.0.0 started");
    EXPECT_EQ(entries[1].first.rfind("Command line: Tarnwick.exe /s /S -x ", 0), 0u) << entries[1].first;
    EXPECT_TRUE(HasEntry(entries, "Ignored arguments (switches are case-sensitive): /S -x", '2'));
    EXPECT_TRUE(HasEntry(entries, "Checking hard drive model...", '1'));
    EXPECT_TRUE(HasEntry(entries, "Update executed successfully.", '1'));
    EXPECT_EQ(entries.back(), std::make_pair(std::string("Exit code 3010 (Installed)"), '1'));
    // Every entry is one line with the viewer's fields.
    size_t lines = 0;
    for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2))
        ++lines;
    EXPECT_EQ(lines, entries.size());
    EXPECT_NE(bytes.find("\" component=\"Tarnwick\" context=\"\" type=\"1\" thread=\""), std::string::npos);

    // A second run appends.
    ASSERT_EQ(RunSilent(L""), 3010u);
    EXPECT_EQ(ReadBytes(history).compare(0, bytes.size(), bytes), 0);
    EXPECT_GT(Entries(history).size(), entries.size());
}

TEST_F(FleetTest, HistoryLogRotatesPastItsCapToOneOlderGeneration) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    CreateDirectoryW((directory + L"\\history folder").c_str(), nullptr);
    const std::string old(1024 * 1024 + 1, 'o');
    ASSERT_TRUE(WriteBytes(history, old));
    const std::wstring older = directory + L"\\history folder\\run history.lo_";
    ASSERT_TRUE(WriteBytes(older, "the generation before"));
    ASSERT_EQ(RunSilent(L""), 3010u);
    EXPECT_EQ(ReadBytes(older), old);
    EXPECT_LT(ReadBytes(history).size(), 64u * 1024);
    EXPECT_EQ(Entries(history).front().first, "Tarnwick 1.0.0 started");
}

// An elevated run writes no history where another user could have steered it: into a folder that
// is a link (Wine shows a Unix symbolic link to a folder as a reparse point), or through a log that is
// a second name of another file; a log past its cap is rotated over a planted older generation's
// name, never into the file behind it. The record says why the history went elsewhere.
TEST_F(FleetTest, HistoryIsNeverWrittenThroughALinkedFolderOrALinkedLog) {
    const std::wstring cases = Env(L"TARNWICK_FOLDER_CASES");
    if (cases.empty())
        GTEST_SKIP() << "TARNWICK_FOLDER_CASES is not set";
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    const std::wstring linked = cases + L"\\linked";
    ASSERT_NE(GetFileAttributesW(linked.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    {
        ProgramRun run(directory, L"/s \"/l=" + linked + L"\\run history.log\"");
        EXPECT_EQ(run.WaitForExit(), 3010u);
    }
    EXPECT_FALSE(FileExists(cases + L"\\elsewhere\\run history.log"));
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Installed");
    EXPECT_EQ(record[L"HistoryLogRefused"],
              linked + L": it is a link (a reparse point), not a folder of its own");

    // The log a hard link to another file, which another program holds open for reading and writing.
    const std::wstring other = directory + L"\\other.txt";
    ASSERT_TRUE(WriteBytes(other, "theirs"));
    CreateDirectoryW((directory + L"\\history folder").c_str(), nullptr);
    ASSERT_TRUE(CreateHardLinkW(history.c_str(), other.c_str(), nullptr));
    {
        HANDLE held = CreateFileW(other.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        EXPECT_EQ(RunSilent(L""), 3010u);
        CloseHandle(held);
    }
    EXPECT_EQ(ReadBytes(other), "theirs");
    EXPECT_EQ(ReadRecord()[L"HistoryLogRefused"], history + L": it is a link to another file");

    // Past its cap, with the older generation planted as a second name of the other file.
    ASSERT_TRUE(DeleteFileW(history.c_str()));
    const std::string old(1024 * 1024 + 1, 'o');
    ASSERT_TRUE(WriteBytes(history, old));
    const std::wstring older = directory + L"\\history folder\\run history.lo_";
    ASSERT_TRUE(CreateHardLinkW(older.c_str(), other.c_str(), nullptr));
    EXPECT_EQ(RunSilent(L""), 3010u);
    EXPECT_EQ(ReadBytes(other), "theirs");
    EXPECT_EQ(ReadBytes(older), old);
    EXPECT_EQ(Entries(history).back().first, "Exit code 3010 (Installed)");
    EXPECT_EQ(ReadRecord().count(L"HistoryLogRefused"), 0u);
}

// Where others may add files to the working folder (777 shows as Everyone may change), the package
// is written to, and its installer run in, the private folder; the installer log stays.
TEST_F(FleetTest, AWorkingFolderOthersMayWriteRunsThePackageInThePrivateFolder) {
    const std::wstring cases = Env(L"TARNWICK_FOLDER_CASES");
    if (cases.empty())
        GTEST_SKIP() << "TARNWICK_FOLDER_CASES is not set";
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    const std::wstring open = cases + L"\\777";
    ProgramRun run(open, L"/s");
    EXPECT_EQ(run.WaitForExit(), 3010u);
    wchar_t privateFolder[MAX_PATH] = L"";
    ExpandEnvironmentStringsW(L"%ProgramData%\\Velomar\\HD Firmware Update\\Package", privateFolder,
                              MAX_PATH);
    const std::string installerRuns = ReadBytes(directory + L"\\record.txt");
    const std::wstring expected = std::wstring(L"\t") + privateFolder + L"\t0\n";
    EXPECT_NE(installerRuns.find(std::string(expected.begin(), expected.end())), std::string::npos)
        << installerRuns;
    EXPECT_TRUE(FileExists(open + L"\\VelomarHDDInstallerLog.txt"));
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(open + L"\\" + name)) << std::string(name, name + wcslen(name));
}

TEST_F(FleetTest, AnUnwritableHistoryPathFallsBackAndTheRunGoesOn) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    // A folder in the file's place: no log can be opened there.
    CreateDirectoryW((directory + L"\\history folder").c_str(), nullptr);
    CreateDirectoryW(history.c_str(), nullptr);
    ProgramRun run(directory, L"/s \"/l=" + history + L"\"");
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
    wchar_t common[MAX_PATH] = L"";
    ExpandEnvironmentStringsW(L"%ProgramData%\\Velomar\\HD Firmware Update\\Tarnwick.log", common, MAX_PATH);
    const auto entries = Entries(common);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().first, "Exit code 3010 (Installed)");
    const std::string refused =
        "The history log could not be opened at " + std::string(history.begin(), history.end()) + " (error ";
    bool warned = false;
    for (const auto& entry : entries)
        warned = warned || (entry.first.rfind(refused, 0) == 0 && entry.second == '2' &&
                            entry.first.find("); it is written here instead.") != std::string::npos);
    EXPECT_TRUE(warned);
}

TEST_F(FleetTest, UsageShowsItsBoxAndChangesNothing) {
    ProgramRun run(directory, L"/?");
    HWND box = run.WaitForWindow(L"Tarnwick");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(run.Dialog(), nullptr); // no installation started
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(run.WaitForExit(), 0u);
    EXPECT_FALSE(FileExists(directory + L"\\VelomarHDDInstallerLog.txt"));
    EXPECT_TRUE(ReadRecord().empty());
}

TEST_F(FleetTest, SilentUsageShowsNothingAndEndsWith0) {
    for (const wchar_t* arguments : {L"/s /?", L"? -s"}) {
        SCOPED_TRACE(arguments);
        ProgramRun run(directory, arguments);
        EXPECT_EQ(run.WaitForExit(), 0u);
        EXPECT_FALSE(run.EverVisible());
        EXPECT_FALSE(FileExists(directory + L"\\VelomarHDDInstallerLog.txt"));
        EXPECT_TRUE(ReadRecord().empty());
    }
}

// Esc abandons only what can be abandoned. While the installer runs it is dropped, as Close is: the
// run goes on to its outcome and records it.
TEST_F(FleetTest, EscWhileTheInstallerRunsIsDroppedAndTheRunGoesOnToItsOutcome) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:3000");
    ProgramRun run(directory, L"\"/l=" + history + L"\"");
    ASSERT_TRUE(run.WaitForStatus(L"Running the Velomar HD upgrade utility...", 90000));
    run.PressEscape();
    run.Post(WM_CLOSE, 0, 0); // Alt+F4 and the like come as the same command
    EXPECT_EQ(run.WaitForExit(2000), STILL_ACTIVE);
    ASSERT_TRUE(run.WaitForStatus(L"The installation completed successfully.", 60000));
    run.Press(IDCLOSE);
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
    EXPECT_EQ(ReadRecord()[L"ExitCode"], L"0xbc2");
    EXPECT_EQ(ReadBytes(File(L"record.txt")).find("Setup.exe -s\t"), 0u); // the installer ran once, whole
    EXPECT_FALSE(AnyPackageFile());
}

// During extraction Esc stops the run at the next file, and what the run wrote is removed. The
// files take some 40 ms to write: an Esc that comes after them is dropped (the installer runs), so
// the test tries again in a new folder until one lands in time.
TEST_F(FleetTest, EscDuringExtractionRemovesWhatTheRunWroteAndEndsWith2) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:5000");
    bool cancelled = false;
    for (int attempt = 0; attempt < 6 && !cancelled; ++attempt) {
        const std::wstring folder = NewScratchFolder(L"tarnwick-esc");
        DeleteFileW((folder + L"\\record.txt").c_str()); // a folder of an earlier test process
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", (folder + L"\\record.txt").c_str());
        ProgramRun run(folder, L"\"/l=" + history + L"\"");
        ASSERT_TRUE(run.WaitForStatus(L"Extracting the installation...", 60000));
        const HWND dialog = run.Dialog();
        const std::wstring setup = folder + L"\\Setup.exe";
        for (DWORD start = GetTickCount(); !FileExists(setup) && GetTickCount() - start < 10000;)
            ; // as soon as the first file is there
        PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        const DWORD code = run.WaitForExit(10000);
        if (code == STILL_ACTIVE) { // the files were written before the Esc came: it was dropped
            EXPECT_EQ(run.Read().status, L"Running the Velomar HD upgrade utility...");
            run.Kill();
            continue;
        }
        cancelled = true;
        EXPECT_EQ(code, 2u);
        for (const wchar_t* name : PackageFiles)
            EXPECT_FALSE(FileExists(folder + L"\\" + name)) << std::string(name, name + wcslen(name));
        EXPECT_FALSE(FileExists(folder + L"\\record.txt")); // the installer never started
        EXPECT_EQ(ReadRecord()[L"State"], L"Cancelled");
        EXPECT_EQ(Entries(history).back().first, "Exit code 2 (Cancelled)");
        const std::string log = ReadBytes(folder + L"\\VelomarHDDInstallerLog.txt");
        const std::string tail =
            LogBytes({L"Deleting existing files", L"Cancelled: the package files written "
                                                  L"by this run are removed."})
                .substr(2);
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), tail.size())), tail);
    }
    EXPECT_TRUE(cancelled) << "no Esc came while the files were written";
}

// During the worker's restart countdown the update is staged: Esc ends the program with 2, no
// restart is requested, and the record says Installed.
TEST_F(FleetTest, EscDuringTheRestartCountdownEndsWith2WithoutARestartAndRecordsInstalled) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SessionEndBlocker blocker; // a restart requested all the same would end nothing here
    ProgramRun run(directory, L"/r \"/l=" + history + L"\"");
    ASSERT_TRUE(run.WaitForStatus(L"Restarting Windows...", 90000));
    run.PressEscape();
    EXPECT_EQ(run.WaitForExit(10000), 2u);
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Installed");
    EXPECT_EQ(record[L"ExitCode"], L"0x2");
    EXPECT_EQ(record[L"Result"], L"The restart was cancelled; the update runs at the next restart.");
    const auto entries = Entries(history);
    for (const auto& entry : entries)
        EXPECT_EQ(entry.first.find("Windows is restarting"), std::string::npos);
    EXPECT_EQ(entries.back(), std::make_pair(std::string("Exit code 2 (Installed)"), '1'));
    EXPECT_FALSE(AnyPackageFile());
}

// A silent failure ends the dialog at once: the failure must be in the log and the record before.
TEST_F(FleetTest, SilentFailureLogsAndRecordsItsLastWordsBeforeTheProgramEnds) {
    const std::string last = LogBytes({L"Exception: Admin credentials were not found."}).substr(2);
    for (int run = 0; run < 3; ++run) {
        ProgramRun program(directory, L"/s \"/l=" + history + L"\"", true);
        ASSERT_EQ(program.WaitForExit(), 100u);
        const std::string log = ReadBytes(File(L"VelomarHDDInstallerLog.txt"));
        EXPECT_EQ(log.substr(log.size() - std::min(log.size(), last.size())), last);
        EXPECT_EQ(ReadRecord()[L"Result"], L"Admin credentials were not found.");
        const auto entries = Entries(history);
        EXPECT_EQ(entries[entries.size() - 2].first, "Exception: Admin credentials were not found.");
    }
}

namespace {
// The record's State and ExitCode as they stand, read in the native view that the program writes.
std::pair<std::wstring, DWORD> RecordNow() {
    wchar_t state[32] = L"";
    DWORD code = 99, stateSize = sizeof state, codeSize = sizeof code;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, RecordKey + 5, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) == 0) {
        RegQueryValueExW(key, L"State", nullptr, nullptr, reinterpret_cast<BYTE*>(state), &stateSize);
        RegQueryValueExW(key, L"ExitCode", nullptr, nullptr, reinterpret_cast<BYTE*>(&code), &codeSize);
        RegCloseKey(key);
    }
    return {state, code};
}
} // namespace

// The record and the history's last line are written before Windows is asked to restart: a restart
// that goes ahead may end the program before the request returns. They are read as the request's end
// of the session asks the blocker's window. (After OK, Wine's end of the session stops at the dialog,
// which is going away, and never asks the blocker: the unit tests show that way.)
TEST_F(FleetTest, TheRecordAndTheHistoryEndAreWrittenBeforeWindowsIsAskedToRestart) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    std::pair<std::wstring, DWORD> record{L"(not asked)", 99};
    std::string lastEntry;
    {
        SessionEndBlocker blocker([&] {
            if (lastEntry.empty()) {
                record = RecordNow();
                lastEntry = Entries(history).back().first;
            }
        });
        ProgramRun run(directory, L"/s /r \"/l=" + history + L"\"");
        EXPECT_EQ(run.WaitForExit(90000), 0u);
    } // the blocker's thread has ended
    EXPECT_EQ(record, std::make_pair(std::wstring(L"Installed"), DWORD{0}));
    EXPECT_EQ(lastEntry, "Exit code 0 (Installed)");
    EXPECT_EQ(Entries(history).back().first, lastEntry); // and not written twice
}

// While a silent run's installer runs, a second silent run in the same folder, a check-only run in
// another folder and a run with a window each end with 1618: nothing written into their folders,
// the record as it was, and the first run ends as it would alone.
TEST_F(FleetTest, RunsBesideAnInstallingRunEndWith1618AndTouchNothing) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:20000");
    const std::wstring log = directory + L"\\VelomarHDDInstallerLog.txt";
    ProgramRun first(directory, L"/s \"/l=" + history + L"\"");
    const std::string executing = LogBytes({L"executing: " + directory + L"\\Setup.exe -s"}).substr(2);
    for (int i = 0; i < 600 && ReadBytes(log).find(executing) == std::string::npos; ++i)
        Sleep(100);
    ASSERT_NE(ReadBytes(log).find(executing), std::string::npos) << "the installer never started";
    const Record running = ReadRecord();
    ASSERT_EQ(running.at(L"State"), L"Running");
    const std::string logWhileInstalling = ReadBytes(log);
    const std::vector<std::wstring> folderWhileInstalling = Listing(directory);
    const std::wstring other = NewScratchFolder(L"tarnwick-other");

    ProgramRun second(directory, L"/s \"/l=" + history + L"\"");
    EXPECT_EQ(second.WaitForExit(), 1618u);
    ProgramRun check(other, L"/s /c \"/l=" + history + L"\"");
    EXPECT_EQ(check.WaitForExit(), 1618u);
    ProgramRun visible(other, L"\"/l=" + history + L"\"");
    const HWND box = visible.WaitForWindow(L"Tarnwick");
    ASSERT_NE(box, nullptr);
    wchar_t text[256] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 256);
    EXPECT_EQ(std::wstring(text).rfind(L"Another run of the Velomar HD firmware update is in progress", 0),
              0u)
        << text;
    EXPECT_EQ(visible.Dialog(), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(visible.WaitForExit(), 1618u);

    EXPECT_EQ(ReadBytes(log), logWhileInstalling);
    EXPECT_EQ(Listing(directory), folderWhileInstalling);
    EXPECT_TRUE(Listing(other).empty());
    EXPECT_EQ(ReadRecord(), running);

    EXPECT_EQ(first.WaitForExit(60000), 3010u);
    EXPECT_EQ(ReadBytes(log), LogBytes(LogOf(SuccessfulRun(directory))));
    EXPECT_FALSE(AnyPackageFile());
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
    const auto entries = Entries(history);
    EXPECT_EQ(CountEntries(entries, AnotherRunLine, '2'), 3u);
    EXPECT_EQ(CountEntries(entries, AnotherRunEnd, '2'), 3u);
    EXPECT_EQ(CountEntries(entries, "Check only: nothing is installed", '1'), 0u);
    EXPECT_EQ(entries.back(), std::make_pair(std::string("Exit code 3010 (Installed)"), '1'));
    RemoveDirectoryW(other.c_str());
}

// A run killed while it holds the lock leaves it abandoned (here another handle keeps the mutex
// alive, as a waiting run's would): the next run takes it, says so in the history and goes on.
TEST_F(FleetTest, ALockLeftByAKilledRunIsTakenAndTheHistorySaysSo) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    ProgramRun first(directory, L"\"/l=" + history + L"\"");
    ASSERT_TRUE(first.WaitForStatus(L"Checking hard drive model..."));
    HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, GlobalRunLock);
    ASSERT_NE(lock, nullptr);
    first.Kill();
    EXPECT_EQ(RunSilent(L""), 3010u);
    CloseHandle(lock);
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
    EXPECT_TRUE(HasEntry(Entries(history),
                         "The run before this one ended without releasing the run lock (it was killed or "
                         "crashed); this run goes on.",
                         '2'));
}

// Another program has taken the lock's name first (an event here; under Windows a mutex whose DACL
// shuts the run out does the same): the run cannot tell that it is alone and does nothing.
TEST_F(FleetTest, ALockNameTakenBySomeoneElseCountsAsAnotherRun) {
    HANDLE squatter = CreateEventW(nullptr, TRUE, FALSE, GlobalRunLock);
    ASSERT_NE(squatter, nullptr);
    EXPECT_EQ(RunSilent(L""), 1618u);
    CloseHandle(squatter);
    EXPECT_FALSE(FileExists(directory + L"\\VelomarHDDInstallerLog.txt"));
    EXPECT_FALSE(AnyPackageFile());
    EXPECT_TRUE(ReadRecord().empty());
    const auto entries = Entries(history); // the header, then why, then the end
    ASSERT_EQ(entries.size(), 7u);
    EXPECT_EQ(entries[0].first, "Tarnwick 1.0.0 started");
    EXPECT_EQ(entries[5],
              std::make_pair(std::string("Another run may be in progress on this machine: the run "
                                         "lock could not be taken (error 6); this run does nothing."),
                             '2'));
    EXPECT_EQ(entries[6], std::make_pair(std::string(AnotherRunEnd), '2'));
}

namespace {
// One supported drive at position 0 with a serial number; firmware is its revision now.
std::string OneDrive(const std::string& firmware, const std::string& serial = "S-0001") {
    return "drive 0 model=\"VLM2016\" firmware=\"" + firmware + "\" pnp=\"P\" serial=\"" + serial +
           "\"\npartition type=\"IFS\"\n";
}

const wchar_t* const TaskName = L"Velomar HD Firmware Update verification";

class VerificationTest : public FleetTest {
  protected:
    std::wstring Copy() const {
        return Env(L"ProgramData") + L"\\Velomar\\HD Firmware Update\\Verification\\Tarnwick.exe";
    }
    // Where Wine's Task Scheduler 2.0 keeps a registered task: the native System32 (Sysnative from a
    // 32-bit program on 64-bit Windows).
    std::wstring TaskFile() const {
        const std::wstring sysnative = Env(L"windir") + L"\\Sysnative";
        const bool wow64 = GetFileAttributesW(sysnative.c_str()) != INVALID_FILE_ATTRIBUTES;
        return (wow64 ? sysnative : Env(L"windir") + L"\\system32") + L"\\Tasks\\" + TaskName;
    }
    // A silent installing run over scenario; the exit code.
    DWORD Install(const std::string& scenario, const std::wstring& switches = L"") {
        FakeWmiScenario wmi(directory, scenario);
        return RunSilent(switches);
    }
    // The copy's verification run over scenario, as the task starts it (with the history log here).
    DWORD Verify(const std::string& scenario) {
        FakeWmiScenario wmi(directory, scenario);
        ProgramRun run(directory, L"/v \"/l=" + history + L"\"", false, Copy());
        return run.WaitForExit(120000);
    }
    size_t InstallerRuns() const {
        const std::string runs = ReadBytes(File(L"record.txt"));
        return static_cast<size_t>(std::count(runs.begin(), runs.end(), '\n'));
    }
    std::wstring PendingRemovals() const {
        return Narrowed(RunReg(L"query \"HKLM\\System\\CurrentControlSet\\Control\\Session Manager\" /v "
                               L"PendingFileRenameOperations",
                               directory));
    }
    static std::wstring Narrowed(const std::string& text) { return std::wstring(text.begin(), text.end()); }
};
} // namespace

TEST_F(VerificationTest, ASuccessRecordsTheDriveCopiesTheProgramAndRegistersTheTask) {
    DeleteFileW(TaskFile().c_str());
    ASSERT_EQ(Install(OneDrive("A1")), 3010u);
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Installed");
    EXPECT_EQ(record[L"DrivePosition"], L"0x0");
    EXPECT_EQ(record[L"DriveSerialNumber"], L"S-0001");
    EXPECT_EQ(record[L"FirmwareRevisionBefore"], L"A1");
    EXPECT_EQ(record[L"UpdateInPlace"], L"0x1");
    EXPECT_EQ(record[L"VerificationTask"],
              L"Registered: the drive is verified at the next start of Windows.");
    EXPECT_EQ(ReadBytes(Copy()), ReadBytes(Env(L"TARNWICK_EXE")));
    // What Wine's Task Scheduler 2.0 keeps of the task: its file, with the description.
    const std::string task = ReadBytes(TaskFile());
    EXPECT_NE(task.find("whether the Velomar HD firmware update reached the drive"), std::string::npos)
        << task;
    EXPECT_TRUE(
        HasEntry(Entries(history), "Registered: the drive is verified at the next start of Windows.", '1'));
    // Before the verification: the named drive already reports another revision.
    EXPECT_EQ(Install(OneDrive("A2")), 107u);
    EXPECT_EQ(InstallerRuns(), 1u);
    record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Updated");
    EXPECT_EQ(record[L"FirmwareRevisionAfter"], L"A2");
}

TEST_F(VerificationTest, ANewRevisionIsUpdatedAndASecondRunInstallsNothing) {
    ASSERT_EQ(Install(OneDrive("A1")), 3010u);
    ASSERT_EQ(Verify(OneDrive("A2")), 108u);
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"Updated");
    EXPECT_EQ(record[L"FirmwareRevisionAfter"], L"A2");
    EXPECT_TRUE(IsIsoTime(record[L"VerifiedTime"]));
    EXPECT_EQ(record[L"UpdateInPlace"], L"0x1");
    EXPECT_EQ(record[L"VerificationExitCode"], L"0x6c");
    EXPECT_FALSE(FileExists(TaskFile()));
    EXPECT_NE(PendingRemovals().find(Copy()), std::wstring::npos);
    EXPECT_TRUE(
        HasEntry(Entries(history), "Exit code 108 (verified: the drive runs the new firmware (/v))", '1'));

    // Never flashed twice: nothing extracted or run, Updated and its proof kept; "c" answers the same.
    ASSERT_EQ(InstallerRuns(), 1u);
    EXPECT_EQ(Install(OneDrive("A2")), 107u);
    EXPECT_EQ(Install(OneDrive("A2"), L"/c"), 107u);
    EXPECT_EQ(InstallerRuns(), 1u);
    EXPECT_FALSE(AnyPackageFile());
    Record after = ReadRecord();
    EXPECT_EQ(after[L"State"], L"Updated");
    EXPECT_EQ(after[L"ExitCode"], L"0x6b");
    EXPECT_EQ(after[L"Result"], L"The update is already on this drive.");
    EXPECT_EQ(after[L"LastCheckExitCode"], L"0x6b");
    for (const wchar_t* kept :
         {L"FirmwareRevisionBefore", L"FirmwareRevisionAfter", L"VerifiedTime", L"DriveModel"})
        EXPECT_EQ(after[kept], record[kept]) << kept;
}

TEST_F(VerificationTest, AStagedUpdateWaitsForTheRestartThenAnUnchangedRevisionIsNotUpdated) {
    ASSERT_EQ(Install(OneDrive("A1")), 3010u);
    // The task is still there: the second run installs nothing and waits for the restart.
    EXPECT_EQ(Install(OneDrive("A1")), 3010u);
    EXPECT_EQ(InstallerRuns(), 1u);
    EXPECT_EQ(ReadRecord()[L"Result"],
              L"The update is staged and waits for the restart of Windows; nothing was installed again.");
    ASSERT_EQ(Verify(OneDrive("A1")), 109u);
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"NotUpdated");
    EXPECT_EQ(record[L"UpdateInPlace"], L"0x0");
    EXPECT_EQ(record[L"VerificationResult"],
              L"The drive's firmware revision is still A1: the update did not take.");
    EXPECT_FALSE(FileExists(TaskFile()));
    // After NotUpdated a run installs again: the retry.
    EXPECT_EQ(Install(OneDrive("A1")), 3010u);
    EXPECT_EQ(InstallerRuns(), 2u);
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
}

TEST_F(VerificationTest, AnotherDriveOrNoWmiIsTriedThreeStartsThenNotUpdated) {
    ASSERT_EQ(Install(OneDrive("A1")), 3010u);
    // A replaced drive of the same model with a new revision does not pass.
    EXPECT_EQ(Verify(OneDrive("A2", "S-0002")), 110u);
    EXPECT_EQ(ReadRecord()[L"State"], L"Installed");
    EXPECT_EQ(
        ReadRecord()[L"VerificationResult"],
        L"The drive at position 0 has the serial number 'S-0002', not 'S-0001': it is another drive. Try 1 "
        L"of 3: again at the next start.");
    EXPECT_TRUE(FileExists(TaskFile()));
    // WMI fails every time it is asked.
    std::string noWmi = OneDrive("A2");
    for (int call = 1; call <= 4; ++call)
        noWmi += "fail ConnectServer " + std::to_string(call) + " 0x80041014\n";
    EXPECT_EQ(Verify(noWmi), 110u);
    EXPECT_EQ(ReadRecord()[L"VerificationTries"], L"0x2");
    EXPECT_EQ(Verify(noWmi), 111u);
    Record record = ReadRecord();
    EXPECT_EQ(record[L"State"], L"NotUpdated");
    EXPECT_EQ(record[L"VerificationTries"], L"0x3");
    EXPECT_EQ(
        record[L"VerificationResult"],
        L"WMI did not answer: An error occurred connecting to WMI. The drive could not be verified after 3 "
        L"starts.");
    EXPECT_FALSE(FileExists(TaskFile()));
}

// A run ends with its event: the event source is registered with the message file, which the run
// writes into the default history folder (even with "l=" elsewhere). Wine's ReportEventW keeps no
// event, so the event itself is checked in the unit tests.
TEST_F(FleetTest, ARunRegistersTheEventSourceWithItsMessageFileInTheHistoryFolder) {
    const std::wstring source = L"HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwick";
    wchar_t messages[MAX_PATH];
    ExpandEnvironmentStringsW(L"%ProgramData%\\Velomar\\HD Firmware Update\\TarnwickMessages.dll", messages,
                              MAX_PATH);
    RunReg(L"delete \"" + source + L"\" /f", directory);
    DeleteFileW(messages);
    ASSERT_EQ(RunSilent(L"/c"), 104u);
    EXPECT_TRUE(::ReadRecord(directory, source).empty()) << "a check-only run reports no event";
    EXPECT_FALSE(FileExists(messages));

    ASSERT_EQ(RunSilent(L""), 104u); // Wine's own drives are not supported
    EXPECT_EQ(::ReadRecord(directory, source),
              (Record{{L"EventMessageFile", messages}, {L"TypesSupported", L"0x7"}}));
    EXPECT_EQ(ReadBytes(messages).compare(0, 2, "MZ"), 0);
    EXPECT_TRUE(Entries(history).back().first == "Exit code 104 (NotApplicable)");
}
