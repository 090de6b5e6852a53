#pragma once
// Where the package is written and its installer runs: the working directory where only the trusted
// may add files to it (a deployment engine's cache, a user's own download folder); elsewhere a private
// folder that only SYSTEM and Administrators may write, so that no DLL planted beside Setup.exe loads
// into it.
#include "platform/Security.h"

#include <string>

// The common application-data folder (%ProgramData%; All Users\Application Data on Windows 2000 and
// XP); empty when Windows does not tell it.
std::wstring CommonDataFolder();
// <common application data>\Velomar\HD Firmware Update, the history log's folder; empty when unknown.
std::wstring ProductDataFolder();

struct PackageFolderChoice {
    std::wstring path;       // where the package goes; empty when no folder can be used
    std::wstring whyPrivate; // when path is the private folder: who else may add files to the working one
    std::wstring failure;    // when path is empty: the folders and why, the text that ends the run with 6
    TrustedFolders held;     // the private folder and its parents, held while the package is in use
};

// The working directory when others may not add files to it; else <ProductDataFolder>\Package, made
// with AdminFolderSddl, its parents checked as the history log's, its rights set afresh and read back.
PackageFolderChoice ChoosePackageFolder(const std::wstring& workingDirectory);
