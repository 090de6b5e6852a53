#include "platform/DllSearch.h"

#include "platform/Platform.h"

#include <string>

const wchar_t* const PreloadedDlls[] = {
    L"uxtheme.dll", L"dwmapi.dll",   L"cryptbase.dll", L"sspicli.dll", L"userenv.dll",
    L"profapi.dll", L"version.dll",  L"clbcatq.dll",   L"propsys.dll", L"oleacc.dll",
    L"apphelp.dll", L"setupapi.dll", L"comctl32.dll",  L"imm32.dll",   L"wbemcomn.dll",
};
const size_t PreloadedDllCount = sizeof PreloadedDlls / sizeof PreloadedDlls[0];

void RestrictDllSearch() {
    Platform& platform = CurrentPlatform();
    if (platform.SearchSystemFolderOnly())
        return;
    using SetDllDirectoryFn = BOOL(WINAPI*)(LPCWSTR);
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDllDirectoryW"));
    if (setDllDirectory != nullptr) // Windows XP SP1 and later: no current directory
        setDllDirectory(L"");
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    for (size_t index = 0; index < PreloadedDllCount; ++index)
        platform.LoadDllByPath(std::wstring(system) + L"\\" + PreloadedDlls[index]);
}
