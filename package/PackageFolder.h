#pragma once
#include <string>

// The folder the package is written into, run from and removed from: every package path starts
// here. For now it is always the working directory.
std::wstring PackageFolder();
