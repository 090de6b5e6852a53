#include "app/TarnwickApp.h"

namespace {
TarnwickApp theApp;

// The program runs elevated, often from a download folder: DLLs come from the system directory
// only, never from the program's folder or the current directory.
void RestrictDllSearchPath() {
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFn>(GetProcAddress(kernel32, "SetDefaultDllDirectories"));
    if (setDefaultDllDirectories != nullptr && setDefaultDllDirectories(0x00000800 /* SEARCH_SYSTEM32 */))
        return;
    // Older systems: at least take the current directory out of the search.
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(GetProcAddress(kernel32, "SetDllDirectoryW"));
    if (setDllDirectory != nullptr)
        setDllDirectory(L"");
}
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearchPath();
    return GetApplication()->Run();
}
