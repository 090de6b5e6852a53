#include "package/RunSetup.h"

#include "platform/Platform.h"
#include "platform/WorkingDirectory.h"
#include "report/SetupContext.h"
#include "report/SetupException.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

void ExecuteProcess(DWORD seconds, const std::wstring& program, std::wstring arguments, DWORD* windowsError,
                    DWORD* exitCode, unique_hfile releaseWhenStarted) {
    if (!arguments.empty() && arguments[0] != L' ')
        arguments.insert(0, 1, L' ');
    const size_t slash = program.find_last_of(L'\\');
    const std::wstring commandLine =
        (slash == std::wstring::npos ? program : program.substr(slash + 1)) + arguments;

    // CreateProcessW may write into its command line.
    const std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[commandLine.size() + 1]);
    if (buffer == nullptr) {
        *windowsError = 1;
        return;
    }
    std::memcpy(buffer.get(), commandLine.c_str(), (commandLine.size() + 1) * sizeof(wchar_t));

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    unique_process_information process;
    const BOOL ok = CreateProcessW(program.c_str(), buffer.get(), nullptr, nullptr, FALSE,
                                   CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &started);
    const DWORD startError = GetLastError();
    process.take(started);
    releaseWhenStarted.reset();
    if (!ok) {
        *windowsError = startError != 0 ? startError : 1; // never report a failed start as success
        return;
    }
    const DWORD waited = CurrentPlatform().WaitForProcess(process.process.get(), seconds * 1000);
    if (waited != WAIT_OBJECT_0)
        *windowsError = waited;
    else
        GetExitCodeProcess(process.process.get(), exitCode);
    // After a time-out the installer goes on running on its own; its handles close here.
}

void RunSetup(SetupContext& context) {
    const std::wstring path = CombinePath(GetWorkingDirectory(), L"Setup.exe");
    context.PostStatus(L"Running the Velomar HD upgrade utility...");

    WIN32_FIND_DATAW found;
    if (!unique_hfind(FindFirstFileW(path.c_str(), &found))) {
        const DWORD error = GetLastError();
        context.ReleaseInstaller();
        throw SetupException(L"An error occurred running the installation wizard."
                             L"The virtual floppy installation application, Setup.exe, was not found at \"" +
                                 path + L"\". Ensure that this file is not missing, in use or corrupt.",
                             static_cast<int32_t>(error != 0 ? error : ERROR_FILE_NOT_FOUND), 1);
    }

    const std::wstring arguments = L"-s";
    context.WriteLog(L"executing: " + path + L" " + arguments);

    DWORD windowsError = 0, exitCode = 0;
    ExecuteProcess(SetupTimeLimitSeconds, path, arguments, &windowsError, &exitCode,
                   context.TakeInstallerHold());
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
    context.PostDetail(L"Update executed successfully.");
}
