#pragma once
// The six package files: carried as raw-data resources, written into the working directory, and
// removed again after the installer has run.
#include <windows.h>

#include <string>

class SetupContext;

struct PayloadFile {
    const wchar_t* name;
    WORD resourceId;
};

constexpr int PayloadFileCount = 6;
// In the order extraction and deletion walk them; the installer comes first.
extern const PayloadFile PayloadCatalogue[PayloadFileCount];

// Cleans the working directory of earlier copies and writes the six files; raises SetupException
// (code 6) at the first that fails. Setup.exe is then held open, denying writes and deletion, in
// the context's installer hold until the installer has started. An Esc (the context cancelled)
// stops it before the next file: the files written are deleted and RunCancelled is raised.
void ExtractInstallationFiles(SetupContext& context);
// Deletes the six files from the working directory; what cannot be deleted stays, silently.
void DeleteExistingFiles(SetupContext& context);
// Writes resource (type 10) id of module to path in one copy through a view of the new file.
void ExtractResourceFile(HMODULE module, WORD id, const std::wstring& path);
// Copies size bytes into a writable view of a file. Returns 0, or the code of the exception that
// ended the copy (EXCEPTION_IN_PAGE_ERROR when the disk filled up or the device failed): a fault
// in the view fails the write instead of ending the program.
DWORD CopyIntoView(void* view, const void* bytes, size_t size);
