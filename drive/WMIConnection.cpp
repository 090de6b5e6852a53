#include "drive/WMIConnection.h"

#include "core/DriveText.h"
#include "platform/Platform.h"

std::wstring DriveModels[MaxDrivePositions];
std::wstring DrivePNPDeviceIDs[MaxDrivePositions];
std::wstring NormalizedDriveModels[MaxDrivePositions];
std::wstring DriveFirmwareRevisions[MaxDrivePositions];
std::wstring DriveSerialNumbers[MaxDrivePositions];
int32_t DriveCount = 0;

namespace {

// A property's value as text. A property without a value (VT_NULL, as some drives report) reads
// as the empty text, which matches nothing; a value that cannot become text fails the query.
std::wstring ValueToText(VARIANT& value, const wchar_t* name) {
    if (value.vt == VT_NULL || value.vt == VT_EMPTY)
        return std::wstring();
    if (value.vt == VT_BSTR)
        return value.bstrVal != nullptr ? std::wstring(value.bstrVal, SysStringLen(value.bstrVal))
                                        : std::wstring();
    unique_variant text;
    if (VariantChangeType(&text, &value, 0, VT_BSTR) != S_OK || text.vt != VT_BSTR)
        throw HDWMIException(std::wstring(L"The value of the WMI property ") + name +
                             L" could not be read as text.");
    return text.bstrVal != nullptr ? std::wstring(text.bstrVal, SysStringLen(text.bstrVal)) : std::wstring();
}

HRESULT GetProperty(IWbemClassObject* object, const wchar_t* name, unique_variant& value) {
    return object->Get(name, 0, value.put(), nullptr, nullptr);
}

// The next object of a query's answer, or null at its end (WBEM_S_FALSE with no object). Anything
// else (a failure at any position, a time-out, a success without an object) fails the query with
// its enumeration text. Every walk goes through here, so that they end and fail alike.
com_ptr<IWbemClassObject> NextObject(IEnumWbemClassObject* objects, const wchar_t* enumerationFailure) {
    com_ptr<IWbemClassObject> object;
    ULONG returned = 0;
    const HRESULT next = objects->Next(QueryTimeout, 1, object.put(), &returned);
    if (next == WBEM_S_FALSE && !object)
        return object;
    if (next != WBEM_S_NO_ERROR || !object)
        throw HDWMIException(enumerationFailure);
    return object;
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
    const unique_bstr language(L"WQL");
    int count = 0;
    for (int position = 0; position < MaxDrivePositions; ++position) {
        const unique_bstr query(
            L"Select * from Win32_DiskDrive Where DeviceID = '\\\\\\\\.\\\\PhysicalDrive" +
            std::to_wstring(position) + L"'");
        com_ptr<IEnumWbemClassObject> drives;
        if (connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                           drives.put()) != 0 ||
            drives.get() == nullptr)
            throw HDWMIException(messages.execution);
        if (drives->Reset() != 0)
            throw HDWMIException(messages.enumeration);
        const com_ptr<IWbemClassObject> drive = NextObject(drives.get(), messages.enumeration);
        if (!drive)
            return count;
        readDrive(drive.get(), position);
        ++count;
    }
    return count;
}

std::wstring ReadTextProperty(IWbemClassObject* drive, const wchar_t* name, const wchar_t* failure) {
    unique_variant value;
    if (GetProperty(drive, name, value) != 0)
        throw HDWMIException(failure);
    return ValueToText(value, name);
}

ULONG ReadUnsignedProperty(IWbemClassObject* object, const wchar_t* name, const wchar_t* failure) {
    unique_variant value;
    if (GetProperty(object, name, value) != 0 || VariantChangeType(&value, &value, 0, VT_UI4) != S_OK)
        throw HDWMIException(failure);
    return value.ulVal;
}

// A method's output, asked for semi-synchronously so that its wait has a bound as every query's has;
// null when the call fails, times out or (as Wine's does) succeeds without a call result.
com_ptr<IWbemClassObject> CallMethod(WMIConnection& connection, BSTR objectPath, const wchar_t* name) {
    com_ptr<IWbemCallResult> call;
    com_ptr<IWbemClassObject> output;
    if (connection.Services->ExecMethod(objectPath, unique_bstr(name), WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                        nullptr, nullptr, call.put()) != 0 ||
        !call)
        return output;
    LONG status = WBEM_E_FAILED;
    if (call->GetCallStatus(QueryTimeout, &status) != 0 || status != 0 ||
        call->GetResultObject(QueryTimeout, output.put()) != 0)
        output.reset();
    return output;
}

} // namespace

bool WMIConnection::Open() {
    return OpenNamespace(L"root\\CIMV2", RPC_C_AUTHN_LEVEL_CALL) == S_OK;
}

HRESULT WMIConnection::OpenNamespace(const wchar_t* path, DWORD authenticationLevel) {
    // Each step's resource is owned until the connection is complete; a failed opening releases
    // what it made in the order Close does: the services, the locator, then COM.
    unique_com_init com = unique_com_init::Multithreaded();
    if (FAILED(com.result()))
        return com.result();
    HRESULT result = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(result) && result != RPC_E_TOO_LATE)
        return result;
    com_ptr<IWbemLocator> locator;
    result = CurrentPlatform().CreateLocator(locator.put());
    if (FAILED(result) || !locator)
        return FAILED(result) ? result : E_POINTER;
    // Vista and later bound the connection's wait at two minutes when asked; earlier releases know no
    // such flag.
    const LONG connectFlags = ReadWindowsVersion().dwMajorVersion >= 6 ? WBEM_FLAG_CONNECT_USE_MAX_WAIT : 0;
    com_ptr<IWbemServices> services;
    result = locator->ConnectServer(unique_bstr(path), nullptr, nullptr, nullptr, connectFlags, nullptr,
                                    nullptr, services.put());
    if (FAILED(result) || !services)
        return FAILED(result) ? result : E_POINTER;
    result = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               authenticationLevel, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(result))
        return result;
    Services = std::move(services);
    Locator = std::move(locator);
    Com = std::move(com);
    return S_OK;
}

void WMIConnection::Close() {
    Services.reset();
    Locator.reset();
    Com.reset();
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
        unique_variant revision;
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
        unique_variant serial;
        DriveSerialNumbers[position] =
            GetProperty(drive, L"SerialNumber", serial) == 0 ? ValueToText(serial, L"SerialNumber") : L"";
    });
    return 0;
}

bool QueryDisk0IsGPT(WMIConnection& connection) {
    const unique_bstr language(L"WQL");
    const unique_bstr query(L"Select * from Win32_DiskPartition Where DiskIndex = '0'");
    com_ptr<IEnumWbemClassObject> partitions;
    if (connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                       partitions.put()) != 0 ||
        partitions.get() == nullptr)
        throw HDWMIException(L"An error occurred executing the WMI query to get the disk partitions.");
    if (partitions->Reset() != 0)
        throw HDWMIException(L"An error occurred enumerating the WMI query.");
    const wchar_t* const enumerationFailure =
        L"An error occurred enumerating the WMI query results to get the disk partitions.";
    const com_ptr<IWbemClassObject> partition = NextObject(partitions.get(), enumerationFailure);
    if (!partition) // disk 0 without a partition
        throw HDWMIException(enumerationFailure);
    const std::wstring type = ReadTextProperty(
        partition.get(), L"Type", L"An error occurred getting the drive partition type from WMI.");
    return type.find(L"GPT:") != std::wstring::npos;
}

VolumeEncryption QueryVolumeEncryption(WMIConnection& connection, const std::wstring& driveLetter) {
    const unique_bstr language(L"WQL");
    const unique_bstr query(L"Select * from Win32_EncryptableVolume Where DriveLetter = '" + driveLetter +
                            L"'");
    com_ptr<IEnumWbemClassObject> volumes;
    const HRESULT executed =
        connection.Services->ExecQuery(language, query, WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, volumes.put());
    if (executed == HRESULT(WBEM_E_INVALID_CLASS))
        return VolumeEncryption::NotEncryptable;
    if (executed != 0 || volumes.get() == nullptr)
        throw HDWMIException(L"An error occurred executing the WMI query to get the volume encryption.");
    const com_ptr<IWbemClassObject> volume = NextObject(
        volumes.get(), L"An error occurred enumerating the WMI query results to get the volume encryption.");
    if (!volume)
        return VolumeEncryption::NotEncryptable;

    // Protection on (1) or unknown (2, a locked volume): encrypted.
    const wchar_t* const unreadable = L"An error occurred getting the volume encryption from WMI.";
    const ULONG protection = ReadUnsignedProperty(volume.get(), L"ProtectionStatus", unreadable);
    // A volume whose protection is suspended is encrypted all the same: its conversion tells.
    unique_variant path;
    if (GetProperty(volume.get(), L"__PATH", path) != 0 || path.vt != VT_BSTR)
        throw HDWMIException(unreadable);
    const com_ptr<IWbemClassObject> output = CallMethod(connection, path.bstrVal, L"GetConversionStatus");
    if (!output || ReadUnsignedProperty(output.get(), L"ReturnValue", unreadable) != 0)
        throw HDWMIException(unreadable);
    const ULONG conversion = ReadUnsignedProperty(output.get(), L"ConversionStatus", unreadable);
    return protection == 0 && conversion == 0 ? VolumeEncryption::Decrypted : VolumeEncryption::Encrypted;
}
