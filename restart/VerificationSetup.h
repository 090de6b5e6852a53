#pragma once
// What a successful installation leaves so that the next start of Windows checks whether the update
// reached the drive: a copy of the program in a folder below the history folder, and the next-start
// task that runs that copy with "/v".
#include <string>

// <ProductDataFolder>\Verification; empty where the common application-data folder is unknown.
std::wstring VerificationFolder();
constexpr wchar_t VerificationProgramName[] = L"Tarnwick.exe";
constexpr wchar_t VerifySwitch[] = L"/v";

// Copies the running program into the verification folder as a new file of our own and registers the
// task, and says which in the history log. Empty when both succeeded, else the text that says what
// failed (the run's outcome stays).
std::wstring SetUpVerification();
