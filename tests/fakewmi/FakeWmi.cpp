#include "FakeWmi.h"

#include "Scenario.h"

#include <atomic>
#include <cwctype>
#include <map>
#include <mutex>

namespace fakewmi {
namespace {

const wchar_t DriveQuery[] = L"Select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive";
const wchar_t PartitionQuery[] = L"Select * from Win32_DiskPartition Where DiskIndex = '0'";

std::atomic<long> g_live{0};

struct State {
    std::mutex lock;
    Scenario scenario;
    std::wstring loadError; // why the last load failed; empty after a good one
    std::map<std::wstring, long> counts;
    std::vector<Call> calls;
    std::wstring logPath;
};

State& TheState() {
    static State state;
    return state;
}

std::wstring Lower(std::wstring s) {
    for (wchar_t& c : s)
        c = static_cast<wchar_t>(towlower(c));
    return s;
}

void AppendLog(const State& state, const std::wstring& line) {
    if (state.logPath.empty())
        return;
    std::wstring text = line + L"\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string bytes(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr,
                        nullptr);
    HANDLE file = CreateFileW(state.logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Records one call. Returns true, with *injected set, when a fail line of the scenario names this call.
// property narrows the count: a Get's property, or the drive position of a Next's query.
bool Record(const wchar_t* method, const std::wstring& property, const std::wstring& args, HRESULT* injected,
            bool* hang = nullptr, bool* noCallResult = nullptr) {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.calls.push_back({method, args});
    AppendLog(state, method + std::wstring(L"\t") + args);
    long count = ++state.counts[method];
    long propertyCount = property.empty() ? 0 : ++state.counts[std::wstring(method) + L":" + Lower(property)];
    for (const Failure& f : state.scenario.failures) {
        bool match = f.property.empty()
                         ? f.occurrence == count
                         : Lower(f.property) == Lower(property) && f.occurrence == propertyCount;
        if (f.method == method && match) {
            *injected = f.result;
            if (hang)
                *hang = f.hang;
            if (noCallResult)
                *noCallResult = f.noCallResult;
            return true;
        }
    }
    return false;
}

constexpr ULONG MaxHang = 5 * 60 * 1000;

std::wstring Text(const wchar_t* s) {
    return s ? std::wstring(s) : L"(null)";
}

std::wstring Text(BSTR s) {
    return s ? std::wstring(s, SysStringLen(s)) : L"(null)";
}

std::wstring Context(IWbemContext* context) {
    return context ? L"|(context)" : L"";
}

// Keeps the count of live objects.
struct Live {
    Live() { ++g_live; }
    ~Live() { --g_live; }
};

// A COM object of one interface: reference counting, QueryInterface for IUnknown and that
// interface, and a place in the count of live objects.
template <typename Interface, const IID* InterfaceId> class ComObject : public Interface {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, *InterfaceId))
            return *out = nullptr, E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

  protected:
    virtual ~ComObject() = default;

  private:
    Live m_live;
    LONG m_refs = 1;
};

class ClassObject : public ComObject<IWbemClassObject, &IID_IWbemClassObject> {
  public:
    explicit ClassObject(const Properties& properties) : m_properties(properties) {}

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                                  LONG* flavor) override {
        HRESULT injected = S_OK;
        if (Record(L"Get", name ? name : L"", Text(name) + L"|" + std::to_wstring(flags), &injected))
            return injected;
        if (!name)
            return WBEM_E_INVALID_PARAMETER;
        for (const auto& p : m_properties) {
            if (_wcsicmp(p.first.c_str(), name) != 0)
                continue;
            if (value) {
                VariantInit(value);
                if (FAILED(ToVariant(p.second, value)))
                    return WBEM_E_OUT_OF_MEMORY;
            }
            if (type)
                *type = p.second.kind == Value::Int     ? CIM_SINT32
                        : p.second.kind == Value::Array ? (CIM_STRING | CIM_FLAG_ARRAY)
                                                        : CIM_STRING;
            if (flavor)
                *flavor = WBEM_FLAVOR_ORIGIN_LOCAL;
            return WBEM_S_NO_ERROR;
        }
        return WBEM_E_NOT_FOUND;
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

  private:
    virtual ~ClassObject() = default;
    Properties m_properties;
};

class Enumerator : public ComObject<IEnumWbemClassObject, &IID_IEnumWbemClassObject> {
  public:
    // Takes over one reference to each object; position: the drive position of a drive query, else empty.
    Enumerator(std::vector<IWbemClassObject*> objects, std::wstring position)
        : m_objects(std::move(objects)), m_position(std::move(position)) {}

    HRESULT STDMETHODCALLTYPE Reset() override {
        HRESULT injected = S_OK;
        if (Record(L"Reset", L"", L"", &injected) && FAILED(injected))
            return injected;
        m_next = 0;
        return injected;
    }

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects,
                                   ULONG* returned) override {
        HRESULT injected = S_OK;
        std::wstring args = std::to_wstring(static_cast<ULONG>(timeout)) + L"|" + std::to_wstring(count);
        bool hang = false;
        if (Record(L"Next", m_position, args, &injected, &hang)) {
            if (hang) // a service that stops answering: the caller's time-out, at most five minutes
                Sleep(static_cast<ULONG>(timeout) < MaxHang ? static_cast<ULONG>(timeout) : MaxHang);
            if (returned)
                *returned = 0;
            return injected;
        }
        if (!objects || !returned)
            return WBEM_E_INVALID_PARAMETER;
        ULONG n = 0;
        for (; n < count && m_next < m_objects.size(); ++n) {
            objects[n] = m_objects[m_next++];
            objects[n]->AddRef();
        }
        *returned = n;
        return n == count ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

  private:
    virtual ~Enumerator() {
        for (IWbemClassObject* object : m_objects)
            object->Release();
    }
    std::vector<IWbemClassObject*> m_objects;
    const std::wstring m_position;
    size_t m_next = 0;
};

// What a semi-synchronous ExecMethod hands back: its output, ready at once unless a fail line
// makes the wait hang.
class CallResult : public ComObject<IWbemCallResult, &IID_IWbemCallResult> {
  public:
    // Takes over the reference to output.
    explicit CallResult(IWbemClassObject* output) : m_output(output) {}

    HRESULT STDMETHODCALLTYPE GetResultObject(LONG timeout, IWbemClassObject** object) override {
        if (object)
            *object = nullptr;
        HRESULT injected = S_OK;
        if (Injected(L"GetResultObject", timeout, &injected))
            return injected;
        if (!object)
            return WBEM_E_INVALID_PARAMETER;
        *object = m_output;
        m_output->AddRef();
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE GetCallStatus(LONG timeout, LONG* status) override {
        HRESULT injected = S_OK;
        if (Injected(L"GetCallStatus", timeout, &injected))
            return injected;
        if (!status)
            return WBEM_E_INVALID_PARAMETER;
        *status = WBEM_S_NO_ERROR;
        return WBEM_S_NO_ERROR;
    }
    HRESULT STDMETHODCALLTYPE GetResultString(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetResultServices(LONG, IWbemServices**) override {
        return WBEM_E_NOT_SUPPORTED;
    }

  private:
    virtual ~CallResult() { m_output->Release(); }
    // Records the call; true when a fail line answers it with *injected, at once or, for a hang, after
    // the caller's time-out.
    static bool Injected(const wchar_t* method, LONG timeout, HRESULT* injected) {
        bool hang = false;
        if (!Record(method, L"", std::to_wstring(static_cast<ULONG>(timeout)), injected, &hang))
            return false;
        if (hang)
            Sleep(static_cast<ULONG>(timeout) < MaxHang ? static_cast<ULONG>(timeout) : MaxHang);
        return true;
    }
    IWbemClassObject* m_output;
};

// The instances that a query names, or false when the text is not one of the two queries the fake knows.
const wchar_t EncryptionNamespace[] = L"root\\CIMV2\\Security\\MicrosoftVolumeEncryption";
const wchar_t VolumeQuery[] = L"Select * from Win32_EncryptableVolume Where DriveLetter = '";

std::wstring VolumePath(const std::wstring& letter) {
    return L"Win32_EncryptableVolume.DeviceID=\"\\\\?\\Volume{" + letter.substr(0, 1) + L"}\\\"";
}

// The instance of a scenario volume, with the properties that WMI reports.
Properties VolumeProperties(const Scenario::Volume& volume) {
    Properties properties;
    Value text;
    text.text = volume.letter;
    properties.emplace_back(L"DriveLetter", text);
    text.text = VolumePath(volume.letter);
    properties.emplace_back(L"__PATH", text);
    for (const auto& p : volume.properties)
        if (p.first == L"ProtectionStatus")
            properties.push_back(p);
    return properties;
}

bool SelectVolumes(const Scenario& scenario, const std::wstring& query,
                   std::vector<IWbemClassObject*>* objects) {
    const std::wstring prefix = VolumeQuery;
    if (query.compare(0, prefix.size(), prefix) != 0 || query.size() != prefix.size() + 3 ||
        query.back() != L'\'')
        return false;
    const std::wstring letter = query.substr(prefix.size(), 2);
    for (const Scenario::Volume& volume : scenario.volumes)
        if (_wcsicmp(volume.letter.c_str(), letter.c_str()) == 0)
            objects->push_back(new ClassObject(VolumeProperties(volume)));
    return true;
}

bool Select(const std::wstring& query, bool encryption, std::vector<IWbemClassObject*>* objects,
            std::wstring* position) {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    const Scenario& scenario = state.scenario;
    if (encryption)
        return SelectVolumes(scenario, query, objects);
    if (query == PartitionQuery) {
        if (scenario.hasPartition)
            objects->push_back(new ClassObject(scenario.partition));
        return true;
    }
    const std::wstring prefix = DriveQuery;
    if (query.compare(0, prefix.size(), prefix) != 0 || query.size() < prefix.size() + 2 ||
        query.back() != L'\'')
        return false;
    std::wstring digits = query.substr(prefix.size(), query.size() - prefix.size() - 1);
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == L'0'))
        return false;
    long number = 0;
    for (wchar_t c : digits) {
        if (c < L'0' || c > L'9')
            return false;
        number = number * 10 + (c - L'0');
    }
    if (number < Scenario::MaxDrives && scenario.hasDrive[number])
        objects->push_back(new ClassObject(scenario.drives[number]));
    *position = std::to_wstring(number);
    return true;
}

class Services : public IWbemServices, public IClientSecurity {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IWbemServices))
            *out = static_cast<IWbemServices*>(this);
        else if (IsEqualIID(iid, IID_IClientSecurity))
            *out = static_cast<IClientSecurity*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return refs;
    }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags,
                                        IWbemContext* context, IEnumWbemClassObject** result) override {
        HRESULT injected = S_OK;
        std::wstring args =
            Text(language) + L"|" + Text(query) + L"|" + std::to_wstring(flags) + Context(context);
        bool inject = Record(L"ExecQuery", L"", args, &injected);
        if (!result)
            return WBEM_E_INVALID_PARAMETER;
        *result = nullptr;
        if (inject && FAILED(injected))
            return injected;
        if (!language || _wcsicmp(language, L"WQL") != 0)
            return WBEM_E_INVALID_QUERY_TYPE;
        std::vector<IWbemClassObject*> objects;
        std::wstring position;
        if (!query || !Select(Text(query), m_encryption, &objects, &position))
            return WBEM_E_INVALID_QUERY;
        *result = new Enumerator(std::move(objects), position);
        return injected;
    }

    // IClientSecurity: what CoSetProxyBlanket reaches on an in-process object.
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD* authn, DWORD* authz, OLECHAR** principal,
                                           DWORD* authnLevel, DWORD* impLevel, void** authInfo,
                                           DWORD* capabilities) override {
        HRESULT injected = S_OK;
        if (Record(L"QueryBlanket", L"", L"", &injected) && FAILED(injected))
            return injected;
        if (authn)
            *authn = m_authn;
        if (authz)
            *authz = m_authz;
        if (principal)
            *principal = nullptr;
        if (authnLevel)
            *authnLevel = m_authnLevel;
        if (impLevel)
            *impLevel = m_impLevel;
        if (authInfo)
            *authInfo = nullptr;
        if (capabilities)
            *capabilities = m_capabilities;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn, DWORD authz, OLECHAR* principal,
                                         DWORD authnLevel, DWORD impLevel, void* authInfo,
                                         DWORD capabilities) override {
        std::wstring args = std::to_wstring(authn) + L"|" + std::to_wstring(authz) + L"|" +
                            (principal == COLE_DEFAULT_PRINCIPAL ? L"(default)" : Text(principal)) + L"|" +
                            std::to_wstring(authnLevel) + L"|" + std::to_wstring(impLevel) + L"|" +
                            (!authInfo                           ? L"(null)"
                             : authInfo == COLE_DEFAULT_AUTHINFO ? L"(default)"
                                                                 : L"(set)") +
                            L"|" + std::to_wstring(capabilities);
        HRESULT injected = S_OK;
        if (Record(L"SetBlanket", L"", args, &injected) && FAILED(injected))
            return injected;
        m_authn = authn;
        m_authz = authz;
        m_authnLevel = authnLevel;
        m_impLevel = impLevel;
        m_capabilities = capabilities;
        return injected;
    }

    // There is no proxy to copy: the object stands for itself.
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown* proxy, IUnknown** copy) override {
        HRESULT injected = S_OK;
        if (Record(L"CopyProxy", L"", L"", &injected) && FAILED(injected))
            return injected;
        if (!proxy || !copy)
            return E_INVALIDARG;
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(copy));
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*,
                                            IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*,
                                              IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*,
                                                   IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*,
                                          IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*,
                                               IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*,
                                                 IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*,
                                                      IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext*,
                                         IWbemClassObject*, IWbemClassObject** out,
                                         IWbemCallResult** callResult) override {
        HRESULT injected = S_OK;
        bool noCallResult = false;
        const bool inject =
            Record(L"ExecMethod", L"", Text(path) + L"|" + Text(method) + L"|" + std::to_wstring(flags),
                   &injected, nullptr, &noCallResult);
        if (out)
            *out = nullptr;
        if (callResult)
            *callResult = nullptr;
        if (inject && FAILED(injected))
            return injected;
        // Semi-synchronous: the output comes through the call result, never directly.
        const bool semisynchronous = (flags & WBEM_FLAG_RETURN_IMMEDIATELY) != 0;
        if (semisynchronous && (out || !callResult))
            return WBEM_E_INVALID_PARAMETER;
        if (!m_encryption || !path || !method || _wcsicmp(method, L"GetConversionStatus") != 0)
            return WBEM_E_INVALID_METHOD;
        State& state = TheState();
        std::lock_guard<std::mutex> hold(state.lock);
        for (const Scenario::Volume& volume : state.scenario.volumes) {
            if (VolumePath(volume.letter) != path)
                continue;
            Properties result;
            Value zero;
            zero.kind = Value::Int;
            result.emplace_back(L"ReturnValue", zero);
            for (const auto& p : volume.properties)
                if (p.first == L"ConversionStatus")
                    result.push_back(p);
            if (semisynchronous && !noCallResult)
                *callResult = new CallResult(new ClassObject(result));
            else if (out)
                *out = new ClassObject(result);
            return injected;
        }
        return WBEM_E_NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }

    explicit Services(bool encryption) : m_encryption(encryption) {}

  private:
    virtual ~Services() = default;
    const bool m_encryption; // BitLocker's namespace, not root\CIMV2
    Live m_live;
    LONG m_refs = 1;
    DWORD m_authn = RPC_C_AUTHN_WINNT;
    DWORD m_authz = RPC_C_AUTHZ_NONE;
    DWORD m_authnLevel = RPC_C_AUTHN_LEVEL_CONNECT;
    DWORD m_impLevel = RPC_C_IMP_LEVEL_IDENTIFY;
    DWORD m_capabilities = EOAC_NONE;
};

class Locator : public ComObject<IWbemLocator, &IID_IWbemLocator> {
  public:
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG flags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** result) override {
        std::wstring args = Text(resource) + L"|" + Text(user) + L"|" + Text(password) + L"|" + Text(locale) +
                            L"|" + std::to_wstring(flags) + L"|" + Text(authority) + Context(context);
        HRESULT injected = S_OK;
        bool inject = Record(L"ConnectServer", L"", args, &injected);
        if (!result)
            return WBEM_E_INVALID_PARAMETER;
        *result = nullptr;
        if (inject && FAILED(injected))
            return injected;
        bool encryption = false;
        if (resource && _wcsicmp(resource, EncryptionNamespace) == 0) {
            std::lock_guard<std::mutex> hold(TheState().lock);
            encryption = !TheState().scenario.volumes.empty();
            if (!encryption)
                return WBEM_E_INVALID_NAMESPACE;
        } else if (!resource || _wcsicmp(resource, L"root\\CIMV2") != 0) {
            return WBEM_E_INVALID_NAMESPACE;
        }
        *result = new Services(encryption);
        return injected;
    }

  private:
    virtual ~Locator() = default;
};

std::wstring GuidText(REFIID iid) {
    wchar_t text[40] = L"";
    StringFromGUID2(iid, text, 40);
    return text;
}

// Puts a parsed scenario in place, or, when why is not empty, none, so that no locator can be made.
bool Install(const Scenario& scenario, const std::wstring& why, std::wstring* error) {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.scenario = why.empty() ? scenario : Scenario();
    state.loadError = why;
    state.counts.clear();
    state.calls.clear();
    if (!why.empty())
        AppendLog(state, L"LoadScenario\t" + why);
    if (error)
        *error = why;
    return why.empty();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes, std::wstring* why) {
    if (path.empty())
        return *why = L"no scenario file was named", false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool read = file != INVALID_HANDLE_VALUE;
    char buffer[4096];
    DWORD got = 0;
    while (read && (read = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != FALSE) && got > 0)
        bytes->append(buffer, got);
    DWORD lastError = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!read)
        *why = L"cannot read " + path + L" (error " + std::to_wstring(lastError) + L")";
    return read;
}

} // namespace

bool LoadScenario(const std::wstring& text, std::wstring* error) {
    Scenario scenario;
    std::wstring why;
    ParseScenario(text, &scenario, &why);
    return Install(scenario, why, error);
}

bool LoadScenarioFile(const std::wstring& path, std::wstring* error) {
    std::string bytes;
    std::wstring text, why;
    Scenario scenario;
    if (ReadFileBytes(path, &bytes, &why) && !bytes.empty()) {
        int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                       static_cast<int>(bytes.size()), nullptr, 0);
        text.resize(size);
        if (size == 0 || !MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(bytes.size()), &text[0], size))
            why = path + L": not UTF-8 text";
    }
    if (why.empty() && !ParseScenario(text, &scenario, &why))
        why = path + L" " + why;
    return Install(scenario, why, error);
}

std::vector<Call> Calls() {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.calls;
}

void ClearCalls() {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.calls.clear();
}

long LiveObjects() {
    return g_live;
}

void SetLogFile(const std::wstring& path) {
    State& state = TheState();
    std::lock_guard<std::mutex> hold(state.lock);
    state.logPath = path;
}

HRESULT CreateLocator(REFIID iid, void** out) {
    HRESULT injected = S_OK;
    bool inject = Record(L"CreateInstance", L"", GuidText(iid), &injected);
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (inject && FAILED(injected))
        return injected;
    {
        State& state = TheState();
        std::lock_guard<std::mutex> hold(state.lock);
        if (!state.loadError.empty())
            return WBEM_E_INITIALIZATION_FAILURE;
    }
    Locator* locator = new Locator;
    HRESULT hr = locator->QueryInterface(iid, out);
    locator->Release();
    return FAILED(hr) ? hr : injected;
}

HRESULT CreateLocator(IWbemLocator** out) {
    return CreateLocator(IID_IWbemLocator, reinterpret_cast<void**>(out));
}

} // namespace fakewmi
