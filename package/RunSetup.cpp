#include "package/RunSetup.h"

#include "install/Platform.h"
#include "install/SetupException.h"
#include "install/SetupThread.h"
#include "install/WorkingDirectory.h"

#include <cstring>
#include <cwchar>
#include <new>

std::wstring SetupExitCodeText(DWORD exitCode) {
    static const wchar_t* const texts[] = {
        L"This operating system is unsupported.",
        L"There is insufficient memory to complete the operation.",
        L"The Setup.ini file is invalid.",
        L"An error occurred while copying the DOS image and bin files.",
        L"An error occurred while patching the DOS image file.",
        L"The DOS image file is not contiguous.",
        L"The DOS image file appears to be invalid.",
        L"An error occurred while decompressing a compressed image file.",
        L"An error occurred getting file info from the DOS image file.",
        L"The sector size in the DOS image file is invalid.",
        L"An error occurred while calculating the CRC for the DOS image file.",
        L"An error occurred while updating the boot.ini file.",
        L"An error occurred while updating the BCD (boot configuration data).",
        L"The user is not an administrator.",
        L"The system is not on AC power.",
        L"A unknown error occurred.",
    };
    return exitCode >= 1 && exitCode <= 16 ? texts[exitCode - 1] : L"";
}

void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments, DWORD* windowsError,
                    DWORD* exitCode, HANDLE releaseWhenStarted) {
    if (!arguments.empty() && arguments[0] != L' ')
        arguments.insert(0, 1, L' ');
    const size_t slash = program.find_last_of(L'\\');
    const std::wstring commandLine =
        (slash == std::wstring::npos ? program : program.substr(slash + 1)) + arguments;

    // CreateProcessW may write into its command line.
    wchar_t* buffer = new (std::nothrow) wchar_t[commandLine.size() + 1];
    if (buffer == nullptr) {
        *windowsError = 1;
        if (releaseWhenStarted != INVALID_HANDLE_VALUE)
            CloseHandle(releaseWhenStarted);
        return;
    }
    std::memcpy(buffer, commandLine.c_str(), (commandLine.size() + 1) * sizeof(wchar_t));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(program.c_str(), buffer, nullptr, nullptr, FALSE,
                                        CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &process);
    const DWORD startError = GetLastError();
    if (releaseWhenStarted != INVALID_HANDLE_VALUE)
        CloseHandle(releaseWhenStarted);
    if (!started) {
        *windowsError = startError != 0 ? startError : 1; // never report a failed start as success
    } else {
        const DWORD waited = CurrentPlatform().WaitForProcess(process.hProcess, seconds * 1000);
        if (waited != WAIT_OBJECT_0)
            *windowsError = waited;
        else
            GetExitCodeProcess(process.hProcess, exitCode);
        // After a time-out the installer goes on running on its own.
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    delete[] buffer;
}

void RunSetup(SetupThread& thread) {
    const std::wstring path = CombinePath(GetWorkingDirectory(), L"Setup.exe");
    thread.PostStatus(L"Running the Velomar HD upgrade utility...");

    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        thread.ReleaseInstaller();
        throw SetupException(L"An error occurred running the installation wizard."
                             L"The virtual floppy installation application, Setup.exe, was not found at \"" +
                                 path + L"\". Ensure that this file is not missing, in use or corrupt.",
                             static_cast<int32_t>(error != 0 ? error : ERROR_FILE_NOT_FOUND), 1);
    }
    FindClose(search);

    const std::wstring arguments = L"-s";
    thread.WriteLog(L"executing: " + path + L" " + arguments);

    DWORD windowsError = 0, exitCode = 0;
    ExecuteProcess(SetupTimeLimitSeconds, path, arguments, &windowsError, &exitCode,
                   thread.TakeInstallerHold());
    CurrentPlatform().Pause(SetupSettlePause);

    if (exitCode != 0)
        throw SetupException(SetupExitCodeText(exitCode), static_cast<int32_t>(exitCode), 0);
    if (windowsError != 0) {
        wchar_t message[128];
        swprintf(message, 128,
                 L"An Windows error occurred running the hard drive upgrade utility. Error = %u",
                 static_cast<unsigned>(windowsError));
        throw SetupException(message, static_cast<int32_t>(windowsError), 1);
    }
    thread.PostDetail(L"Update executed successfully.");
}
