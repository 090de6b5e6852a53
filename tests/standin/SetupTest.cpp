// Runs the stand-in installer on fresh copies of the stand-in package, whole or damaged, the way the
// program starts it ("Setup.exe -s" in the package's folder), and checks its exit codes, its test
// controls and its run record.
// Usage: standin_setup_test PACKAGE-FOLDER SCRATCH-FOLDER [GoogleTest options]
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring g_package;
std::wstring g_scratch;

const wchar_t* const kPackageFiles[] = {L"Setup.exe",  L"Setup.ini",    L"Unins.exe",
                                        L"LoadVF.bin", L"VirtFlpy.bin", L"VelomarHDv.ima"};
const DWORD kTimedOut = 0xFFFFFFFF;
const DWORD kAccessViolation = 0xC0000005;
const long kBootSector = 2048 * 512; // the FAT16 boot sector of the image's partition

std::wstring FullPath(const std::wstring& path) {
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? std::wstring(full, n) : path;
}

class StandinSetup : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_dir = MakeDir(std::wstring(name.begin(), name.end()));
        for (const wchar_t* file : kPackageFiles)
            Restore(file);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
    }

    void TearDown() override {
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
    }

    // An empty folder of that name in the scratch folder.
    static std::wstring MakeDir(const std::wstring& name) {
        std::wstring dir = g_scratch + L"\\" + name;
        CreateDirectoryW(dir.c_str(), nullptr);
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do
                DeleteFileW((dir + L"\\" + found.cFileName).c_str());
            while (FindNextFileW(search, &found));
            FindClose(search);
        }
        return dir;
    }

    std::wstring Path(const std::wstring& name) const { return m_dir + L"\\" + name; }

    void Restore(const wchar_t* name) {
        ASSERT_TRUE(CopyFileW((g_package + L"\\" + name).c_str(), Path(name).c_str(), FALSE))
            << "cannot copy " << testing::PrintToString(std::wstring(name));
    }

    void Remove(const wchar_t* name) { ASSERT_TRUE(DeleteFileW(Path(name).c_str())); }

    void Patch(const wchar_t* name, long offset, const std::string& bytes) {
        HANDLE h = CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, offset, nullptr, FILE_BEGIN);
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h, bytes.data(), DWORD(bytes.size()), &n, nullptr));
        CloseHandle(h);
    }

    void Resize(const wchar_t* name, long size) {
        HANDLE h = CreateFileW(Path(name).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        SetFilePointer(h, size, nullptr, FILE_BEGIN);
        ASSERT_TRUE(SetEndOfFile(h));
        CloseHandle(h);
    }

    // Writes Setup.ini from ASCII lines as UTF-16LE with CR LF, after the byte-order mark if asked.
    void WriteIni(const std::vector<std::string>& lines, bool bom = true) {
        std::string bytes = bom ? "\xFF\xFE" : "";
        for (const std::string& line : lines)
            for (char c : line + "\r\n")
                bytes += std::string{c, '\0'};
        ASSERT_TRUE(WriteBytes(Path(L"Setup.ini"), bytes));
    }

    // Starts Setup.exe from the test folder as the program does, with the given command line and
    // current directory (the test folder by default); gives its exit code, or kTimedOut after ending
    // a run that did not finish within the limit.
    DWORD Run(const std::wstring& commandLine = L"Setup.exe -s", DWORD limitMs = 60000,
              const std::wstring& currentDir = std::wstring()) {
        std::wstring buffer = commandLine;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        std::wstring dir = currentDir.empty() ? m_dir : currentDir;
        if (!CreateProcessW(Path(L"Setup.exe").c_str(), &buffer[0], nullptr, nullptr, FALSE,
                            CREATE_DEFAULT_ERROR_MODE, nullptr, dir.c_str(), &si, &pi)) {
            ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
            return kTimedOut - 1;
        }
        DWORD code = kTimedOut;
        if (WaitForSingleObject(pi.hProcess, limitMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(pi.hProcess, &code);
        } else {
            TerminateProcess(pi.hProcess, 1);
            WaitForSingleObject(pi.hProcess, 10000);
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return code;
    }

    DWORD RunWith(const wchar_t* control, DWORD limitMs = 60000) {
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", control);
        DWORD code = Run(L"Setup.exe -s", limitMs);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        return code;
    }

    std::wstring m_dir;
};

TEST_F(StandinSetup, WholePackagePasses) {
    EXPECT_EQ(Run(), 0u);
}

TEST_F(StandinSetup, NeedsTheSilentSwitch) {
    EXPECT_EQ(Run(L"Setup.exe"), 16u);
    EXPECT_EQ(Run(L"Setup.exe -x"), 16u);
    EXPECT_EQ(Run(L"Setup.exe -s"), 0u);
}

TEST_F(StandinSetup, ReadsThePackageInItsCurrentDirectory) {
    std::wstring empty = MakeDir(L"EmptyCurrentDirectory");
    EXPECT_EQ(Run(L"Setup.exe -s", 60000, empty), 3u);
}

TEST_F(StandinSetup, MissingFile) {
    const struct {
        const wchar_t* name;
        DWORD code;
    } cases[] = {{L"Setup.ini", 3}, {L"LoadVF.bin", 4}, {L"VirtFlpy.bin", 4}, {L"VelomarHDv.ima", 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        Remove(c.name);
        EXPECT_EQ(Run(), c.code);
        Restore(c.name);
    }
    EXPECT_EQ(Run(), 0u);
}

TEST_F(StandinSetup, UnreadableImage) {
    HANDLE h =
        CreateFileW(Path(L"VelomarHDv.ima").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Run(), 4u);
    CloseHandle(h);
}

TEST_F(StandinSetup, BrokenSetupIni) {
    const std::vector<std::string> good = {"/* comment", "[setup]",  "VistaImageFile=VelomarHDv.ima",
                                           "",           "[silent]", "Reboot=No"};
    WriteIni(good);
    EXPECT_EQ(Run(), 0u);
    WriteIni({"", "[setup]", "VistaImageFile=VelomarHDv.ima"}, false);
    EXPECT_EQ(Run(), 3u) << "no byte-order mark";
    ASSERT_TRUE(WriteBytes(Path(L"Setup.ini"), "[setup]\r\nVistaImageFile=VelomarHDv.ima\r\n"));
    EXPECT_EQ(Run(), 3u) << "8-bit text";
    WriteIni({"[setup]", "VistaImageFile VelomarHDv.ima"});
    EXPECT_EQ(Run(), 3u) << "line without '='";
    WriteIni({"Reboot=No", "[setup]", "VistaImageFile=VelomarHDv.ima"});
    EXPECT_EQ(Run(), 3u) << "key outside a section";
    WriteIni({"[setup", "VistaImageFile=VelomarHDv.ima"});
    EXPECT_EQ(Run(), 3u) << "unclosed section name";
    WriteIni({"[setup]", "RemoveOld=Yes", "[silent]", "VistaImageFile=VelomarHDv.ima"});
    EXPECT_EQ(Run(), 3u) << "no image file in [setup]";
    WriteIni({"[setup]", "VistaImageFile=  "});
    EXPECT_EQ(Run(), 3u) << "empty image file name";
    ASSERT_TRUE(WriteBytes(Path(L"Setup.ini"), ""));
    EXPECT_EQ(Run(), 3u) << "empty file";
}

TEST_F(StandinSetup, SetupIniNamesMatchRegardlessOfCase) {
    WriteIni({"/* [broken", "  [SETUP]  ", "vistaIMAGEfile=VelomarHDv.ima   ", "RemoveOld=Ask"});
    EXPECT_EQ(Run(), 0u);
}

TEST_F(StandinSetup, ChecksTheImageThatSetupIniNames) {
    WriteIni({"[Setup]", "VistaImageFile=Other.ima"});
    EXPECT_EQ(Run(), 4u);
    ASSERT_TRUE(MoveFileW(Path(L"VelomarHDv.ima").c_str(), Path(L"Other.ima").c_str()));
    EXPECT_EQ(Run(), 0u);
    Patch(L"Other.ima", 446, std::string(1, '\0'));
    EXPECT_EQ(Run(), 7u);
}

TEST_F(StandinSetup, DamagedBootFile) {
    Patch(L"LoadVF.bin", 6, "X");
    EXPECT_EQ(Run(), 4u) << "LoadVF.bin signature";
    Restore(L"LoadVF.bin");
    Patch(L"LoadVF.bin", 511, std::string(1, '\0'));
    EXPECT_EQ(Run(), 4u) << "LoadVF.bin without 55h AAh";
    Restore(L"LoadVF.bin");
    Patch(L"LoadVF.bin", 510, "\xAA");
    EXPECT_EQ(Run(), 4u) << "LoadVF.bin ending AAh AAh";
    Restore(L"LoadVF.bin");
    Resize(L"LoadVF.bin", 1024);
    EXPECT_EQ(Run(), 4u) << "LoadVF.bin size";
    Restore(L"LoadVF.bin");
    Patch(L"VirtFlpy.bin", 4, "b");
    EXPECT_EQ(Run(), 4u) << "VirtFlpy.bin signature";
    Restore(L"VirtFlpy.bin");
    Resize(L"VirtFlpy.bin", 21601);
    EXPECT_EQ(Run(), 4u) << "VirtFlpy.bin size";
    Restore(L"VirtFlpy.bin");
    EXPECT_EQ(Run(), 0u);
}

TEST_F(StandinSetup, BadPartitionEntry) {
    const struct {
        long offset;
        std::string bytes;
        const char* what;
    } cases[] = {
        {446, std::string(1, '\0'), "not active"},
        {450, "\x0B", "type 0Bh"},
        {454, std::string("\x01\x08\0\0", 4), "first sector 2049"},
        {458, std::string("\xFF\xEF\0\0", 4), "61,439 sectors"},
        {466, "\x06", "a second partition"},
        {510, std::string("\x55\x00", 2), "no MBR signature"},
    };
    for (const auto& c : cases) {
        Patch(L"VelomarHDv.ima", c.offset, c.bytes);
        EXPECT_EQ(Run(), 7u) << c.what;
        Restore(L"VelomarHDv.ima");
    }
    EXPECT_EQ(Run(), 0u);
}

TEST_F(StandinSetup, BadImage) {
    Resize(L"VelomarHDv.ima", 63487 * 512);
    EXPECT_EQ(Run(), 7u) << "one sector short";
    Restore(L"VelomarHDv.ima");
    Patch(L"VelomarHDv.ima", kBootSector + 510, std::string(1, '\0'));
    EXPECT_EQ(Run(), 7u) << "partition without boot sector signature";
    Restore(L"VelomarHDv.ima");
    Patch(L"VelomarHDv.ima", kBootSector + 54, "FAT12");
    EXPECT_EQ(Run(), 7u) << "not FAT16";
}

TEST_F(StandinSetup, WrongSectorSize) {
    Patch(L"VelomarHDv.ima", kBootSector + 11, std::string("\x00\x04", 2));
    EXPECT_EQ(Run(), 10u) << "1024";
    Patch(L"VelomarHDv.ima", kBootSector + 11, std::string("\x00\x01", 2));
    EXPECT_EQ(Run(), 10u) << "256";
    Patch(L"VelomarHDv.ima", kBootSector + 11, std::string("\x00\x02", 2));
    EXPECT_EQ(Run(), 0u) << "512 again";
}

TEST_F(StandinSetup, CrcMismatch) {
    Patch(L"VelomarHDv.ima", 63488 * 512 - 1, "\x01");
    EXPECT_EQ(Run(), 11u) << "last byte of the image changed";
    Restore(L"VelomarHDv.ima");
    std::string stored = ReadBytes(Path(L"VirtFlpy.bin")).substr(16, 4);
    ASSERT_EQ(stored.size(), 4u);
    stored[0] ^= 0x80;
    Patch(L"VirtFlpy.bin", 16, stored);
    EXPECT_EQ(Run(), 11u) << "stored CRC changed";
}

TEST_F(StandinSetup, ControlExitsAtOnce) {
    Remove(L"Setup.ini");
    EXPECT_EQ(RunWith(L"exit:5"), 5u);
    EXPECT_EQ(RunWith(L"exit:0"), 0u);
    EXPECT_EQ(RunWith(L"exit:17"), 17u);
    EXPECT_EQ(RunWith(L"exit:0xC0000005"), kAccessViolation);
    EXPECT_EQ(RunWith(L"exit:4294967295"), 4294967295u);
    EXPECT_EQ(RunWith(L"exit:4294967296"), 16u) << "out of range";
    EXPECT_EQ(RunWith(L"exit:"), 16u);
    EXPECT_EQ(RunWith(L"exit:12x"), 16u);
    EXPECT_EQ(RunWith(L"fly"), 16u) << "unknown control";
}

TEST_F(StandinSetup, ControlHangs) {
    DWORD start = GetTickCount();
    EXPECT_EQ(RunWith(L"hang", 1500), kTimedOut);
    EXPECT_GE(GetTickCount() - start, 1500u);
}

TEST_F(StandinSetup, ControlCrashes) {
    EXPECT_EQ(RunWith(L"crash"), kAccessViolation);
}

TEST_F(StandinSetup, ControlSleepsThenChecks) {
    DWORD start = GetTickCount();
    EXPECT_EQ(RunWith(L"sleep:1200"), 0u);
    EXPECT_GE(GetTickCount() - start, 1200u);
    Remove(L"LoadVF.bin");
    start = GetTickCount();
    EXPECT_EQ(RunWith(L"sleep:0x12C"), 4u);
    EXPECT_GE(GetTickCount() - start, 300u);
    EXPECT_EQ(RunWith(L"sleep:soon"), 16u);
}

TEST_F(StandinSetup, RecordsEachRun) {
    // A folder name beyond ASCII shows that the record is UTF-8.
    m_dir = MakeDir(L"Record-\u00FC");
    for (const wchar_t* file : kPackageFiles)
        Restore(file);
    std::wstring record = Path(L"runs.txt");
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", record.c_str());
    EXPECT_EQ(Run(), 0u);
    EXPECT_EQ(RunWith(L"exit:0x10"), 16u);
    EXPECT_EQ(Run(L"Setup.exe"), 16u);
    EXPECT_EQ(RunWith(L"hang", 1000), kTimedOut);
    Remove(L"Setup.ini");
    EXPECT_EQ(Run(L"Setup.exe  -s"), 3u);
    EXPECT_EQ(RunWith(L"crash"), kAccessViolation);

    std::string dir;
    for (wchar_t c : m_dir.substr(0, m_dir.size() - 1)) {
        ASSERT_LT(c, 128) << "the scratch folder's path must be ASCII";
        dir += char(c);
    }
    dir += "\xC3\xBC";
    EXPECT_EQ(ReadBytes(record), "Setup.exe -s\t" + dir + "\t0\n" +        //
                                     "Setup.exe -s\t" + dir + "\t16\n" +   //
                                     "Setup.exe\t" + dir + "\t16\n" +      //
                                     "Setup.exe -s\t" + dir + "\thang\n" + //
                                     "Setup.exe  -s\t" + dir + "\t3\n" +   //
                                     "Setup.exe -s\t" + dir + "\t3221225477\n");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3) {
        fprintf(stderr, "usage: standin_setup_test PACKAGE-FOLDER SCRATCH-FOLDER [GoogleTest options]\n");
        return 2;
    }
    g_package = FullPath(argv[1]);
    g_scratch = FullPath(argv[2]);
    CreateDirectoryW(g_scratch.c_str(), nullptr);
    return RUN_ALL_TESTS();
}
