// FakeWmi.dll: the fake WMI provider as an in-process COM server, registered in a test prefix in place
// of the WMI locator. It reads its scenario from the file that TARNWICK_FAKE_WMI names and, when
// TARNWICK_FAKE_WMI_LOG names a file, appends every call to it.
#include "FakeWmi.h"

#include <mutex>

namespace {

LONG g_locks = 0;

std::wstring EnvironmentValue(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2] = L"";
    DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    return length > 0 && length < MAX_PATH * 2 ? std::wstring(buffer, length) : std::wstring();
}

// Call counters must outlive the last CoUninitialize, which would otherwise unload the DLL.
void PinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &self);
}

// Loads the scenario before the first locator is made; after a failed load, tries again next time.
void LoadOnce() {
    static std::mutex lock;
    static bool loaded = false;
    std::lock_guard<std::mutex> hold(lock);
    if (loaded)
        return;
    fakewmi::SetLogFile(EnvironmentValue(L"TARNWICK_FAKE_WMI_LOG"));
    loaded = fakewmi::LoadScenarioFile(EnvironmentValue(L"TARNWICK_FAKE_WMI"), nullptr);
}

class ClassFactory : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return *out = nullptr, E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // One static instance, never freed.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        LoadOnce();
        return fakewmi::CreateLocator(iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }
};

ClassFactory g_factory;

} // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_WbemLocator))
        return CLASS_E_CLASSNOTAVAILABLE;
    PinModule();
    return g_factory.QueryInterface(iid, out);
}

STDAPI DllCanUnloadNow() {
    return fakewmi::LiveObjects() == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
