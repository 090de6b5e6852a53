#pragma once
// Runs the package installer Setup.exe and turns its outcome into success or a SetupException.
#include "core/SetupExitCode.h"

#include <windows.h>

#include <string>

class SetupContext;

constexpr DWORD SetupTimeLimitSeconds = 120;
// The pause after the installer has ended, whatever its outcome.
constexpr DWORD SetupSettlePause = 5000;

// Starts Setup.exe -s in the package folder, waits, and raises SetupException on any failure.
void RunSetup(SetupContext& context);

// Runs program (full path) with arguments in directory and waits at most seconds. Sets windowsError
// when it cannot be started or the wait fails or runs out, exitCode otherwise. The program is asked to
// load its DLLs from System32 before its own folder where Windows knows that request.
void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments,
                    const std::wstring& directory, DWORD* windowsError, DWORD* exitCode);
