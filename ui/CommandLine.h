#pragma once
// The switches: "r" restarts Windows after a success, "s" runs without a window, "c" runs the
// checks alone, "?" shows the usage, "v" verifies after the restart, "l=<file>" puts the history log there.
// Each may follow one
// "-" or "/"; they are case-sensitive and everything else is ignored (and listed).
#include "framework/Application.h"

#include <string>
#include <vector>

class CommandLine : public CommandLineInfo {
  public:
    void OnArgument(const wchar_t* argument) override { m_current = argument; }
    void ParseParam(const wchar_t* param, BOOL isFlag, BOOL isLast) override;

    BOOL m_bRebootSwitch = 0;
    BOOL m_bSilentSwitch = 0;
    BOOL m_bCheckOnlySwitch = 0;
    BOOL m_bUsageSwitch = 0;
    BOOL m_bVerifySwitch = 0;
    std::wstring m_logFile;
    // The arguments as given: those taken as switches, and those ignored.
    std::vector<std::wstring> m_switches, m_ignored;

  private:
    std::wstring m_current;
};
