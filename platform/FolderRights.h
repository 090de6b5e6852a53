#pragma once
// Who may add files to a folder: the decision behind running the package where it was written. Only
// SYSTEM, Administrators, TrustedInstaller and the account running the program are trusted; anyone
// else who may add a file or folder there (a DLL, "Setup.exe.local") could plant code in the installer.
#include <windows.h>

#include <string>

struct FolderVerdict {
    bool othersMayAddFiles = false;
    std::wstring why; // who may, when others may: "Everyone (S-1-1-0) may add files"
};

// Whether sid is one of the trusted: SYSTEM, Administrators, TrustedInstaller or runningUser.
bool IsTrustedSid(PSID sid, PSID runningUser);

// The walk over a folder's owner and DACL as Windows checks access to the folder itself: ACEs in
// order, a deny for a SID (or for Everyone) taking the rights it names from later allows, inherit-only
// ACEs skipped, and an untrusted owner's implicit right to change the DACL counted (unless Owner
// Rights ACEs replace it). A NULL DACL lets anyone add files.
FolderVerdict WhoMayAddFiles(PSID owner, const ACL* dacl, bool daclPresent, PSID runningUser);
// The same over a security descriptor holding an owner and a DACL.
FolderVerdict WhoMayAddFiles(PSECURITY_DESCRIPTOR descriptor, PSID runningUser);

// Reads a real folder's owner and DACL and decides for the account running the program. A volume
// that keeps no rights (FAT) and rights that cannot be read count as writable by anyone.
FolderVerdict ReadWhoMayAddFiles(const std::wstring& folder);

// "Everyone (S-1-1-0)", or the SID's string alone when it has no name here.
std::wstring DescribeSid(PSID sid);
