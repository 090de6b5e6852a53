#pragma once
// The two switches: "r" restarts Windows after a success, "s" runs without a window. Each may
// follow one "-" or "/"; they are case-sensitive and everything else is ignored.
#include "framework/Application.h"

class CommandLine : public CommandLineInfo {
  public:
    void ParseParam(const wchar_t* param, BOOL isFlag, BOOL isLast) override;

    BOOL m_bRebootSwitch = 0;
    BOOL m_bSilentSwitch = 0;
};
