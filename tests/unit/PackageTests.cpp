// The package steps on real files and real processes: extraction, the installer run, the whole
// sequence through to success, and the restart on the worker.
#include "TestSupport.h"

#include "FakeWmi.h"
#include "install/SetupThread.h"
#include "package/PayloadExtraction.h"
#include "package/RunSetup.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupException.h"
#include "restart/Restart.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
using Lines = std::vector<std::wstring>;

const wchar_t* const Names[] = {L"Setup.exe",  L"Setup.ini",    L"Unins.exe",
                                L"LoadVF.bin", L"VirtFlpy.bin", L"VelomarHDv.ima"};

std::string Resource(WORD id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (resource == nullptr)
        return "(missing)";
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                       SizeofResource(module, resource));
}

struct Outcome {
    Lines posted;
    std::wstring failure; // "code error text", empty when nothing was raised
};

// Runs one step with a sink window as the dialog.
template <typename Step> Outcome RunStep(SetupThread& worker, Step step) {
    MessageSink sink;
    worker.m_hDialog = sink.Window();
    Outcome outcome;
    try {
        step(worker);
    } catch (const SetupException& e) {
        outcome.failure = std::to_wstring(e.Code) + L" " + std::to_wstring(e.IsError) + L" " + e.Message;
    }
    outcome.posted = sink.Collect();
    worker.m_hDialog = nullptr;
    return outcome;
}

class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", directory.File(L"record.txt").c_str());
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
    }
    std::string LogAfterOpened() {
        return ReadBytes(directory.File(LogFileName)).substr(LogBytes({L"Logfile opened"}).size());
    }
    std::string Record() { return ReadBytes(directory.File(L"record.txt")); }

    FakePlatform platform;
    ScratchDirectory directory;
};
} // namespace

TEST_F(PackageTest, ExtractionWritesTheSixFilesAndHoldsTheInstaller) {
    SetupThread worker;
    const Outcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.failure, L"");
    EXPECT_EQ(outcome.posted, (Lines{L"S Extracting the installation...", L"D Cleaning working directory",
                                     L"D Deleting existing files", L"D Extracting installation files"}));
    const WORD ids[] = {102, 103, 104, 105, 106, 108};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ReadBytes(directory.File(Names[i])), Resource(ids[i]));
    }
    EXPECT_EQ(ReadBytes(directory.File(L"LoadVF.bin")).size(), 512u);
    EXPECT_EQ(ReadBytes(directory.File(L"VirtFlpy.bin")).size(), 21602u);
    EXPECT_EQ(ReadBytes(directory.File(L"VelomarHDv.ima")).size(), 32505856u);

    // Nobody can change, replace or delete the installer until it has started.
    const std::wstring setup = directory.File(L"Setup.exe");
    HANDLE writer =
        CreateFileW(setup.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileW(setup.c_str()));
    EXPECT_FALSE(MoveFileW(setup.c_str(), directory.File(L"moved.exe").c_str()));
    EXPECT_EQ(ReadBytes(setup), Resource(102)); // reading stays possible
    worker.ReleaseInstaller();
    EXPECT_TRUE(DeleteFileW(setup.c_str()));
}

TEST_F(PackageTest, ExtractionCleansLeftoversAndCutsLongerFilesToSize) {
    WriteBytes(directory.File(L"VelomarHDv.ima"), std::string(33 * 1024 * 1024, '\x5a'));
    WriteBytes(directory.File(L"LoadVF.bin"), "old");
    WriteBytes(directory.File(L"other.txt"), "not ours");
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure, L"");
    EXPECT_EQ(ReadBytes(directory.File(L"VelomarHDv.ima")), Resource(108));
    EXPECT_EQ(ReadBytes(directory.File(L"LoadVF.bin")), Resource(105));
    EXPECT_EQ(ReadBytes(directory.File(L"other.txt")), "not ours");
}

TEST_F(PackageTest, DirectoryWithTrailingBackslashWritesTheSameFilesWithoutCleaning) {
    platform.currentDirectory = directory.Path() + L"\\";
    SetupThread worker;
    const Outcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.posted,
              (Lines{L"S Extracting the installation...", L"D Extracting installation files"}));
    EXPECT_EQ(ReadBytes(directory.File(L"Setup.ini")), Resource(103));
}

TEST_F(PackageTest, DriveRootIsNotCleanedFirstButEveryFileIsReplaced) {
    // The test prefix has an empty drive T: of its own.
    const std::wstring root = L"T:\\";
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    WriteBytes(root + L"LoadVF.bin", std::string(4096, 'x'));
    Outcome outcome;
    {
        SetupThread worker;
        outcome = RunStep(worker, ExtractInstallationFiles);
    }
    EXPECT_EQ(outcome.failure, L"");
    EXPECT_EQ(outcome.posted,
              (Lines{L"S Extracting the installation...", L"D Extracting installation files"}));
    EXPECT_EQ(ReadBytes(root + L"LoadVF.bin"), Resource(105));
    EXPECT_EQ(ReadBytes(root + L"VelomarHDv.ima"), Resource(108));
    for (const wchar_t* name : Names)
        EXPECT_TRUE(DeleteFileW((root + name).c_str()));
    DeleteFileW((root + LogFileName).c_str());
    SetCurrentDirectoryW(directory.Path().c_str());
}

TEST_F(PackageTest, LeftoverThatCannotBeReplacedStopsExtractionWithCode6) {
    // Unins.exe held open by another program: it survives the cleaning and cannot be created.
    HANDLE busy = CreateFileW(directory.File(L"Unins.exe").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, file handle is invalid");
    CloseHandle(busy);
    worker.ReleaseInstaller();
    EXPECT_TRUE(FileExists(directory.File(L"Setup.exe")));
    EXPECT_TRUE(FileExists(directory.File(L"Setup.ini")));
    EXPECT_FALSE(FileExists(directory.File(L"LoadVF.bin")));
    EXPECT_FALSE(FileExists(directory.File(L"VelomarHDv.ima")));
}

TEST_F(PackageTest, MappingOrViewThatCannotBeMadeStopsExtractionWithCode6) {
    platform.failMappingOfCall = 2; // Setup.ini
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, file mapping handle is invalid");
    worker.ReleaseInstaller();
    EXPECT_EQ(ReadBytes(directory.File(L"Setup.exe")), Resource(102));
    EXPECT_FALSE(FileExists(directory.File(L"Setup.ini"))); // created, then removed: never half written
    EXPECT_FALSE(FileExists(directory.File(L"Unins.exe")));

    FakePlatform views;
    views.failViewOfCall = 3; // Unins.exe
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, file view is invalid");
    worker.ReleaseInstaller();
    EXPECT_EQ(ReadBytes(directory.File(L"Setup.ini")), Resource(103));
    EXPECT_FALSE(FileExists(directory.File(L"LoadVF.bin")));

    // Windows refuses a mapping that the disk has no room for: that failure names the file.
    FakePlatform full;
    full.failMappingOfCall = 6;
    full.mappingError = ERROR_DISK_FULL;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, VelomarHDv.ima could not be written (the disk has no room for it, "
              L"code 112)");
    worker.ReleaseInstaller();
    EXPECT_FALSE(FileExists(directory.File(L"VelomarHDv.ima")));
}

TEST_F(PackageTest, ResourceFileEdgeCases) {
    HMODULE module = GetModuleHandleW(nullptr);
    try {
        ExtractResourceFile(module, 999, directory.File(L"none.bin"));
        ADD_FAILURE() << "no exception for a missing resource";
    } catch (const SetupException& e) {
        EXPECT_EQ(e.Message, L"Extract file failed, resource handle is invalid");
        EXPECT_EQ(e.Code, 6);
        EXPECT_EQ(e.IsError, 1);
    }
    EXPECT_FALSE(FileExists(directory.File(L"none.bin")));
    WriteBytes(directory.File(L"empty.bin"), "leftover");
    ExtractResourceFile(module, 900, directory.File(L"empty.bin")); // a resource of zero bytes
    EXPECT_TRUE(FileExists(directory.File(L"empty.bin")));
    EXPECT_EQ(ReadBytes(directory.File(L"empty.bin")), "");
}

TEST_F(PackageTest, InstallerRunsWithDashSInTheWorkingDirectory) {
    ExtractResourceFile(GetModuleHandleW(nullptr), 102, directory.File(L"Setup.exe"));
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:0");
    SetupThread worker;
    const Outcome outcome = RunStep(worker, RunSetup);
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

TEST_F(PackageTest, EveryInstallerOutcomeBecomesItsFailure) {
    ExtractResourceFile(GetModuleHandleW(nullptr), 102, directory.File(L"Setup.exe"));
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

TEST_F(PackageTest, MissingInstallerNamesItsPathWithCode2) {
    SetupThread worker;
    const Outcome outcome = RunStep(worker, RunSetup);
    EXPECT_EQ(outcome.failure, L"2 1 An error occurred running the installation wizard.The virtual floppy "
                               L"installation application, Setup.exe, was not found at \"" +
                                   directory.File(L"Setup.exe") +
                                   L"\". Ensure that this file is not missing, in use or corrupt.");
    EXPECT_EQ(LogAfterOpened(), LogBytes({L"Running the Velomar HD upgrade utility..."}).substr(2));
}

TEST_F(PackageTest, InstallerThatCannotStartOrWaitGivesTheWindowsError) {
    WriteBytes(directory.File(L"Setup.exe"), "this is no program");
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"193 1 An Windows error occurred running the hard drive upgrade utility. Error = 193");

    ExtractResourceFile(GetModuleHandleW(nullptr), 102, directory.File(L"Setup.exe"));
    platform.fakeWait = true;
    platform.waitResult = WAIT_FAILED;
    EXPECT_EQ(RunStep(worker, RunSetup).failure,
              L"-1 1 An Windows error occurred running the hard drive upgrade utility. Error = 4294967295");
}

TEST_F(PackageTest, InstallerPastTheTimeLimitGives258AndIsLeftRunning) {
    ExtractResourceFile(GetModuleHandleW(nullptr), 102, directory.File(L"Setup.exe"));
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

namespace {
const wchar_t* const SupportedDrive =
    L"drive 0 model=\"ATA VLM3064 50B3D160\" firmware=\"V3D1\" pnp=\"IDE\\D\"\n"
    L"partition type=\"Installable File System\"\n";

Lines SuccessLines() {
    return {L"S Checking for administrator credentials...",
            L"D Admin credentials were found",
            L"S Checking Windows version...",
            L"D Current Windows version = 6.1",
            L"D Windows 2000 or later was found",
            L"D Windows using Legacy boot loader",
            L"S Checking system power status...",
            L"D System is on AC power",
            L"S Checking hard drive model...",
            L"D A supported drive was found. Model number = 'VLM306450B3D160'",
            L"S Extracting the installation...",
            L"D Cleaning working directory",
            L"D Deleting existing files",
            L"D Extracting installation files",
            L"S Running the Velomar HD upgrade utility...",
            L"D Update executed successfully.",
            L"D Deleting existing files"};
}

Lines LogOf(const Lines& posted, const std::wstring& setupPath) {
    Lines entries{L"Logfile opened"};
    for (const std::wstring& line : posted) {
        if (line.rfind(L"D A supported drive was found.", 0) == 0)
            entries.push_back(L"Checking drive position 0 with model number = 'ATA VLM3064 50B3D160'");
        if (line == L"D Update executed successfully.")
            entries.push_back(L"executing: " + setupPath + L" -s");
        if (line.size() > 2 && (line[0] == L'S' || line[0] == L'D'))
            entries.push_back(line.substr(2));
    }
    return entries;
}
} // namespace

TEST_F(PackageTest, WholeRunSucceedsRemovesThePackageAndLogsEveryLine) {
    UseScenario(SupportedDrive);
    MessageSink sink;
    SetupThread worker;
    worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    Lines expected = SuccessLines();
    const std::vector<std::wstring> posted = sink.Collect();
    expected.push_back(L"OK");
    EXPECT_EQ(posted, expected);
    expected.pop_back();
    // "executing: " comes before the installer's own line, which the log helper puts after it.
    Lines log = LogOf(expected, directory.File(L"Setup.exe"));
    EXPECT_EQ(ReadBytes(directory.File(LogFileName)), LogBytes(log));
    for (const wchar_t* name : Names)
        EXPECT_FALSE(FileExists(directory.File(name))) << std::string(name, name + wcslen(name));
    EXPECT_EQ(Record().substr(Record().size() - 3), "\t0\n"); // the stand-in's own checks passed
    const std::vector<DWORD> pauses = platform.Pauses();
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 800u), 17);
    EXPECT_EQ(std::count(pauses.begin(), pauses.end(), 5000u), 1);
}

TEST_F(PackageTest, SilentRunWithRestartCountsDownInTheLogAndRebootsBeforeSuccess) {
    UseScenario(SupportedDrive);
    MessageSink sink;
    {
        SetupThread worker;
        worker.m_bSilent = TRUE;
        worker.m_bReboot = TRUE;
        worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    }
    EXPECT_EQ(sink.Collect(), (Lines{L"OK"}));
    Lines log = LogOf(SuccessLines(), directory.File(L"Setup.exe"));
    log.push_back(L"Restarting Windows...");
    for (int n = 15; n >= 1; --n)
        log.push_back(L"Restarting Windows in " + std::wstring(n < 10 ? L"0" : L"") + std::to_wstring(n) +
                      L" seconds...");
    log.push_back(L"Logfile closed");
    EXPECT_EQ(ReadBytes(directory.File(LogFileName)), LogBytes(log));
    Lines events = platform.Events();
    Lines tail(events.end() - 20, events.end());
    Lines expectedTail(15, L"Pause 1000");
    expectedTail.insert(expectedTail.end(), {L"OpenToken 40", L"Adjust shutdown 2", L"Reboot 2 0",
                                             L"OpenToken 40", L"Adjust shutdown 0"});
    EXPECT_EQ(tail, expectedTail);
}

TEST_F(PackageTest, InstallerFailureKeepsThePackageAndLogsItsTextTwice) {
    UseScenario(SupportedDrive);
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"exit:3");
    MessageSink sink;
    SetupThread worker;
    worker.OnStartInstall(0, reinterpret_cast<LPARAM>(new HWND(sink.Window())));
    const Lines posted = sink.Collect();
    EXPECT_EQ(posted.back(), L"F 3 0 The Setup.ini file is invalid.");
    const std::string log = ReadBytes(directory.File(LogFileName));
    EXPECT_NE(
        log.find(LogBytes({L"The Setup.ini file is invalid.", L"Exception: The Setup.ini file is invalid."})
                     .substr(2)),
        std::string::npos);
    for (const wchar_t* name : Names)
        EXPECT_TRUE(FileExists(directory.File(name)));
}

TEST_F(PackageTest, VisibleRestartOnTheWorkerPostsEachLineAndPauses) {
    MessageSink sink;
    SetupThread worker;
    worker.m_hDialog = sink.Window();
    worker.m_bReboot = FALSE;
    RestartIfRequested(worker);
    EXPECT_TRUE(sink.Collect().empty());
    EXPECT_TRUE(platform.Events().empty());

    worker.m_bReboot = TRUE;
    RestartIfRequested(worker);
    const Lines posted = sink.Collect();
    ASSERT_EQ(posted.size(), 16u);
    EXPECT_EQ(posted[0], L"S Restarting Windows...");
    EXPECT_EQ(posted[1], L"D Restarting Windows in 15 seconds...");
    EXPECT_EQ(posted[10], L"D Restarting Windows in 06 seconds...");
    EXPECT_EQ(posted[15], L"D Restarting Windows in 01 seconds...");
    Lines expected{L"Pause 800"};
    for (int n = 0; n < 15; ++n)
        expected.insert(expected.end(), {L"Pause 800", L"Pause 1000"});
    expected.insert(expected.end(), {L"OpenToken 40", L"Adjust shutdown 2", L"Reboot 2 0", L"OpenToken 40",
                                     L"Adjust shutdown 0"});
    EXPECT_EQ(platform.Events(), expected);
}

TEST_F(PackageTest, PrivilegeFailuresShowTheirMessageBoxesAndTheRebootIsStillRequested) {
    const std::wstring box = L"|" + ApplicationName() + L"|48";
    platform.adjustError = ERROR_NOT_ALL_ASSIGNED;
    EnableShutdownPrivilege();
    DisableShutdownPrivilege();
    EXPECT_EQ(platform.Events(),
              (Lines{L"OpenToken 40", L"Adjust shutdown 2",
                     L"MessageBox ERROR: Uanble to adjust token privileges." + box, L"OpenToken 40",
                     L"Adjust shutdown 0", L"MessageBox ERROR: Uanble to adjust token privileges." + box}));

    FakePlatform noToken;
    noToken.openTokenResult = FALSE;
    SetupThread worker;
    worker.m_bReboot = TRUE;
    worker.m_bSilent = TRUE;
    RestartIfRequested(worker);
    Lines events = noToken.Events();
    Lines tail(events.end() - 9, events.end());
    const std::wstring unableToOpen = L"MessageBox ERROR: Unable to open process token." + box;
    const std::wstring unableToAdjust = L"MessageBox ERROR: Uanble to adjust token privileges." + box;
    EXPECT_EQ(tail, (Lines{L"OpenToken 40", unableToOpen, L"Adjust shutdown 2 no-token", unableToAdjust,
                           L"Reboot 2 0", L"OpenToken 40", unableToOpen, L"Adjust shutdown 0 no-token",
                           unableToAdjust}));
    EXPECT_EQ(ApplicationName(), L"tarnwick_unit_tests");
}

namespace {
// A small volume of the test machine (a 4 MiB tmpfs that the test run mounts), as Wine sees it, or
// empty where the machine would not mount it.
std::wstring SmallVolume() {
    wchar_t path[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(L"TARNWICK_SMALL_VOLUME", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH ||
        GetFileAttributesW((std::wstring(path) + L"\\mounted").c_str()) == INVALID_FILE_ATTRIBUTES)
        return std::wstring();
    return path;
}

// Fills the volume but for about free bytes; the filler goes again at the end of the scope.
class Filler {
  public:
    Filler(const std::wstring& volume, ULONGLONG free) : m_path(volume + L"\\filler.bin") {
        ULARGE_INTEGER available = {};
        GetDiskFreeSpaceExW(volume.c_str(), &available, nullptr, nullptr);
        const ULONGLONG size = available.QuadPart > free ? available.QuadPart - free : 0;
        WriteBytes(m_path, std::string(static_cast<size_t>(size), 'f'));
    }
    ~Filler() { DeleteFileW(m_path.c_str()); }

  private:
    std::wstring m_path;
};
} // namespace

TEST_F(PackageTest, FaultInTheViewFailsTheCopyInsteadOfTheProgram) {
    // A view that cannot be written: the copy's access violation ends only the copy.
    const std::wstring path = directory.File(L"readonly.bin");
    WriteBytes(path, std::string(8192, 'r'));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    const std::string bytes(8192, 'w');
    EXPECT_EQ(CopyIntoView(view, bytes.data(), bytes.size()), DWORD(EXCEPTION_ACCESS_VIOLATION));
    UnmapViewOfFile(view);
    CloseHandle(mapping);
    CloseHandle(file);
    EXPECT_EQ(ReadBytes(path), std::string(8192, 'r'));
    // The filter of the process is back as it was, and a good copy returns 0.
    std::string target(16, '.');
    EXPECT_EQ(CopyIntoView(&target[0], "0123456789abcdef", 16), 0u);
    EXPECT_EQ(target, "0123456789abcdef");
}

TEST_F(PackageTest, FullDiskFailsWith6NamingTheReasonAndLeavesNoPartialFile) {
    const std::wstring volume = SmallVolume();
    if (volume.empty())
        GTEST_SKIP() << "no small volume: the test run could not mount one (not root?)";
    const std::wstring folder = volume + L"\\work";
    CreateDirectoryW(folder.c_str(), nullptr);
    Filler filler(volume, 512 * 1024); // room for the log and the small files, not for the image
    platform.currentDirectory = folder;
    SetupThread worker;
    const Outcome outcome = RunStep(worker, ExtractInstallationFiles);
    worker.ReleaseInstaller();
    EXPECT_EQ(outcome.failure.substr(0, 68),
              L"6 1 Extract file failed, the disk of the working directory is full (");
    EXPECT_NE(outcome.failure.find(L" bytes needed, "), std::wstring::npos);
    for (const wchar_t* name : Names) // checked before anything is written
        EXPECT_FALSE(FileExists(folder + L"\\" + name));

    // Past that check (the space taken meanwhile), the image itself fails to be written: on Windows
    // when the file takes its size, under Wine when the copy's pages cannot be stored.
    try {
        ExtractResourceFile(GetModuleHandleW(nullptr), 108, folder + L"\\VelomarHDv.ima");
        ADD_FAILURE() << "the image was written to a full disk";
    } catch (const SetupException& e) {
        EXPECT_EQ(e.Code, 6);
        EXPECT_EQ(e.Message.rfind(L"Extract file failed, VelomarHDv.ima could not be written (", 0), 0u)
            << e.Message;
    }
    EXPECT_FALSE(FileExists(folder + L"\\VelomarHDv.ima"));
    platform.currentDirectory.clear();
}

TEST_F(PackageTest, WorkingDirectoryTooLongForTheInstallerFailsBeforeAnythingIsWritten) {
    // The longest package path, VelomarHDv.ima's, must stay under MAX_PATH characters.
    auto deep = [&](size_t length) {
        std::wstring path = directory.Path();
        while (path.size() < length) {
            const size_t left = length - path.size(); // a backslash and a name of at least 2
            const size_t name = left <= 41 ? left - 1 : std::min<size_t>(40, left - 4);
            path += L"\\" + std::wstring(name, L'd');
            CreateDirectoryW((L"\\\\?\\" + path).c_str(), nullptr);
        }
        return path;
    };
    const std::wstring longest = deep(MAX_PATH - 1 - 15); // + "\VelomarHDv.ima": 259 characters
    platform.currentDirectory = longest;
    {
        SetupThread worker;
        EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure, L"");
        worker.ReleaseInstaller();
    }
    EXPECT_EQ(ReadBytes(longest + L"\\VelomarHDv.ima"), Resource(108));

    const std::wstring tooLong = deep(MAX_PATH - 15);
    WriteBytes(L"\\\\?\\" + tooLong + L"\\Setup.ini", "leftover");
    platform.currentDirectory = tooLong;
    SetupThread worker;
    const Outcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.failure, L"6 1 Extract file failed, the working directory's path is too long for the "
                               L"installer (260 characters; the installer takes paths of at most 259)");
    EXPECT_EQ(outcome.posted, (Lines{L"S Extracting the installation..."}));
    EXPECT_EQ(ReadBytes(L"\\\\?\\" + tooLong + L"\\Setup.ini"), "leftover"); // not cleaned either
    platform.currentDirectory.clear();
}
