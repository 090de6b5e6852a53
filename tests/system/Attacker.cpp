// A second Windows program beside Tarnwick.exe, for attacks that share modes must stop (Wine keeps
// share modes only between processes).
//   attacker write PATH    opens PATH for writing and writes into it
//   attacker rename PATH   renames PATH (a file or a folder) to PATH-moved
//   attacker delete PATH   deletes PATH
// each tries once and ends with 0 when it succeeded, else with the Windows error;
//   attacker hold PATH     opens PATH for reading and writing, sharing both but not deletion, creates
//                          PATH.held once it holds it, and keeps it open until it is ended.
#include <windows.h>

#include <string>

namespace {
DWORD Failed() {
    const DWORD error = GetLastError();
    return error != 0 ? error : 1;
}
} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3)
        return ERROR_BAD_ARGUMENTS;
    const std::wstring action = argv[1], path = argv[2];
    if (action == L"write" || action == L"hold") {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | (action == L"write" ? FILE_SHARE_DELETE : 0),
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return static_cast<int>(Failed());
        if (action == L"hold") {
            CloseHandle(
                CreateFileW((path + L".held").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            Sleep(INFINITE);
        }
        DWORD written = 0;
        const BOOL wrote = WriteFile(file, "swapped", 7, &written, nullptr);
        const DWORD result = wrote ? 0 : Failed();
        CloseHandle(file);
        return static_cast<int>(result);
    }
    if (action == L"rename")
        return MoveFileW(path.c_str(), (path + L"-moved").c_str()) ? 0 : static_cast<int>(Failed());
    if (action == L"delete")
        return DeleteFileW(path.c_str()) ? 0 : static_cast<int>(Failed());
    return ERROR_BAD_ARGUMENTS;
}
