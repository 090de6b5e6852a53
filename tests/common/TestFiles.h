#pragma once
// File helpers shared by the unit and the system tests.
#include <windows.h>

#include <string>
#include <vector>

std::string ReadBytes(const std::wstring& path);
// False when the file could not be written whole.
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// The six package files, in the order the program writes them.
extern const wchar_t* const PackageFiles[6];

// The exact bytes of an installer log holding these entries.
std::string LogBytes(const std::vector<std::wstring>& entries);
