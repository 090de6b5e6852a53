#pragma once
#include <string>

// The process's current directory, read afresh. Empty when it cannot be read; CombinePath then
// yields the bare file name, which Windows resolves against that same current directory.
std::wstring GetWorkingDirectory();

// The directory and the name joined with exactly one backslash.
std::wstring CombinePath(const std::wstring& directory, const std::wstring& name);
