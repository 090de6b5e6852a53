// Runs Tarnwick.exe for the demo and prints its exit code in full (a shell sees only its low byte).
// Usage: tarnwick_demo_run DIRECTORY READY-FILE DONE-FILE [PROGRAM ARGUMENTS...]
// Without a person at the screen: waits until the window shows the outcome, writes the dialog's
// screen rectangle ("x y width height") to READY-FILE, waits for DONE-FILE (the screenshot is taken),
// and presses Close. With READY-FILE "-" the person at the screen ends the run.
#include "Driver.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        fwprintf(stderr, L"usage: tarnwick_demo_run DIRECTORY READY-FILE DONE-FILE [ARGUMENTS...]\n");
        return 2;
    }
    const bool interactive = wcscmp(argv[2], L"-") == 0;
    std::wstring arguments;
    for (int i = 4; i < argc; ++i)
        arguments += (arguments.empty() ? L"" : L" ") + std::wstring(argv[i]);
    ProgramRun run(argv[1], arguments);
    if (!run.Started()) {
        fwprintf(stderr, L"Tarnwick.exe could not be started (error %lu)\n", GetLastError());
        return 2;
    }
    if (!interactive && run.WaitForOutcome()) {
        RECT rect = {};
        GetWindowRect(run.Dialog(), &rect);
        char text[64];
        const int length = snprintf(text, sizeof text, "%ld %ld %ld %ld\n", rect.left, rect.top,
                                    rect.right - rect.left, rect.bottom - rect.top);
        HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(ready, text, length, &written, nullptr);
        CloseHandle(ready);
        for (int i = 0; i < 600 && !FileExists(argv[3]); ++i)
            Sleep(50);
        run.Press(IDCLOSE);
    }
    const DWORD code = run.WaitForExit(interactive ? INFINITE : 120000);
    for (const std::wstring& line : run.StatusLinesSeen())
        wprintf(L"window status: %ls\n", line.c_str());
    wprintf(L"Tarnwick.exe exit code: %lu\n", code);
    return code == 0 ? 0 : 1;
}
