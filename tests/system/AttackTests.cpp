// Another program of the same machine against a run of the real Tarnwick.exe: it tries to change the
// package files under the installer, to make the run write through a hard link, and to move the
// working directory away.
#include "ProgramTest.h"

namespace {
const wchar_t* const LogName = L"VelomarHDDInstallerLog.txt";

// Runs the attacker once: 0 when the attack succeeded, else the Windows error it met.
DWORD Attack(const wchar_t* action, const std::wstring& path) {
    std::wstring commandLine = L"attacker.exe " + std::wstring(action) + L" \"" + path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(Env(L"TARNWICK_ATTACKER").c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &process))
        return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The attacker holding a file open, sharing read and write but not deletion, while it lives.
class HeldElsewhere {
  public:
    explicit HeldElsewhere(const std::wstring& path) {
        std::wstring commandLine = L"attacker.exe hold \"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(Env(L"TARNWICK_ATTACKER").c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                           nullptr, nullptr, &startup, &process)) {
            m_process = process.hProcess;
            CloseHandle(process.hThread);
        }
        for (int i = 0; i < 200 && m_process != nullptr && !m_holding; ++i) {
            Sleep(50);
            m_holding = FileExists(path + L".held");
        }
        DeleteFileW((path + L".held").c_str());
    }
    ~HeldElsewhere() {
        if (m_process != nullptr) {
            TerminateProcess(m_process, 0);
            WaitForSingleObject(m_process, 10000);
            CloseHandle(m_process);
        }
    }
    bool Holding() const { return m_holding; }

  private:
    HANDLE m_process = nullptr;
    bool m_holding = false;
};

class AttackTest : public ProgramTest {
  protected:
    std::string Log() const { return ReadBytes(File(LogName)); }
    bool LogHas(const std::wstring& entry) const {
        return Log().find(LogBytes({entry}).substr(2)) != std::string::npos;
    }
    // Every change of every package file fails; the names of those that went through.
    std::wstring AttackPackage(const std::vector<const wchar_t*>& actions) {
        std::wstring changed;
        for (const wchar_t* name : PackageFiles)
            for (const wchar_t* action : actions)
                if (Attack(action, File(name)) == 0)
                    changed += std::wstring(action) + L" " + name + L"; ";
        return changed;
    }
};
} // namespace

TEST_F(AttackTest, PackageFilesAndTheFolderCannotBeChangedWhileTheInstallerRunsAndPauses) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", L"sleep:8000");
    ProgramRun run(directory, L"/s");
    ASSERT_TRUE(run.Started());
    bool running = false;
    for (int i = 0; i < 600 && !running; ++i) {
        Sleep(100);
        running = LogHas(L"executing: " + File(L"Setup.exe") + L" -s");
    }
    ASSERT_TRUE(running);
    EXPECT_EQ(AttackPackage({L"write", L"rename", L"delete"}), L"");
    EXPECT_NE(Attack(L"rename", directory), 0u);
    // Once the installer has ended, in the pause after it, the files are still held.
    bool ended = false;
    for (int i = 0; i < 300 && !ended; ++i) {
        Sleep(100);
        ended = !ReadBytes(File(L"record.txt")).empty();
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(AttackPackage({L"write"}), L"");
    // The run ends as it would alone.
    EXPECT_EQ(run.WaitForExit(), 3010u);
    EXPECT_EQ(Log(), LogBytes(LogOf(SuccessfulRun(directory))));
    for (const wchar_t* name : PackageFiles)
        EXPECT_FALSE(FileExists(File(name))) << name;
    EXPECT_EQ(ReadBytes(File(L"record.txt")).substr(0, 13), "Setup.exe -s\t");
    EXPECT_NE(ReadBytes(File(L"record.txt")).find("\t0\n"), std::string::npos);
}

TEST_F(AttackTest, LogNamedByAHardLinkToAHeldFileLeavesThatFileUntouched) {
    const std::wstring other = NewScratchFolder(L"tarnwick-other");
    const std::wstring target = other + L"\\precious.txt";
    ASSERT_TRUE(WriteBytes(target, "precious"));
    DeleteFileW(File(LogName).c_str());
    ASSERT_TRUE(CreateHardLinkW(File(LogName).c_str(), target.c_str(), nullptr));
    {
        HeldElsewhere held(target);
        ASSERT_TRUE(held.Holding());
        ProgramRun run(directory, L"/s");
        EXPECT_EQ(run.WaitForExit(), 104u); // the run goes on without its log
    }
    EXPECT_EQ(ReadBytes(target), "precious");
    EXPECT_EQ(Log(), "precious"); // the name still leads to the other file, unwritten
}

TEST_F(AttackTest, PackageFileNamedByAHardLinkToAHeldFileEndsWith6AndLeavesThatFileUntouched) {
    FakeWmiScenario wmi(directory, SupportedBehindUnsupported());
    const std::wstring other = NewScratchFolder(L"tarnwick-other");
    const std::wstring target = other + L"\\precious.txt";
    ASSERT_TRUE(WriteBytes(target, "precious"));
    DeleteFileW(File(L"Setup.ini").c_str());
    ASSERT_TRUE(CreateHardLinkW(File(L"Setup.ini").c_str(), target.c_str(), nullptr));
    {
        HeldElsewhere held(target);
        ASSERT_TRUE(held.Holding());
        ProgramRun run(directory, L"/s");
        EXPECT_EQ(run.WaitForExit(), 6u);
    }
    EXPECT_EQ(ReadBytes(target), "precious");
    EXPECT_TRUE(LogHas(L"Exception: Extract file failed, Setup.ini could not be written (another file holds "
                       L"its name and cannot be removed, code 80)"));
    EXPECT_TRUE(ReadBytes(File(L"record.txt")).empty()); // the installer never ran
}
