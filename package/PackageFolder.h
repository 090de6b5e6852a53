#pragma once
#include <string>

class SetupContext;

// The folder the package is written into, run from and removed from: every package path starts
// here. The working directory where only the trusted may add files to it, else the private folder;
// chosen at the first ask of a run, logged when private, and held by the context until the run ends.
// A run for which neither can be used ends here with 6 and the folders named.
const std::wstring& PackageFolder(SetupContext& context);
