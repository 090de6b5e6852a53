// Extraction of the package into the working directory: the six files, the cleaning before,
// the installer held until it runs, and each way a file can fail to be written.
#include "TestSupport.h"

#include "install/SetupThread.h"
#include "package/PayloadExtraction.h"
#include "report/SetupException.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
// The bytes of a package resource of this program.
std::string Resource(WORD id) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (resource == nullptr)
        return "(missing)";
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, resource))),
                       SizeofResource(module, resource));
}

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

using ExtractionTest = ScratchTest;
} // namespace

TEST_F(ExtractionTest, WritesTheSixFilesAndHoldsEachUntilItIsDeleted) {
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.failure, L"");
    EXPECT_EQ(outcome.posted, (Lines{L"S Extracting the installation...", L"D Cleaning working directory",
                                     L"D Deleting existing files", L"D Extracting installation files"}));
    const WORD ids[] = {102, 103, 104, 105, 106, 108};
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ReadBytes(directory.File(PackageFiles[i])), Resource(ids[i]));
    }
    EXPECT_EQ(ReadBytes(directory.File(L"LoadVF.bin")).size(), 512u);
    EXPECT_EQ(ReadBytes(directory.File(L"VirtFlpy.bin")).size(), 21602u);
    EXPECT_EQ(ReadBytes(directory.File(L"VelomarHDv.ima")).size(), 32505856u);

    // Nobody can change, replace or delete a package file until the deletion releases it.
    for (const wchar_t* name : PackageFiles) {
        SCOPED_TRACE(name);
        const std::wstring path = directory.File(name);
        HANDLE writer =
            CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_FALSE(MoveFileW(path.c_str(), directory.File(L"moved.bin").c_str()));
        EXPECT_FALSE(ReadBytes(path).empty()); // reading stays possible
    }
    EXPECT_EQ(RunStep(worker, DeleteExistingFiles).failure, L"");
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(directory.File(name))) << name;
}

TEST_F(ExtractionTest, PackageFileThatIsALinkOnceOpenedIsRefusedWithCode6) {
    // Wine never shows a file link as a reparse point: the seam reports one for every file opened.
    SetupThread worker;
    platform.addedFileAttributes = FILE_ATTRIBUTE_REPARSE_POINT;
    EXPECT_EQ(
        RunStep(worker, ExtractInstallationFiles).failure,
        L"6 1 Extract file failed, Setup.exe could not be written (it is a link or a folder, not a file "
        L"of its own, code 1920)");
    platform.addedFileAttributes = 0;
    EXPECT_FALSE(FileExists(directory.File(L"Setup.exe")));
}

TEST_F(ExtractionTest, CleansLeftoversAndCutsLongerFilesToSize) {
    WriteBytes(directory.File(L"VelomarHDv.ima"), std::string(33 * 1024 * 1024, '\x5a'));
    WriteBytes(directory.File(L"LoadVF.bin"), "old");
    WriteBytes(directory.File(L"other.txt"), "not ours");
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure, L"");
    EXPECT_EQ(ReadBytes(directory.File(L"VelomarHDv.ima")), Resource(108));
    EXPECT_EQ(ReadBytes(directory.File(L"LoadVF.bin")), Resource(105));
    EXPECT_EQ(ReadBytes(directory.File(L"other.txt")), "not ours");
}

TEST_F(ExtractionTest, DirectoryWithTrailingBackslashWritesTheSameFilesWithoutCleaning) {
    platform.currentDirectory = directory.Path() + L"\\";
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.posted,
              (Lines{L"S Extracting the installation...", L"D Extracting installation files"}));
    EXPECT_EQ(ReadBytes(directory.File(L"Setup.ini")), Resource(103));
}

TEST_F(ExtractionTest, DriveRootIsNotCleanedFirstButEveryFileIsReplaced) {
    // The test prefix has an empty drive T: of its own.
    const std::wstring root = L"T:\\";
    ASSERT_TRUE(SetCurrentDirectoryW(root.c_str()));
    WriteBytes(root + L"LoadVF.bin", std::string(4096, 'x'));
    StepOutcome outcome;
    {
        SetupThread worker;
        outcome = RunStep(worker, ExtractInstallationFiles);
    }
    EXPECT_EQ(outcome.failure, L"");
    EXPECT_EQ(outcome.posted,
              (Lines{L"S Extracting the installation...", L"D Extracting installation files"}));
    EXPECT_EQ(ReadBytes(root + L"LoadVF.bin"), Resource(105));
    EXPECT_EQ(ReadBytes(root + L"VelomarHDv.ima"), Resource(108));
    for (const wchar_t* name : PackageFiles)
        EXPECT_TRUE(DeleteFileW((root + name).c_str()));
    DeleteFileW((root + LogFileName).c_str());
    SetCurrentDirectoryW(directory.Path().c_str());
}

TEST_F(ExtractionTest, LeftoverThatCannotBeReplacedStopsExtractionWithCode6) {
    // Unins.exe held open by another program: it survives the cleaning and cannot be created.
    HANDLE busy = CreateFileW(directory.File(L"Unins.exe").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    SetupThread worker;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, Unins.exe could not be written (another file holds its name and "
              L"cannot be removed, code 80)");
    CloseHandle(busy);
    worker.ReleasePackageFiles();
    EXPECT_TRUE(FileExists(directory.File(L"Setup.exe")));
    EXPECT_TRUE(FileExists(directory.File(L"Setup.ini")));
    EXPECT_FALSE(FileExists(directory.File(L"LoadVF.bin")));
    EXPECT_FALSE(FileExists(directory.File(L"VelomarHDv.ima")));
}

TEST_F(ExtractionTest, WriteThatFailsStopsExtractionWithCode6NamingTheFile) {
    platform.failWriteOfCall = 2; // Setup.ini
    SetupThread worker;
    EXPECT_EQ(
        RunStep(worker, ExtractInstallationFiles).failure,
        L"6 1 Extract file failed, Setup.ini could not be written (writing it failed: the device failed "
        L"or the program could not be read, code 23)");
    worker.ReleasePackageFiles();
    EXPECT_EQ(ReadBytes(directory.File(L"Setup.exe")), Resource(102));
    EXPECT_FALSE(FileExists(directory.File(L"Setup.ini"))); // created, then removed: never half written
    EXPECT_FALSE(FileExists(directory.File(L"Unins.exe")));

    // A disk without the room: that failure says so.
    FakePlatform full;
    full.failWriteOfCall = 7; // the image's second piece of 8 MiB
    full.writeError = ERROR_DISK_FULL;
    EXPECT_EQ(RunStep(worker, ExtractInstallationFiles).failure,
              L"6 1 Extract file failed, VelomarHDv.ima could not be written (the disk has no room for it, "
              L"code 112)");
    worker.ReleasePackageFiles();
    EXPECT_FALSE(FileExists(directory.File(L"VelomarHDv.ima")));
}

TEST_F(ExtractionTest, ResourceFileEdgeCases) {
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

TEST_F(ExtractionTest, WorkingDirectoryTooLongForTheInstallerFailsBeforeAnythingIsWritten) {
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
        worker.ReleasePackageFiles();
    }
    EXPECT_EQ(ReadBytes(longest + L"\\VelomarHDv.ima"), Resource(108));

    const std::wstring tooLong = deep(MAX_PATH - 15);
    WriteBytes(L"\\\\?\\" + tooLong + L"\\Setup.ini", "leftover");
    platform.currentDirectory = tooLong;
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, ExtractInstallationFiles);
    EXPECT_EQ(outcome.failure, L"6 1 Extract file failed, the working directory's path is too long for the "
                               L"installer (260 characters; the installer takes paths of at most 259)");
    EXPECT_EQ(outcome.posted, (Lines{L"S Extracting the installation..."}));
    EXPECT_EQ(ReadBytes(L"\\\\?\\" + tooLong + L"\\Setup.ini"), "leftover"); // not cleaned either
    platform.currentDirectory.clear();
}

TEST_F(ExtractionTest, FullDiskFailsWith6NamingTheReasonAndLeavesNoPartialFile) {
    const std::wstring volume = SmallVolume();
    if (volume.empty())
        GTEST_SKIP() << "no small volume: the test run could not mount one (not root?)";
    const std::wstring folder = volume + L"\\work";
    CreateDirectoryW(folder.c_str(), nullptr);
    Filler filler(volume, 512 * 1024); // room for the log and the small files, not for the image
    platform.currentDirectory = folder;
    SetupThread worker;
    const StepOutcome outcome = RunStep(worker, ExtractInstallationFiles);
    worker.ReleasePackageFiles();
    EXPECT_EQ(outcome.failure.substr(0, 68),
              L"6 1 Extract file failed, the disk of the working directory is full (");
    EXPECT_NE(outcome.failure.find(L" bytes needed, "), std::wstring::npos);
    for (const wchar_t* name : PackageFiles) // checked before anything is written
        EXPECT_FALSE(FileExists(folder + L"\\" + name));

    // Past that check (the space taken meanwhile), the image itself fails to be written.
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
