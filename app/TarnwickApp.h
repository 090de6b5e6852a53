#pragma once
#include "framework/Application.h"

#include <cstdint>
#include <string>

// Runs the main dialog and ends the process with the value the dialog ended with.
class TarnwickApp : public Application {
  public:
    BOOL InitInstance() override;
    int ExitInstance() override { return m_nExitCode; }

    int32_t m_nExitCode = 0;
};

// What "?" shows: the switches, the exit codes and where a run leaves its logs and record.
std::wstring UsageText();
