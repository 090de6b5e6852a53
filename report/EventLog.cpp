#include "report/EventLog.h"

#include "platform/OwnFile.h"
#include "platform/PackageFolder.h"
#include "platform/Platform.h"
#include "platform/Security.h"
#include "report/HistoryLog.h"
#include "report/ResultRecord.h"

#include <cstring>

namespace {
struct Bytes {
    const void* data = nullptr;
    DWORD size = 0;
};

Bytes MessageFileResource() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(EventMessagesResource), RT_RCDATA);
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    if (loaded == nullptr)
        return {};
    return {LockResource(loaded), SizeofResource(nullptr, found)};
}

bool HoldsBytes(const std::wstring& path, const Bytes& expected) {
    DWORD error = 0;
    unique_hfile file = OpenExistingFile(path, GENERIC_READ, FILE_SHARE_READ, 0, error);
    if (!file || GetFileSize(file.get(), nullptr) != expected.size)
        return false;
    std::string held(expected.size, '\0');
    DWORD read = 0;
    return ReadFile(file.get(), &held[0], expected.size, &read, nullptr) && read == expected.size &&
           std::memcmp(held.data(), expected.data, expected.size) == 0;
}

LONG SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}
} // namespace

DWORD WriteEventMessageFile(const std::wstring& folder) {
    const Bytes messages = MessageFileResource();
    if (messages.data == nullptr || messages.size == 0)
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    TrustedFolders held; // the folder stays as checked until the file is written
    std::wstring refusal;
    DWORD error = held.Hold(folder, CommonDataFolder(), refusal);
    if (error != 0)
        return error;
    const std::wstring path = folder + L"\\" + EventMessageFileName;
    if (HoldsBytes(path, messages))
        return 0;
    SecurityAttributes security(PackageFileSddl);
    return WriteNewFile(path, messages.data, messages.size, security.Get()); // never a half-written one
}

DWORD InstallEventSource(const std::wstring& messageFile) {
    unique_hkey key;
    LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, EventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE | NativeRegistryView(), nullptr, key.put(), nullptr);
    if (error != ERROR_SUCCESS) {
        key.release(); // a failed call leaves no key
        return static_cast<DWORD>(error);
    }
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    error = SetValue(key.get(), L"EventMessageFile", REG_EXPAND_SZ, messageFile.c_str(),
                     static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
    if (error == ERROR_SUCCESS)
        error = SetValue(key.get(), L"TypesSupported", REG_DWORD, &types, sizeof types);
    return static_cast<DWORD>(error);
}

DWORD ReportOutcomeEvent(const std::wstring& folder, const Event& event) {
    DWORD error = WriteEventMessageFile(folder);
    if (error == 0)
        error = InstallEventSource(folder + L"\\" + EventMessageFileName);
    const wchar_t* strings[] = {event.strings[0].c_str(), event.strings[1].c_str(), event.strings[2].c_str()};
    if (!CurrentPlatform().WriteEvent(EventSourceName, static_cast<WORD>(event.type), event.messageId, 3,
                                      strings) &&
        error == 0)
        error = GetLastError() != 0 ? GetLastError() : ERROR_INVALID_FUNCTION;
    return error;
}

std::wstring EventMessageFolder() {
    return ProductDataFolder();
}

void ReportRunEvent(Outcome outcome, int32_t exitCode, const std::wstring& state,
                    const std::wstring& result) {
    const std::optional<EventOutcome> event = RunEventOutcome(outcome);
    if (!event)
        return;
    const std::wstring folder = EventMessageFolder();
    const DWORD error = ReportOutcomeEvent(folder, EventFor(*event, exitCode, state, result));
    if (error != 0)
        History().Write(L"The run's event could not be written to the Application log, or its message file "
                        L"to " +
                            folder + L" (error " + std::to_wstring(error) + L")",
                        Severity::Warning);
}
