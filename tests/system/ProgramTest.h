#pragma once
// What every system test starts from: a working directory of its own, Windows 7 as Wine's answer to
// the program, and the stand-in installer as it comes (recording its runs in the directory).
#include "Driver.h"
#include "Transcripts.h"

#include <gtest/gtest.h>

// The shared scenario as the fake provider's file holds it (the text is ASCII).
inline const std::string& SupportedBehindUnsupported() {
    static const std::string scenario = [] {
        const std::wstring text = SupportedDriveScenario;
        return std::string(text.begin(), text.end());
    }();
    return scenario;
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        directory = NewScratchFolder(L"tarnwick-system");
        SetWindowsVersion(L"win7");
        DeleteResultRecord();
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", (directory + L"\\record.txt").c_str());
    }
    void TearDown() override {
        SetWindowsVersion(L"win7");
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_SETUP", nullptr);
        SetEnvironmentVariableW(L"TARNWICK_STANDIN_RECORD", nullptr);
    }
    std::wstring File(const wchar_t* name) const { return directory + L"\\" + name; }

    std::wstring directory;
};
