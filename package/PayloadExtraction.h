#pragma once
// The six package files: carried as raw-data resources, written into the package folder, held there
// unchanged while the installer may use them, and removed again after it has run.
#include "platform/Owned.h"

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

// Cleans the package folder of earlier copies and writes the six files; raises SetupException (code 6)
// at the first that fails. Each file written is held in the context until its deletion or the run's end.
// An Esc (the context cancelled) stops it before the next file: the files written are deleted and
// RunCancelled is raised.
void ExtractInstallationFiles(SetupContext& context);
// Releases the held files and deletes the six from the package folder; what cannot be deleted stays,
// silently.
void DeleteExistingFiles(SetupContext& context);
// Writes resource (type 10) id of module to path as a new file of our own, in one copy from where the
// module holds it, and returns it held: open for reading, shared for reading only, its bytes checked to be
// the resource's. Raises SetupException (code 6).
unique_hfile ExtractResourceFile(HMODULE module, WORD id, const std::wstring& path);
// Its two halves, apart for the benchmark's account of where the time goes.
void WriteResourceFile(HMODULE module, WORD id, const std::wstring& path);
unique_hfile HoldResourceFile(HMODULE module, WORD id, const std::wstring& path);
