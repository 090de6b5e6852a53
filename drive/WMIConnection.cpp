#include "drive/WMIConnection.h"

#include "install/Platform.h"

std::wstring DriveModels[MaxDrivePositions];
std::wstring DrivePNPDeviceIDs[MaxDrivePositions];
std::wstring NormalizedDriveModels[MaxDrivePositions];
std::wstring DriveFirmwareRevisions[MaxDrivePositions];
int32_t DriveCount = 0;

namespace {

// Holds one interface reference and releases it on every way out.
template <typename Interface> class ComRef {
  public:
    ComRef() = default;
    ~ComRef() {
        if (m_p != nullptr)
            m_p->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    Interface** operator&() { return &m_p; }
    Interface* operator->() const { return m_p; }
    Interface* get() const { return m_p; }

  private:
    Interface* m_p = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const std::wstring& text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_b; }

  private:
    BSTR m_b;
};

class Variant {
  public:
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT value;
};

// A property's value as text. A property without a value (VT_NULL, as some drives report) reads
// as the empty text, which matches nothing; a value that cannot become text fails the query.
std::wstring ValueToText(Variant& property, const wchar_t* name) {
    VARIANT& value = property.value;
    if (value.vt == VT_NULL || value.vt == VT_EMPTY)
        return std::wstring();
    if (value.vt == VT_BSTR)
        return value.bstrVal != nullptr ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal))
                                        : std::wstring();
    Variant text;
    if (VariantChangeType(&text.value, &value, 0, VT_BSTR) != S_OK || text.value.vt != VT_BSTR)
        throw HDWMIException(std::wstring(L"The value of the WMI property ") + name +
                             L" could not be read as text.");
    return text.value.bstrVal != nullptr ? std::wstring(text.value.bstrVal, SysStringLen(text.value.bstrVal))
                                         : std::wstring();
}

HRESULT GetProperty(IWbemClassObject* object, const wchar_t* name, Variant& value) {
    return object->Get(name, 0, &value.value, nullptr, nullptr);
}

struct QueryMessages {
    const wchar_t* execution;
    const wchar_t* enumeration;
    const wchar_t* property;
};

// One ExecQuery per drive position from 0; the walk ends at the first position without a drive.
// readDrive reads one instance into the inventory at that position.
template <typename ReadDrive>
int WalkDrivePositions(WMIConnection& connection, const QueryMessages& messages, ReadDrive readDrive) {
    const Bstr language(L"WQL");
    int count = 0;
    for (int position = 0; position < MaxDrivePositions; ++position) {
        const Bstr query(L"Select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive" +
                         std::to_wstring(position) + L"'");
        ComRef<IEnumWbemClassObject> drives;
        if (connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &drives) !=
                0 ||
            drives.get() == nullptr)
            throw HDWMIException(messages.execution);
        if (drives->Reset() != 0)
            throw HDWMIException(messages.enumeration);
        ComRef<IWbemClassObject> drive;
        ULONG returned = 0;
        const HRESULT next = drives->Next(QueryTimeout, 1, &drive, &returned);
        if (next == WBEM_S_TIMEDOUT)
            throw HDWMIException(messages.enumeration);
        if (next != 0 || drive.get() == nullptr)
            return count;
        readDrive(drive.get(), position);
        ++count;
    }
    return count;
}

std::wstring ReadTextProperty(IWbemClassObject* drive, const wchar_t* name, const wchar_t* failure) {
    Variant value;
    if (GetProperty(drive, name, value) != 0)
        throw HDWMIException(failure);
    return ValueToText(value, name);
}

ULONG ReadUnsignedProperty(IWbemClassObject* object, const wchar_t* name, const wchar_t* failure) {
    Variant value;
    if (GetProperty(object, name, value) != 0 ||
        VariantChangeType(&value.value, &value.value, 0, VT_UI4) != S_OK)
        throw HDWMIException(failure);
    return value.value.ulVal;
}

} // namespace

bool WMIConnection::Open() {
    return OpenNamespace(L"root\\CIMV2", RPC_C_AUTHN_LEVEL_CALL) == S_OK;
}

HRESULT WMIConnection::OpenNamespace(const wchar_t* path, DWORD authenticationLevel) {
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result))
        return result;
    result = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                  RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(result) && result != RPC_E_TOO_LATE) {
        CoUninitialize();
        return result;
    }
    result = CurrentPlatform().CreateLocator(&Locator);
    if (FAILED(result) || Locator == nullptr) {
        Locator = nullptr;
        CoUninitialize();
        return FAILED(result) ? result : E_POINTER;
    }
    const Bstr name(path);
    result = Locator->ConnectServer(name, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &Services);
    if (FAILED(result) || Services == nullptr) {
        Services = nullptr;
        Locator->Release();
        Locator = nullptr;
        CoUninitialize();
        return FAILED(result) ? result : E_POINTER;
    }
    result = CoSetProxyBlanket(Services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, authenticationLevel,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(result)) {
        Services->Release();
        Services = nullptr;
        Locator->Release();
        Locator = nullptr;
        CoUninitialize();
        return result;
    }
    return S_OK;
}

void WMIConnection::Close() {
    if (Services != nullptr) {
        Services->Release();
        Services = nullptr;
    }
    if (Locator != nullptr) {
        Locator->Release();
        Locator = nullptr;
    }
    CoUninitialize();
}

int QueryDriveModels(WMIConnection& connection) {
    static const QueryMessages messages = {
        L"An error occurred executing the WMI query to get the drive model.",
        L"An error occurred enumerating the WMI query results to get the drive model.",
        L"An error occurred getting the drive model from WMI.",
    };
    return WalkDrivePositions(connection, messages, [](IWbemClassObject* drive, int position) {
        DriveModels[position] = ReadTextProperty(drive, L"Model", messages.property);
    });
}

int QueryDriveFirmwareRevisions(WMIConnection& connection) {
    static const QueryMessages messages = {
        L"An error occurred executing the WMI query to get the drive firmware version.",
        L"An error occurred enumerating the WMI query results to get the drive firmware version.",
        L"An error occurred getting the drive firmware version from WMI.",
    };
    return WalkDrivePositions(connection, messages, [](IWbemClassObject* drive, int position) {
        Variant revision;
        if (GetProperty(drive, L"FirmwareRevision", revision) == 0) {
            DriveFirmwareRevisions[position] = ValueToText(revision, L"FirmwareRevision");
            return;
        }
        // Older Windows lack the property; the identifier carries the revision too.
        DriveFirmwareRevisions[position] =
            ExtractRevisionFromPNPDeviceID(ReadTextProperty(drive, L"PNPDeviceID", messages.property));
    });
}

int QueryDrivePNPDeviceIDs(WMIConnection& connection) {
    static const QueryMessages messages = {
        L"An error occurred executing the WMI query to get the drive PNP ID.",
        L"An error occurred enumerating the WMI query results to get the PNP ID.",
        L"An error occurred getting the drive PNP ID from WMI.",
    };
    WalkDrivePositions(connection, messages, [](IWbemClassObject* drive, int position) {
        DrivePNPDeviceIDs[position] = ReadTextProperty(drive, L"PNPDeviceID", messages.property);
    });
    return 0;
}

bool QueryDisk0IsGPT(WMIConnection& connection) {
    const Bstr language(L"WQL");
    const Bstr query(L"Select * from Win32_DiskPartition Where DiskIndex = '0'");
    ComRef<IEnumWbemClassObject> partitions;
    if (connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &partitions) !=
            0 ||
        partitions.get() == nullptr)
        throw HDWMIException(L"An error occurred executing the WMI query to get the disk partitions.");
    if (partitions->Reset() != 0)
        throw HDWMIException(L"An error occurred enumerating the WMI query.");
    ComRef<IWbemClassObject> partition;
    ULONG returned = 0;
    if (partitions->Next(QueryTimeout, 1, &partition, &returned) != 0 || partition.get() == nullptr)
        throw HDWMIException(
            L"An error occurred enumerating the WMI query results to get the disk partitions.");
    const std::wstring type = ReadTextProperty(
        partition.get(), L"Type", L"An error occurred getting the drive partition type from WMI.");
    return type.find(L"GPT:") != std::wstring::npos;
}

VolumeEncryption QueryVolumeEncryption(WMIConnection& connection, const std::wstring& driveLetter) {
    const Bstr language(L"WQL");
    const Bstr query(L"Select * from Win32_EncryptableVolume Where DriveLetter = '" + driveLetter + L"'");
    ComRef<IEnumWbemClassObject> volumes;
    const HRESULT executed =
        connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &volumes);
    if (executed == HRESULT(WBEM_E_INVALID_CLASS))
        return VolumeEncryption::NotEncryptable;
    if (executed != 0 || volumes.get() == nullptr)
        throw HDWMIException(L"An error occurred executing the WMI query to get the volume encryption.");
    ComRef<IWbemClassObject> volume;
    ULONG returned = 0;
    const HRESULT next = volumes->Next(QueryTimeout, 1, &volume, &returned);
    if (next == WBEM_S_FALSE && volume.get() == nullptr)
        return VolumeEncryption::NotEncryptable;
    if (next != 0 || volume.get() == nullptr)
        throw HDWMIException(
            L"An error occurred enumerating the WMI query results to get the volume encryption.");

    // Protection on (1) or unknown (2, a locked volume): encrypted.
    const wchar_t* const unreadable = L"An error occurred getting the volume encryption from WMI.";
    const ULONG protection = ReadUnsignedProperty(volume.get(), L"ProtectionStatus", unreadable);
    // A volume whose protection is suspended is encrypted all the same: its conversion tells.
    Variant path;
    if (GetProperty(volume.get(), L"__PATH", path) != 0 || path.value.vt != VT_BSTR)
        throw HDWMIException(unreadable);
    const Bstr method(L"GetConversionStatus");
    ComRef<IWbemClassObject> output;
    if (connection.Services->ExecMethod(path.value.bstrVal, method, 0, nullptr, nullptr, &output, nullptr) !=
            0 ||
        output.get() == nullptr || ReadUnsignedProperty(output.get(), L"ReturnValue", unreadable) != 0)
        throw HDWMIException(unreadable);
    const ULONG conversion = ReadUnsignedProperty(output.get(), L"ConversionStatus", unreadable);
    return protection == 0 && conversion == 0 ? VolumeEncryption::Decrypted : VolumeEncryption::Encrypted;
}

std::wstring ExtractRevisionFromPNPDeviceID(const std::wstring& pnpDeviceId) {
    bool oneUnderscore = false, insideRevision = false, revisionStarted = false;
    std::wstring revision;
    for (wchar_t c : pnpDeviceId) {
        if (c == L'_') {
            if (!insideRevision) {
                if (oneUnderscore)
                    insideRevision = true;
                else
                    oneUnderscore = true;
            } else if (revisionStarted) {
                break;
            }
        } else if (!insideRevision) {
            oneUnderscore = false;
        } else {
            revisionStarted = true;
            revision += c;
        }
    }
    return revision;
}
