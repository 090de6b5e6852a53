#include "report/ResultRecord.h"

#include "platform/Lock.h"

REGSAM NativeRegistryView() {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process"));
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY
                                                                                             : 0;
}

namespace {

Lock g_factsLock;
RunFacts g_facts;
} // namespace

ResultRecord::ResultRecord() {
    m_error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, ResultRecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE | KEY_QUERY_VALUE | NativeRegistryView(), nullptr, m_key.put(),
                              nullptr);
    if (m_error != ERROR_SUCCESS)
        m_key.release(); // a failed call leaves no key
}

void ResultRecord::SetText(const wchar_t* name, const std::wstring& value) {
    if (m_key)
        RegSetValueExW(m_key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void ResultRecord::SetNumber(const wchar_t* name, DWORD value) {
    if (m_key)
        RegSetValueExW(m_key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void ResultRecord::Remove(const wchar_t* name) {
    if (m_key)
        RegDeleteValueW(m_key.get(), name);
}

std::wstring ResultRecord::Text(const wchar_t* name) const {
    wchar_t text[512];
    DWORD type = 0, size = sizeof text - sizeof(wchar_t);
    if (!m_key ||
        RegQueryValueExW(m_key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return std::wstring();
    text[size / sizeof(wchar_t)] = L'\0';
    return text;
}

bool ResultRecord::Number(const wchar_t* name, DWORD& value) const {
    DWORD type = 0, size = sizeof value;
    return m_key &&
           RegQueryValueExW(m_key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD && size == sizeof value;
}

void NoteRunResult(const std::wstring& text) {
    Hold hold(g_factsLock);
    g_facts.result = text;
}

void NoteSupportedDrive(const std::wstring& model, const std::wstring& firmwareRevision, int position,
                        const std::wstring& serialNumber) {
    Hold hold(g_factsLock);
    g_facts.driveModel = model;
    g_facts.firmwareRevision = firmwareRevision;
    g_facts.drivePosition = position;
    g_facts.serialNumber = serialNumber;
}

void NoteVerificationSetUp(const std::wstring& failure) {
    Hold hold(g_factsLock);
    g_facts.verificationSetUp = failure.empty();
    g_facts.verificationFailure = failure;
}

RunFacts ReadRunFacts() {
    Hold hold(g_factsLock);
    return g_facts;
}
