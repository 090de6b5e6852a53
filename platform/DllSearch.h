#pragma once
// Where the elevated program takes its DLLs from: the system folder, never its own folder (often a
// download folder others can write) or the current directory.
#include <cstddef>

// What the dialog, COM, WMI and the shell load by name at run time (measured, with the DLLs that
// Windows releases before SetDefaultDllDirectories are known to load late).
extern const wchar_t* const PreloadedDlls[];
extern const size_t PreloadedDllCount;

// Searches the system folder only where Windows can (SetDefaultDllDirectories); elsewhere takes the
// current directory out of the search and loads each of PreloadedDlls from the system folder by full
// path, so that a later load by name finds it loaded. One missing there (an older Windows) is skipped.
void RestrictDllSearch();
