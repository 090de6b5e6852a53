#pragma once
// Runs the package installer Setup.exe and turns its outcome into success or a SetupException.
#include <windows.h>

#include <string>

class SetupThread;

constexpr DWORD SetupTimeLimitSeconds = 120;
// The pause after the installer has ended, whatever its outcome.
constexpr DWORD SetupSettlePause = 5000;

// The text for an installer exit code; empty outside 1 to 16.
std::wstring SetupExitCodeText(DWORD exitCode);

// Starts Setup.exe -s in the working directory, waits, and raises SetupException on any failure.
void RunSetup(SetupThread& thread);

// Runs program (full path) with arguments in the current directory and waits at most seconds.
// Sets windowsError when it cannot be started or the wait fails or runs out, exitCode otherwise.
// releaseWhenStarted, if given, is closed as soon as the start has been tried.
void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments, DWORD* windowsError,
                    DWORD* exitCode, HANDLE releaseWhenStarted = INVALID_HANDLE_VALUE);
