// The switches as the command line gives them.
#include "ui/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
struct Switches {
    BOOL reboot, silent;
    bool operator==(const Switches& other) const { return reboot == other.reboot && silent == other.silent; }
};

Switches Parse(std::vector<std::wstring> arguments) {
    std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"Tarnwick.exe")};
    for (std::wstring& argument : arguments)
        argv.push_back(&argument[0]);
    CommandLine commandLine;
    Application::ParseArguments(static_cast<int>(argv.size()), argv.data(), commandLine);
    return {commandLine.m_bRebootSwitch, commandLine.m_bSilentSwitch};
}
} // namespace

TEST(CommandLine, RecognisesTheSwitchesExactlyAndIgnoresEverythingElse) {
    EXPECT_EQ(Parse({}), (Switches{0, 0}));
    for (const wchar_t* reboot : {L"/r", L"-r", L"r"})
        EXPECT_EQ(Parse({reboot}), (Switches{1, 0}));
    for (const wchar_t* nothing : {L"/R", L"/rs", L"/reboot", L"--r", L"/ r", L"", L"/", L"-S", L"s "})
        EXPECT_EQ(Parse({nothing}), (Switches{0, 0})) << std::string(nothing, nothing + wcslen(nothing));
    EXPECT_EQ(Parse({L"/s", L"/r"}), (Switches{1, 1}));
    EXPECT_EQ(Parse({L"/r", L"/s"}), (Switches{1, 1}));
    EXPECT_EQ(Parse({L"-s", L"s", L"/s"}), (Switches{0, 1}));
    EXPECT_EQ(Parse({L"/x", L"/s"}), (Switches{0, 1}));
    EXPECT_EQ(Parse({L"Setup.exe", L"C:\\some file.txt", L"-r"}), (Switches{1, 0}));
}

TEST(CommandLine, EachArgumentArrivesWithFlagAndLastMarks) {
    struct Recorder : CommandLineInfo {
        std::vector<std::wstring> seen;
        void ParseParam(const wchar_t* param, BOOL isFlag, BOOL isLast) override {
            seen.push_back(std::wstring(param) + L"|" + std::to_wstring(isFlag) + std::to_wstring(isLast));
        }
    } recorder;
    wchar_t* argv[] = {const_cast<wchar_t*>(L"prog"), const_cast<wchar_t*>(L"/a"), const_cast<wchar_t*>(L"b"),
                       const_cast<wchar_t*>(L"--c")};
    Application::ParseArguments(4, argv, recorder);
    EXPECT_EQ(recorder.seen, (std::vector<std::wstring>{L"a|10", L"b|00", L"-c|11"}));
}

TEST(CommandLine, CheckUsageAndLogFileSwitchesAndTheArgumentsItIgnores) {
    std::wstring quoted = L"/l=\"C:\\Logs\\HD update.log\""; // quotes the runtime's split kept
    std::vector<std::wstring> arguments{L"-c", L"?", L"/S", quoted, L"l=", L"/x", L"/l=D:\\last.log",
                                        L"/V", L"-v"};
    std::vector<wchar_t*> argv{const_cast<wchar_t*>(L"Tarnwick.exe")};
    for (std::wstring& argument : arguments)
        argv.push_back(&argument[0]);
    CommandLine commandLine;
    Application::ParseArguments(static_cast<int>(argv.size()), argv.data(), commandLine);
    EXPECT_EQ(commandLine.m_bCheckOnlySwitch, 1);
    EXPECT_EQ(commandLine.m_bUsageSwitch, 1);
    EXPECT_EQ(commandLine.m_bSilentSwitch, 0);
    EXPECT_EQ(commandLine.m_bVerifySwitch, 1);
    EXPECT_EQ(commandLine.m_logFile, L"D:\\last.log"); // the last one given
    EXPECT_EQ(commandLine.m_switches,
              (std::vector<std::wstring>{L"-c", L"?", quoted, L"/l=D:\\last.log", L"-v"}));
    EXPECT_EQ(commandLine.m_ignored, (std::vector<std::wstring>{L"/S", L"l=", L"/x", L"/V"}));

    CommandLine one;
    std::wstring single = quoted;
    wchar_t* singleArgv[] = {const_cast<wchar_t*>(L"Tarnwick.exe"), &single[0]};
    Application::ParseArguments(2, singleArgv, one);
    EXPECT_EQ(one.m_logFile, L"C:\\Logs\\HD update.log");
    for (const wchar_t* nothing : {L"/C", L"/check", L"??", L"/L=x", L"/l", L"-l=\"\""}) {
        CommandLine ignored;
        std::wstring argument = nothing;
        wchar_t* ignoredArgv[] = {const_cast<wchar_t*>(L"Tarnwick.exe"), &argument[0]};
        Application::ParseArguments(2, ignoredArgv, ignored);
        EXPECT_EQ(ignored.m_ignored, (std::vector<std::wstring>{nothing}));
    }
}
