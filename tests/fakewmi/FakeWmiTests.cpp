#include "FakeWmi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const wchar_t DrivePrefix[] = L"Select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive";
const wchar_t PartitionQuery[] = L"Select * from Win32_DiskPartition Where DiskIndex = '0'";

std::wstring DriveQuery(int position) {
    return DrivePrefix + std::to_wstring(position) + L"'";
}

// Releases the interface it holds.
template <class T> struct Ptr {
    T* p = nullptr;
    Ptr() = default;
    Ptr(const Ptr&) = delete;
    ~Ptr() {
        if (p)
            p->Release();
    }
    T* operator->() const { return p; }
};

struct Bstr {
    BSTR s;
    explicit Bstr(const std::wstring& text)
        : s(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(s); }
};

struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    ~Variant() { VariantClear(this); }
};

std::wstring TempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    std::wstring path = std::wstring(dir) + name + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(path.c_str());
    return path;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    char buffer[4096];
    DWORD got = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return bytes;
}

// The program's way in: a locator, the namespace, the blanket.
HRESULT Connect(IWbemLocator* locator, IWbemServices** services) {
    Bstr ns(L"root\\CIMV2");
    HRESULT hr = locator->ConnectServer(ns.s, nullptr, nullptr, nullptr, 0, nullptr, nullptr, services);
    if (FAILED(hr))
        return hr;
    return CoSetProxyBlanket(*services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
}

HRESULT Query(IWbemServices* services, const std::wstring& text, IEnumWbemClassObject** result) {
    Bstr language(L"WQL"), query(text);
    return services->ExecQuery(language.s, query.s, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, result);
}

// The first instance of a query, or null.
IWbemClassObject* First(IWbemServices* services, const std::wstring& query) {
    Ptr<IEnumWbemClassObject> items;
    IWbemClassObject* object = nullptr;
    ULONG returned = 0;
    if (Query(services, query, &items.p) != 0 || items->Reset() != 0 ||
        items->Next(WBEM_INFINITE, 1, &object, &returned) != 0)
        return nullptr;
    return object;
}

std::wstring TextOf(IWbemClassObject* object, const wchar_t* property) {
    Variant value;
    HRESULT hr = object->Get(property, 0, &value, nullptr, nullptr);
    if (hr != 0)
        return L"<Get " + std::to_wstring(static_cast<ULONG>(hr)) + L">";
    if (value.vt != VT_BSTR)
        return L"<vt " + std::to_wstring(value.vt) + L">";
    return std::wstring(value.bstrVal, SysStringLen(value.bstrVal));
}

// The program's walk: position after position until one has no instance.
std::vector<std::wstring> ReadModels(IWbemServices* services) {
    std::vector<std::wstring> models;
    for (int p = 0; p < 8; ++p) {
        Ptr<IWbemClassObject> drive;
        drive.p = First(services, DriveQuery(p));
        if (!drive.p)
            break;
        models.push_back(TextOf(drive.p, L"Model"));
    }
    return models;
}

int CountCalls(const wchar_t* method) {
    int n = 0;
    for (const fakewmi::Call& call : fakewmi::Calls())
        n += call.method == method;
    return n;
}

class FakeWmiTest : public ::testing::Test {
  protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override {
        EXPECT_EQ(0, fakewmi::LiveObjects()) << "a COM object of the fake was not freed";
        CoUninitialize();
    }
    void Load(const std::wstring& text) {
        std::wstring error;
        ASSERT_TRUE(fakewmi::LoadScenario(text, &error)) << error;
    }
    // A connected services object, as the program opens it.
    IWbemServices* Open() {
        Ptr<IWbemLocator> locator;
        IWbemServices* services = nullptr;
        EXPECT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
        EXPECT_EQ(S_OK, locator.p ? Connect(locator.p, &services) : E_FAIL);
        return services;
    }
};

TEST_F(FakeWmiTest, EveryKindOfValueReachesGet) {
    Load(L"# two drives\n"
         L"drive 0 model=\"Disk \\\"A\\\" \\\\ C:\\dir #1\" firmware=null pnp=int:-42  # comment\n"
         L"\n"
         L"   drive 1\tpnp=array\n"
         L"drive 2 model=\"C:\\\\\" # a backslash at the end\n"
         L"partition type=\"GPT: System\"\n");
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    Ptr<IWbemClassObject> disk0, disk1, partition;
    disk0.p = First(services.p, DriveQuery(0));
    disk1.p = First(services.p, DriveQuery(1));
    partition.p = First(services.p, PartitionQuery);
    ASSERT_TRUE(disk0.p && disk1.p && partition.p);

    EXPECT_EQ(L"Disk \"A\" \\ C:\\dir #1", TextOf(disk0.p, L"Model"));
    EXPECT_EQ(L"GPT: System", TextOf(partition.p, L"Type"));
    Ptr<IWbemClassObject> disk2;
    disk2.p = First(services.p, DriveQuery(2));
    EXPECT_EQ(L"C:\\", disk2.p ? TextOf(disk2.p, L"Model") : L"<none>");

    Variant firmware, pnp, array, converted;
    ASSERT_EQ(0, disk0->Get(L"FirmwareRevision", 0, &firmware, nullptr, nullptr));
    EXPECT_EQ(VT_NULL, firmware.vt);
    EXPECT_TRUE(FAILED(VariantChangeType(&converted, &firmware, 0, VT_BSTR)));
    ASSERT_EQ(0, disk0->Get(L"PNPDeviceID", 0, &pnp, nullptr, nullptr));
    EXPECT_EQ(VT_I4, pnp.vt);
    EXPECT_EQ(-42, pnp.lVal);
    ASSERT_EQ(0, disk1->Get(L"PNPDeviceID", 0, &array, nullptr, nullptr));
    EXPECT_EQ(VT_ARRAY | VT_BSTR, array.vt);
    EXPECT_EQ(1u, array.vt == (VT_ARRAY | VT_BSTR) ? array.parray->rgsabound[0].cElements : 0u);
    EXPECT_TRUE(FAILED(VariantChangeType(&converted, &array, 0, VT_BSTR)));

    Variant untouched;
    EXPECT_EQ(WBEM_E_NOT_FOUND, disk1->Get(L"Model", 0, &untouched, nullptr, nullptr));
    EXPECT_EQ(WBEM_E_NOT_FOUND, partition->Get(L"Model", 0, &untouched, nullptr, nullptr));
    EXPECT_EQ(VT_EMPTY, untouched.vt);
}

TEST_F(FakeWmiTest, BadLinesAreRejectedByNumber) {
    const struct {
        const wchar_t* text;
        const wchar_t* error;
    } cases[] = {
        {L"drive 0\nwibble", L"line 2: unknown statement 'wibble'"},
        {L"drive 16", L"line 1: expected a drive position from 0 to 15"},
        {L"drive", L"line 1: expected a drive position"},
        {L"drive 0\n\ndrive 0", L"line 3: drive 0 given twice"},
        {L"drive 0 model=Bare", L"line 1: bad value 'Bare'"},
        {L"drive 0 model=\"open", L"line 1: unterminated quoted text"},
        {L"drive 0 model=\"a\"b\"\"", L"line 1: text after the closing quote"},
        {L"drive 0 colour=\"red\"", L"line 1: unknown key 'colour'"},
        {L"drive 0 model=\"a\" model=null", L"line 1: key 'model' given twice"},
        {L"drive 0 model=int:2147483648", L"line 1: bad value"},
        {L"partition", L"line 1: expected: partition type=<value>"},
        {L"partition model=\"x\"", L"line 1: unknown key 'model'"},
        {L"partition type=null\npartition type=null", L"line 2: partition given twice"},
        {L"fail Open 1 5", L"line 1: unknown method 'Open'"},
        {L"fail Next:Model 1 5", L"line 1: a drive position from 0 to 15 follows Next"},
        {L"fail Next:16 1 5", L"line 1: a drive position from 0 to 15 follows Next"},
        {L"fail Reset:Model 1 5", L"line 1: only Get:<Property> and Next:<position> narrow a failure"},
        {L"fail Get 1 nocallresult", L"line 1: only ExecMethod can leave out its call result"},
        {L"fail Get 0 5", L"line 1: bad occurrence '0'"},
        {L"fail Get 1 0x1G", L"line 1: bad hresult '0x1G'"},
        {L"fail Get 1 4294967296", L"line 1: bad hresult"},
        {L"fail Get 1", L"line 1: expected: fail"},
        {L"fail Get 1 hang", L"line 1: only Next, GetCallStatus and GetResultObject can hang"},
        {L"volume C", L"line 1: expected a drive letter and a colon"},
        {L"volume C: colour=int:1", L"line 1: unknown key 'colour'"},
        {L"volume C:\nvolume c:", L"line 2: volume c: given twice"},
    };
    for (const auto& c : cases) {
        std::wstring error;
        EXPECT_FALSE(fakewmi::LoadScenario(c.text, &error)) << c.text;
        EXPECT_EQ(0u, error.find(c.error)) << "scenario: " << testing::PrintToString(std::wstring(c.text))
                                           << "\nerror: " << testing::PrintToString(error);
    }
    // Until a scenario loads, no locator can be made.
    Ptr<IWbemLocator> locator;
    EXPECT_EQ(WBEM_E_INITIALIZATION_FAILURE, fakewmi::CreateLocator(&locator.p));
    EXPECT_EQ(nullptr, locator.p);
    Load(L"");
    EXPECT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
}

TEST_F(FakeWmiTest, ScenarioFileIsUtf8) {
    std::wstring path = TempFile(L"fakewmi-scenario");
    WriteBytes(path, "\xEF\xBB\xBF"
                     "drive 0 model=\"Caf\xC3\xA9\"\r\n"
                     "fail Get:model 2 0x80041002\r\n");
    std::wstring error;
    ASSERT_TRUE(fakewmi::LoadScenarioFile(path, &error)) << error;
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    Ptr<IWbemClassObject> disk;
    disk.p = First(services.p, DriveQuery(0));
    ASSERT_TRUE(disk.p);
    EXPECT_EQ(L"Caf\u00e9", TextOf(disk.p, L"Model"));
    EXPECT_EQ(L"<Get 2147749890>", TextOf(disk.p, L"Model")); // the property name's case does not matter

    WriteBytes(path, "drive 0 model=\"\xFF\"\n");
    EXPECT_FALSE(fakewmi::LoadScenarioFile(path, &error));
    EXPECT_EQ(path + L": not UTF-8 text", error);
    WriteBytes(path, "drive 0\ndrive 99\n");
    EXPECT_FALSE(fakewmi::LoadScenarioFile(path, &error));
    EXPECT_EQ(path + L" line 2: expected a drive position from 0 to 15", error);
    DeleteFileW(path.c_str());
    EXPECT_FALSE(fakewmi::LoadScenarioFile(path, &error));
    EXPECT_EQ(0u, error.find(L"cannot read " + path)) << testing::PrintToString(error);
}

TEST_F(FakeWmiTest, WalkEndsAtTheFirstPositionWithoutADrive) {
    Load(L"drive 0 model=\"A\"\ndrive 1 model=\"B\"");
    {
        Ptr<IWbemServices> services;
        services.p = Open();
        ASSERT_TRUE(services.p);
        EXPECT_EQ((std::vector<std::wstring>{L"A", L"B"}), ReadModels(services.p));
        EXPECT_EQ(3, CountCalls(L"ExecQuery"));
    }
    Load(L"drive 0 model=\"A\"\ndrive 2 model=\"C\"\ndrive 15 model=\"P\"");
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    EXPECT_EQ(std::vector<std::wstring>{L"A"}, ReadModels(services.p));
    EXPECT_EQ(2, CountCalls(L"ExecQuery"));
    Ptr<IWbemClassObject> disk2, disk15;
    disk2.p = First(services.p, DriveQuery(2));
    disk15.p = First(services.p, DriveQuery(15));
    ASSERT_TRUE(disk2.p && disk15.p);
    EXPECT_EQ(L"C", TextOf(disk2.p, L"Model"));
    EXPECT_EQ(L"P", TextOf(disk15.p, L"Model"));
}

TEST_F(FakeWmiTest, CallsAreRecordedInOrderAndLogged) {
    Load(L"drive 0 model=\"A\"\npartition type=\"NTFS\"");
    std::wstring log = TempFile(L"fakewmi-log");
    fakewmi::SetLogFile(log);
    {
        Ptr<IWbemServices> services;
        services.p = Open();
        ASSERT_TRUE(services.p);
        Ptr<IWbemClassObject> disk, partition;
        disk.p = First(services.p, DriveQuery(0));
        partition.p = First(services.p, PartitionQuery);
        ASSERT_TRUE(disk.p && partition.p);
        TextOf(disk.p, L"Model");
        TextOf(partition.p, L"Type");
    }
    fakewmi::SetLogFile(L"");
    const std::vector<std::pair<std::wstring, std::wstring>> expected = {
        {L"CreateInstance", L"{DC12A687-737F-11CF-884D-00AA004B2E24}"},
        {L"ConnectServer", L"root\\CIMV2|(null)|(null)|(null)|0|(null)"},
        {L"SetBlanket", L"10|0|(null)|3|3|(null)|0"},
        {L"ExecQuery", L"WQL|" + DriveQuery(0) + L"|16"},
        {L"Reset", L""},
        {L"Next", L"4294967295|1"},
        {L"ExecQuery", L"WQL|" + std::wstring(PartitionQuery) + L"|16"},
        {L"Reset", L""},
        {L"Next", L"4294967295|1"},
        {L"Get", L"Model|0"},
        {L"Get", L"Type|0"},
    };
    std::vector<std::pair<std::wstring, std::wstring>> seen;
    std::wstring lines;
    for (const fakewmi::Call& call : fakewmi::Calls()) {
        seen.emplace_back(call.method, call.args);
        lines += call.method + L"\t" + call.args + L"\n";
    }
    EXPECT_EQ(expected, seen);
    std::string utf8(lines.begin(), lines.end()); // all ASCII
    EXPECT_EQ(utf8, ReadBytes(log));
    DeleteFileW(log.c_str());
    fakewmi::ClearCalls();
    EXPECT_TRUE(fakewmi::Calls().empty());
}

TEST_F(FakeWmiTest, OnlyTheProgramsNamespaceAndQueriesAreKnown) {
    Load(L"drive 0 model=\"A\"\npartition type=\"NTFS\"");
    Ptr<IWbemLocator> locator;
    ASSERT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
    Bstr other(L"root\\default"), upper(L"ROOT\\cimv2");
    IWbemServices* wrong = reinterpret_cast<IWbemServices*>(1);
    EXPECT_EQ(WBEM_E_INVALID_NAMESPACE, locator->ConnectServer(other.s, 0, 0, 0, 0, 0, 0, &wrong));
    EXPECT_EQ(nullptr, wrong);
    Ptr<IWbemServices> services;
    ASSERT_EQ(S_OK, locator->ConnectServer(upper.s, 0, 0, 0, 0, 0, 0, &services.p));

    const std::wstring badQueries[] = {
        L"Select * from Win32_DiskDrive Where DeviceID = '\\\\.\\PhysicalDrive0'", // backslashes not doubled
        DrivePrefix + std::wstring(L"01'"),
        DrivePrefix + std::wstring(L"'"),
        DrivePrefix + std::wstring(L"1"),
        L"select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive0'",
        L"Select * from Win32_DiskPartition Where DiskIndex = '1'",
        L"Select * from Win32_DiskDrive",
    };
    for (const std::wstring& query : badQueries) {
        IEnumWbemClassObject* items = reinterpret_cast<IEnumWbemClassObject*>(1);
        EXPECT_EQ(WBEM_E_INVALID_QUERY, Query(services.p, query, &items)) << testing::PrintToString(query);
        EXPECT_EQ(nullptr, items);
    }
    Bstr sql(L"SQL"), query(DriveQuery(0));
    IEnumWbemClassObject* items = nullptr;
    EXPECT_EQ(WBEM_E_INVALID_QUERY_TYPE, services->ExecQuery(sql.s, query.s, 16, nullptr, &items));
    EXPECT_EQ(nullptr, items);
}

TEST_F(FakeWmiTest, NextEndsWithFalseAndResetRewinds) {
    Load(L"partition type=\"NTFS\"");
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    Ptr<IEnumWbemClassObject> items;
    ASSERT_EQ(0, Query(services.p, PartitionQuery, &items.p));
    IWbemClassObject* objects[2] = {};
    ULONG returned = 9;
    ASSERT_EQ(WBEM_S_NO_ERROR, items->Next(WBEM_INFINITE, 1, objects, &returned));
    EXPECT_EQ(1u, returned);
    EXPECT_EQ(WBEM_S_FALSE, items->Next(WBEM_INFINITE, 1, objects + 1, &returned));
    EXPECT_EQ(0u, returned);
    EXPECT_EQ(nullptr, objects[1]);
    EXPECT_EQ(S_OK, items->Reset());
    ASSERT_EQ(WBEM_S_NO_ERROR, items->Next(WBEM_INFINITE, 1, objects + 1, &returned));
    EXPECT_EQ(objects[0], objects[1]);
    objects[0]->Release();
    objects[1]->Release();

    Load(L"drive 1 model=\"B\"");
    Ptr<IEnumWbemClassObject> none;
    ASSERT_EQ(0, Query(services.p, PartitionQuery, &none.p));
    returned = 9;
    EXPECT_EQ(WBEM_S_FALSE, none->Next(WBEM_INFINITE, 1, objects, &returned));
    EXPECT_EQ(0u, returned);
}

TEST_F(FakeWmiTest, InjectedResultsReplaceOrFollowTheWork) {
    Load(L"drive 0 model=\"A\" pnp=\"P\"\n"
         L"fail ExecQuery 2 0x80041001\n"
         L"fail ExecQuery 3 1\n"
         L"fail Reset 1 0x40004\n"
         L"fail Next 1 262148\n"
         L"fail Get:Model 2 1\n"
         L"fail Get 1 -2147217406\n");
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    Ptr<IEnumWbemClassObject> first, third;
    IEnumWbemClassObject* second = reinterpret_cast<IEnumWbemClassObject*>(1);
    EXPECT_EQ(0, Query(services.p, DriveQuery(0), &first.p));
    EXPECT_EQ(WBEM_E_FAILED, Query(services.p, DriveQuery(0), &second));
    EXPECT_EQ(nullptr, second);
    EXPECT_EQ(WBEM_S_FALSE, Query(services.p, DriveQuery(0), &third.p));
    ASSERT_TRUE(first.p && third.p);

    EXPECT_EQ(WBEM_S_TIMEDOUT, first->Reset());
    EXPECT_EQ(0, first->Reset());
    IWbemClassObject* disk = nullptr;
    ULONG returned = 9;
    EXPECT_EQ(WBEM_S_TIMEDOUT, first->Next(WBEM_INFINITE, 1, &disk, &returned));
    EXPECT_EQ(0u, returned);
    EXPECT_EQ(nullptr, disk);
    ASSERT_EQ(0, first->Next(WBEM_INFINITE, 1, &disk, &returned)); // the injected Next took nothing
    Ptr<IWbemClassObject> held;
    held.p = disk;

    EXPECT_EQ(L"<Get 2147749890>", TextOf(disk, L"PNPDeviceID")); // first Get of all
    EXPECT_EQ(L"A", TextOf(disk, L"Model"));
    Variant value;
    value.vt = VT_I4;
    value.lVal = 7;
    EXPECT_EQ(WBEM_S_FALSE, disk->Get(L"Model", 0, &value, nullptr, nullptr));
    EXPECT_EQ(VT_I4, value.vt);
    EXPECT_EQ(7, value.lVal);
    EXPECT_EQ(L"A", TextOf(disk, L"Model"));
    EXPECT_EQ(L"P", TextOf(disk, L"PNPDeviceID"));
}

TEST_F(FakeWmiTest, InjectedFailuresWhileOpening) {
    Load(L"fail CreateInstance 1 0x80040154\n"
         L"fail ConnectServer 1 0x80041003\n"
         L"fail SetBlanket 1 0x80070005\n");
    Ptr<IWbemLocator> locator;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, fakewmi::CreateLocator(&locator.p));
    EXPECT_EQ(nullptr, locator.p);
    ASSERT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
    Ptr<IWbemServices> services;
    EXPECT_EQ(WBEM_E_ACCESS_DENIED, Connect(locator.p, &services.p));
    EXPECT_EQ(nullptr, services.p);
    EXPECT_EQ(E_ACCESSDENIED, Connect(locator.p, &services.p));
    ASSERT_TRUE(services.p);
    services->Release();
    EXPECT_EQ(S_OK, Connect(locator.p, &services.p));
}

TEST_F(FakeWmiTest, QueryBlanketGivesWhatSetBlanketGot) {
    Load(L"");
    Ptr<IWbemServices> services;
    services.p = Open();
    ASSERT_TRUE(services.p);
    DWORD authn = 99, authz = 99, level = 99, impersonation = 99, capabilities = 99;
    ASSERT_EQ(S_OK, CoQueryProxyBlanket(services.p, &authn, &authz, nullptr, &level, &impersonation, nullptr,
                                        &capabilities));
    EXPECT_EQ(static_cast<DWORD>(RPC_C_AUTHN_WINNT), authn);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_AUTHZ_NONE), authz);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_AUTHN_LEVEL_CALL), level);
    EXPECT_EQ(static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE), impersonation);
    EXPECT_EQ(static_cast<DWORD>(EOAC_NONE), capabilities);
    EXPECT_EQ(L"QueryBlanket", fakewmi::Calls().back().method);
}

TEST_F(FakeWmiTest, ObjectsLiveUntilTheirLastRelease) {
    Load(L"drive 0 model=\"A\"");
    IWbemLocator* locator = nullptr;
    ASSERT_EQ(S_OK, fakewmi::CreateLocator(&locator));
    EXPECT_EQ(1, fakewmi::LiveObjects());
    IWbemServices* services = nullptr;
    ASSERT_EQ(S_OK, Connect(locator, &services));
    EXPECT_EQ(0u, locator->Release());

    IUnknown *unknown = nullptr, *again = nullptr;
    IClientSecurity* security = nullptr;
    void* nothing = &again;
    ASSERT_EQ(S_OK, services->QueryInterface(IID_IClientSecurity, reinterpret_cast<void**>(&security)));
    ASSERT_EQ(S_OK, security->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    ASSERT_EQ(S_OK, services->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&again)));
    EXPECT_EQ(unknown, again);
    EXPECT_EQ(E_NOINTERFACE, services->QueryInterface(IID_IWbemLocator, &nothing));
    EXPECT_EQ(nullptr, nothing);
    EXPECT_EQ(3u, security->Release());
    EXPECT_EQ(2u, unknown->Release());
    EXPECT_EQ(1u, again->Release());

    IWbemClassObject* disk = First(services, DriveQuery(0)); // its enumerator is gone already
    ASSERT_TRUE(disk);
    EXPECT_EQ(2, fakewmi::LiveObjects());
    EXPECT_EQ(0u, services->Release());
    EXPECT_EQ(1, fakewmi::LiveObjects());
    EXPECT_EQ(L"A", TextOf(disk, L"Model"));
    IWbemClassObject* same = nullptr;
    ASSERT_EQ(S_OK, disk->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&same)));
    EXPECT_EQ(1u, same->Release());
    EXPECT_EQ(0u, disk->Release());
    EXPECT_EQ(0, fakewmi::LiveObjects());
}

// FakeWmi.dll in the prefix's registry in place of Wine's locator, reached by the program's own calls.
class LocatorRegistration {
  public:
    explicit LocatorRegistration(const std::wstring& server) {
        m_opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Key, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &m_key) == 0;
        wchar_t buffer[MAX_PATH] = L"";
        DWORD size = sizeof buffer - sizeof(wchar_t);
        m_saved = m_opened && RegQueryValueExW(m_key, nullptr, nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(buffer), &size) == 0;
        m_original = buffer;
        if (m_saved)
            Set(server);
    }
    ~LocatorRegistration() {
        if (m_saved)
            Set(m_original);
        if (m_opened)
            RegCloseKey(m_key);
    }
    bool Ready() const { return m_saved; }
    const std::wstring& Original() const { return m_original; }
    std::wstring Value(const wchar_t* name) const {
        wchar_t buffer[MAX_PATH] = L"";
        DWORD size = sizeof buffer - sizeof(wchar_t);
        RegQueryValueExW(m_key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        return buffer;
    }
    static constexpr const wchar_t* Key =
        L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32";

  private:
    void Set(const std::wstring& value) {
        RegSetValueExW(m_key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    HKEY m_key = nullptr;
    bool m_opened = false, m_saved = false;
    std::wstring m_original;
};

// One connection as the program makes it; returns the model of drive 0 or what went wrong.
std::wstring ConnectAndReadModel(HRESULT* created) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                         RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    std::wstring result;
    {
        Ptr<IWbemLocator> locator;
        Ptr<IWbemServices> services;
        *created = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    reinterpret_cast<void**>(&locator.p));
        HRESULT hr = SUCCEEDED(*created) ? Connect(locator.p, &services.p) : *created;
        Ptr<IWbemClassObject> disk;
        if (SUCCEEDED(hr))
            disk.p = First(services.p, DriveQuery(0));
        result =
            disk.p ? TextOf(disk.p, L"Model") : L"<failed " + std::to_wstring(static_cast<ULONG>(hr)) + L">";
    }
    CoUninitialize();
    return result;
}

TEST(FakeWmiDll, TakesThePlaceOfTheWineLocator) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dll = exe;
    dll = dll.substr(0, dll.rfind(L'\\') + 1) + L"FakeWmi.dll";
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(dll.c_str())) << testing::PrintToString(dll);

    std::wstring scenario = TempFile(L"fakewmi-dll-scenario"), log = TempFile(L"fakewmi-dll-log");
    WriteBytes(scenario, "drive 0 model=\"Fake Disk\"\nfail ExecQuery 2 0x80041017\n");
    std::wstring missing = scenario + L".missing";
    SetEnvironmentVariableW(L"TARNWICK_FAKE_WMI", missing.c_str());
    SetEnvironmentVariableW(L"TARNWICK_FAKE_WMI_LOG", log.c_str());

    std::wstring original;
    {
        LocatorRegistration registration(dll);
        ASSERT_TRUE(registration.Ready()) << "no InprocServer32 for the WMI locator";
        original = registration.Original();
        EXPECT_EQ(L"Both", registration.Value(L"ThreadingModel"));

        HRESULT created = S_OK;
        EXPECT_EQ(L"<failed 2147749908>", ConnectAndReadModel(&created)); // no scenario: no locator
        EXPECT_EQ(WBEM_E_INITIALIZATION_FAILURE, created);

        SetEnvironmentVariableW(L"TARNWICK_FAKE_WMI", scenario.c_str());
        EXPECT_EQ(L"Fake Disk", ConnectAndReadModel(&created));
        EXPECT_EQ(S_OK, created);
        // The DLL stayed loaded past CoUninitialize: the second ExecQuery still counts as the second.
        EXPECT_EQ(L"<failed 0>", ConnectAndReadModel(&created));
    }
    HKEY key = nullptr;
    wchar_t restored[MAX_PATH] = L"";
    DWORD size = sizeof restored - sizeof(wchar_t);
    ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, LocatorRegistration::Key, 0, KEY_QUERY_VALUE, &key));
    RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(restored), &size);
    RegCloseKey(key);
    EXPECT_EQ(original, restored);
    EXPECT_NE(std::wstring::npos, original.find(L"wbemprox.dll")) << testing::PrintToString(original);

    std::string lines = ReadBytes(log);
    std::string blanket = "SetBlanket\t10|0|(null)|3|3|(null)|0\n";
    EXPECT_EQ(0u, lines.find("LoadScenario\tcannot read ")) << lines;
    EXPECT_NE(std::string::npos, lines.find("CreateInstance\t{DC12A687-737F-11CF-884D-00AA004B2E24}\n"))
        << lines;
    EXPECT_NE(std::string::npos, lines.find(blanket)) << lines;
    EXPECT_NE(lines.find(blanket), lines.rfind(blanket)) << lines;
    size_t queries = 0;
    for (size_t at = lines.find("ExecQuery\t"); at != std::string::npos;
         at = lines.find("ExecQuery\t", at + 1))
        ++queries;
    EXPECT_EQ(2u, queries) << lines;
    DeleteFileW(scenario.c_str());
    DeleteFileW(log.c_str());
}

} // namespace

TEST_F(FakeWmiTest, EscapesGiveAnyUnitAndAHangingNextWaitsForTheTimeOut) {
    Load(L"drive 0 model=\"a\\u0000b\\u000D\\u000A\\u00e9\\u12\"\nfail Next 2 hang\n");
    Ptr<IWbemServices> services;
    services.p = Open();
    Ptr<IWbemClassObject> drive;
    drive.p = First(services.p, DriveQuery(0));
    ASSERT_NE(nullptr, drive.p);
    EXPECT_EQ(std::wstring(L"a") + L'\0' + L"b\r\n\u00e9\\u12", TextOf(drive.p, L"Model"));

    Ptr<IEnumWbemClassObject> items;
    ASSERT_EQ(S_OK, Query(services.p, DriveQuery(0), &items.p));
    IWbemClassObject* object = nullptr;
    ULONG returned = 7;
    const DWORD start = GetTickCount();
    EXPECT_EQ(WBEM_S_TIMEDOUT, items->Next(300, 1, &object, &returned));
    EXPECT_GE(GetTickCount() - start, 250u);
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0u, returned);
}

TEST_F(FakeWmiTest, VolumesExistInBitLockersNamespaceWithTheirConversionMethod) {
    Ptr<IWbemLocator> locator;
    Bstr encryption(L"root\\CIMV2\\Security\\MicrosoftVolumeEncryption");
    Load(L"drive 0 model=\"A\"\n");
    ASSERT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
    IWbemServices* none = nullptr;
    EXPECT_EQ(WBEM_E_INVALID_NAMESPACE, locator->ConnectServer(encryption.s, 0, 0, 0, 0, 0, 0, &none));

    Load(L"volume C: protection=int:1 conversion=int:2\nvolume D:\n");
    Ptr<IWbemServices> services;
    ASSERT_EQ(S_OK, locator->ConnectServer(encryption.s, 0, 0, 0, 0, 0, 0, &services.p));
    Ptr<IWbemClassObject> volume;
    volume.p = First(services.p, L"Select * from Win32_EncryptableVolume Where DriveLetter = 'c:'");
    ASSERT_NE(nullptr, volume.p);
    EXPECT_EQ(L"C:", TextOf(volume.p, L"DriveLetter"));
    Variant protection;
    ASSERT_EQ(S_OK, volume->Get(L"ProtectionStatus", 0, &protection, nullptr, nullptr));
    EXPECT_EQ(1, protection.lVal);
    EXPECT_EQ(nullptr, First(services.p, L"Select * from Win32_EncryptableVolume Where DriveLetter = 'E:'"));
    EXPECT_EQ(nullptr, First(services.p, DriveQuery(0))); // the drives live in root\CIMV2 only

    const std::wstring path = TextOf(volume.p, L"__PATH");
    Bstr object(path), method(L"GetConversionStatus");
    Ptr<IWbemClassObject> out;
    ASSERT_EQ(S_OK, services->ExecMethod(object.s, method.s, 0, nullptr, nullptr, &out.p, nullptr));
    Variant result, conversion;
    ASSERT_EQ(S_OK, out->Get(L"ReturnValue", 0, &result, nullptr, nullptr));
    ASSERT_EQ(S_OK, out->Get(L"ConversionStatus", 0, &conversion, nullptr, nullptr));
    EXPECT_EQ(0, result.lVal);
    EXPECT_EQ(2, conversion.lVal);
    Bstr other(L"GetProtectionStatus");
    Ptr<IWbemClassObject> none2;
    EXPECT_EQ(WBEM_E_INVALID_METHOD,
              services->ExecMethod(object.s, other.s, 0, nullptr, nullptr, &none2.p, nullptr));
    EXPECT_EQ(L"ExecMethod", fakewmi::Calls().back().method);
    EXPECT_EQ(path + L"|GetProtectionStatus|0", fakewmi::Calls().back().args);
}

TEST_F(FakeWmiTest, NextFailsAtAChosenDrivePositionAndTheMethodAnswersThroughACallResult) {
    Load(L"drive 0 model=\"A\"\ndrive 1 model=\"B\"\nfail Next:01 2 0x80010108\n");
    Ptr<IWbemServices> services;
    services.p = Open();
    EXPECT_EQ(ReadModels(services.p), (std::vector<std::wstring>{L"A", L"B"})); // the first walk passes
    Ptr<IEnumWbemClassObject> items;
    ASSERT_EQ(S_OK, Query(services.p, DriveQuery(1), &items.p));
    IWbemClassObject* object = nullptr;
    ULONG returned = 7;
    EXPECT_EQ(RPC_E_DISCONNECTED, items->Next(WBEM_INFINITE, 1, &object, &returned));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0u, returned);

    Ptr<IWbemLocator> locator;
    Bstr encryption(L"root\\CIMV2\\Security\\MicrosoftVolumeEncryption");
    Load(L"volume C: protection=int:0 conversion=int:1\nfail ExecMethod 3 nocallresult\nfail GetCallStatus 2 "
         L"hang\n");
    ASSERT_EQ(S_OK, fakewmi::CreateLocator(&locator.p));
    Ptr<IWbemServices> volumes;
    ASSERT_EQ(S_OK, locator->ConnectServer(encryption.s, 0, 0, 0, 0, 0, 0, &volumes.p));
    Ptr<IWbemClassObject> volume;
    volume.p = First(volumes.p, L"Select * from Win32_EncryptableVolume Where DriveLetter = 'C:'");
    ASSERT_NE(nullptr, volume.p);
    Bstr path(TextOf(volume.p, L"__PATH")), method(L"GetConversionStatus");
    Ptr<IWbemClassObject> direct;
    EXPECT_EQ(WBEM_E_INVALID_PARAMETER, volumes->ExecMethod(path.s, method.s, WBEM_FLAG_RETURN_IMMEDIATELY,
                                                            nullptr, nullptr, &direct.p, nullptr));
    Ptr<IWbemCallResult> call;
    ASSERT_EQ(S_OK, volumes->ExecMethod(path.s, method.s, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr,
                                        nullptr, &call.p));
    ASSERT_NE(nullptr, call.p);
    LONG status = -1;
    EXPECT_EQ(S_OK, call->GetCallStatus(100, &status));
    EXPECT_EQ(0, status);
    Ptr<IWbemClassObject> out;
    ASSERT_EQ(S_OK, call->GetResultObject(100, &out.p));
    Variant conversion;
    ASSERT_EQ(S_OK, out->Get(L"ConversionStatus", 0, &conversion, nullptr, nullptr));
    EXPECT_EQ(1, conversion.lVal);
    // The third call succeeds without a call result, as Wine's does.
    Ptr<IWbemCallResult> none;
    EXPECT_EQ(S_OK, volumes->ExecMethod(path.s, method.s, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, nullptr,
                                        nullptr, &none.p));
    EXPECT_EQ(nullptr, none.p);
    // The second wait for a status hangs until its time-out.
    const DWORD start = GetTickCount();
    EXPECT_EQ(WBEM_S_TIMEDOUT, call->GetCallStatus(300, &status));
    EXPECT_GE(GetTickCount() - start, 250u);
    EXPECT_EQ(L"GetCallStatus", fakewmi::Calls().back().method);
    EXPECT_EQ(L"300", fakewmi::Calls().back().args);
}
