#pragma once
// Runs the package installer Setup.exe and turns its outcome into success or a SetupException.
#include "core/SetupExitCode.h"
#include "platform/Owned.h"

#include <windows.h>

#include <string>

class SetupContext;

constexpr DWORD SetupTimeLimitSeconds = 120;
// The pause after the installer has ended, whatever its outcome.
constexpr DWORD SetupSettlePause = 5000;

// Starts Setup.exe -s in the working directory, waits, and raises SetupException on any failure.
void RunSetup(SetupContext& context);

// Runs program (full path) with arguments in the current directory and waits at most seconds.
// Sets windowsError when it cannot be started or the wait fails or runs out, exitCode otherwise.
// releaseWhenStarted, if given, is closed as soon as the start has been tried.
void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments, DWORD* windowsError,
                    DWORD* exitCode, unique_hfile releaseWhenStarted = unique_hfile());
