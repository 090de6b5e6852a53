// Starts a program with arguments in the current directory, waits for it (at most 120 s) and prints
// "exit <code> seconds <wall time>", timed from just before its creation to its end.
// Usage: bench_run_timer PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_run_timer PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::wstring command = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i)
        command += L" " + std::wstring(argv[i]);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[1], &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", argv[1], GetLastError());
        return 2;
    }
    DWORD waited = WaitForSingleObject(process.hProcess, 120000);
    QueryPerformanceCounter(&end);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (waited != WAIT_OBJECT_0) {
        std::fprintf(stderr, "%ls did not end within 120 s\n", argv[1]);
        return 2;
    }
    std::printf("exit %lu seconds %.3f\n", code,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}
