#include "Driver.h"

#include <tlhelp32.h>

#include <cstdlib>

namespace {
const wchar_t* const LocatorServer =
    L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";
const wchar_t* const DialogTitle = L"Velomar HD Firmware Update";

void SetDefaultValue(HKEY root, const wchar_t* key, const std::wstring& value) {
    HKEY handle;
    if (RegCreateKeyExW(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
}

std::wstring DefaultValue(HKEY root, const wchar_t* key) {
    wchar_t value[1024] = {};
    DWORD size = sizeof value;
    HKEY handle;
    if (RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &handle) == ERROR_SUCCESS) {
        RegQueryValueExW(handle, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(handle);
    }
    return value;
}

struct FindContext {
    DWORD processId;
    HWND found;
    const wchar_t* title = DialogTitle;
};

BOOL CALLBACK FindDialog(HWND hwnd, LPARAM lParam) {
    auto* context = reinterpret_cast<FindContext*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(hwnd, &processId);
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    if (processId == context->processId && wcscmp(title, context->title) == 0) {
        context->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// Read without a message: while the program counts down to the restart its thread answers none.
std::wstring ControlText(HWND dialog, int id) {
    wchar_t text[512] = {};
    InternalGetWindowText(GetDlgItem(dialog, id), text, 512);
    return text;
}
} // namespace

std::wstring WindowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != 0; ++c)
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return path;
}

std::wstring Env(const wchar_t* name) {
    wchar_t value[2048] = {};
    GetEnvironmentVariableW(name, value, 2048);
    return value;
}

std::wstring NewScratchFolder(const wchar_t* prefix) {
    static int counter = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                L"-" + std::to_wstring(++counter);
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

void SetWindowsVersion(const wchar_t* version) {
    HKEY handle;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Tarnwick.exe", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &handle, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(handle, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                       static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
}

FakeWmiScenario::FakeWmiScenario(const std::wstring& directory, const std::string& scenario) {
    const std::wstring file = directory + L"\\scenario.txt";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(handle, scenario.data(), static_cast<DWORD>(scenario.size()), &written, nullptr);
    CloseHandle(handle);
    SetEnvironmentVariableW(L"TARNWICK_FAKE_WMI", file.c_str());
    m_original = DefaultValue(HKEY_LOCAL_MACHINE, LocatorServer);
    SetDefaultValue(HKEY_LOCAL_MACHINE, LocatorServer, Env(L"TARNWICK_FAKE_WMI_DLL"));
}

FakeWmiScenario::~FakeWmiScenario() {
    SetDefaultValue(HKEY_LOCAL_MACHINE, LocatorServer, m_original);
    SetEnvironmentVariableW(L"TARNWICK_FAKE_WMI", nullptr);
}

SessionEndBlocker::SessionEndBlocker(std::function<void()> onQuery) : m_onQuery(std::move(onQuery)) {
    m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = CreateThread(nullptr, 0, Run, this, 0, &m_threadId);
    WaitForSingleObject(m_ready, 10000);
}

namespace {
// Whether a process of this name runs (Wine's session end runs as wineboot.exe).
bool ProcessRuns(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry))
        found = _wcsicmp(entry.szExeFile, name) == 0;
    CloseHandle(snapshot);
    return found;
}
} // namespace

SessionEndBlocker::~SessionEndBlocker() {
    // A session end that a reboot request began may still be asking the windows; without this
    // window's "no" it would end the next test's program.
    for (int waited = 0; waited < 200 && ProcessRuns(L"wineboot.exe"); ++waited)
        Sleep(50);
    PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(m_thread, 10000);
    CloseHandle(m_thread);
    CloseHandle(m_ready);
}

// A window procedure must be stdcall on i686, which a lambda cannot be.
static LRESULT CALLBACK RefuseEndSession(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_QUERYENDSESSION) {
        auto* onQuery = reinterpret_cast<std::function<void()>*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (onQuery != nullptr && *onQuery)
            (*onQuery)();
        return FALSE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

DWORD WINAPI SessionEndBlocker::Run(void* self) {
    auto* blocker = static_cast<SessionEndBlocker*>(self);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RefuseEndSession;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnwickSessionEndBlocker";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(windowClass.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&blocker->m_onQuery));
    SetEvent(blocker->m_ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    DestroyWindow(window);
    return 0;
}

#if _WIN32_WINNT < 0x0600 // Windows Vista's, which Wine has
extern "C" LONG WINAPI RegDeleteTreeW(HKEY key, LPCWSTR subKey);
#endif

void DeleteResultRecord() {
    HKEY product = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velomar", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      &product) == ERROR_SUCCESS) {
        RegDeleteTreeW(product, L"HD Firmware Update");
        RegCloseKey(product);
    }
}

ProgramRun::ProgramRun(const std::wstring& directory, const std::wstring& arguments, bool restricted,
                       const std::wstring& copy) {
    const std::wstring program = copy.empty() ? Env(L"TARNWICK_EXE") : copy;
    std::wstring commandLine = L"Tarnwick.exe" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = FALSE;
    if (restricted) {
        // The same user with the Administrators group for denial only.
        HANDLE token = nullptr, restrictedToken = nullptr;
        SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
        PSID administrators = nullptr;
        AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                 0, 0, 0, 0, &administrators);
        SID_AND_ATTRIBUTES deny = {administrators, 0};
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) &&
            CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restrictedToken))
            started = CreateProcessAsUserW(restrictedToken, program.c_str(), &commandLine[0], nullptr,
                                           nullptr, FALSE, 0, nullptr, directory.c_str(), &startup, &process);
        if (restrictedToken != nullptr)
            CloseHandle(restrictedToken);
        if (token != nullptr)
            CloseHandle(token);
        FreeSid(administrators);
    } else {
        started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                 directory.c_str(), &startup, &process);
    }
    if (started) {
        m_process = process.hProcess;
        m_processId = process.dwProcessId;
        CloseHandle(process.hThread);
    }
}

ProgramRun::~ProgramRun() {
    if (m_process != nullptr) {
        if (WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process, 99);
        CloseHandle(m_process);
    }
}

HWND ProgramRun::Dialog() const {
    FindContext context{m_processId, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&context));
    return context.found;
}

HWND ProgramRun::WaitForDialog(DWORD milliseconds) const {
    for (DWORD waited = 0; waited < milliseconds; waited += 20) {
        if (HWND dialog = Dialog())
            return dialog;
        if (WaitForSingleObject(m_process, 20) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

HWND ProgramRun::WaitForWindow(const wchar_t* title, DWORD milliseconds) const {
    for (DWORD waited = 0; waited < milliseconds; waited += 20) {
        FindContext context{m_processId, nullptr, title};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&context));
        if (context.found != nullptr)
            return context.found;
        if (WaitForSingleObject(m_process, 20) == WAIT_OBJECT_0)
            return nullptr;
    }
    return nullptr;
}

DialogView ProgramRun::Read() const {
    DialogView view;
    HWND dialog = Dialog();
    if (dialog == nullptr)
        return view;
    // Let the dialog finish the message it is handling, unless it is busy counting down.
    SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 200, nullptr);
    view.status = ControlText(dialog, 1002);
    view.detail = ControlText(dialog, 1003);
    view.hint = ControlText(dialog, 1004);
    view.hintVisible = IsWindowVisible(GetDlgItem(dialog, 1004)) != FALSE;
    view.okEnabled = IsWindowEnabled(GetDlgItem(dialog, IDOK)) != FALSE;
    view.closeEnabled = IsWindowEnabled(GetDlgItem(dialog, IDCLOSE)) != FALSE;
    view.visible = IsWindowVisible(dialog) != FALSE;
    return view;
}

void ProgramRun::Observe() {
    const DialogView view = Read();
    m_everVisible = m_everVisible || view.visible;
    // The template's placeholder (or the empty text before it) is no line of the run; whether it is
    // seen at all depends on timing.
    if (m_statusSeen.empty() && (view.status.empty() || view.status == L"[ status text... ]"))
        return;
    if (Dialog() != nullptr && (m_statusSeen.empty() || m_statusSeen.back() != view.status))
        m_statusSeen.push_back(view.status);
}

bool ProgramRun::WaitForStatus(const std::wstring& text, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 25) {
        Observe();
        if (!m_statusSeen.empty() && m_statusSeen.back() == text)
            return true;
        if (WaitForSingleObject(m_process, 25) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

bool ProgramRun::WaitForOutcome(DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 25) {
        Observe();
        if (Read().closeEnabled)
            return true;
        if (WaitForSingleObject(m_process, 25) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

void ProgramRun::Press(int id) const {
    HWND dialog = Dialog();
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void ProgramRun::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
    PostMessageW(Dialog(), message, wParam, lParam);
}

void ProgramRun::Kill() {
    TerminateProcess(m_process, 99);
    WaitForSingleObject(m_process, 10000);
}

void ProgramRun::PressEscape() const {
    PostMessageW(Dialog(), WM_KEYDOWN, VK_ESCAPE, 0);
}

DWORD ProgramRun::WaitForExit(DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 25) {
        Observe();
        if (WaitForSingleObject(m_process, 25) == WAIT_OBJECT_0) {
            DWORD code = STILL_ACTIVE;
            GetExitCodeProcess(m_process, &code);
            return code;
        }
    }
    return STILL_ACTIVE;
}
