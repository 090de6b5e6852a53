#pragma once
// The program's only way of learning about the machine's disks: WMI, through its COM interfaces.
#include "platform/Owned.h"

#include <windows.h>

#include <wbemcli.h>

#include <string>

// A failed WMI query; the text alone tells what failed.
class HDWMIException {
  public:
    explicit HDWMIException(std::wstring message) : Message(std::move(message)) {}
    std::wstring Message;
};

// An open connection to root\CIMV2. Opened and closed by each user around its queries; one that
// goes out of scope open is closed then.
struct WMIConnection {
    // Declared in the reverse of the order in which they are released.
    unique_com_init Com;
    com_ptr<IWbemLocator> Locator;
    com_ptr<IWbemServices> Services;

    // True when ready for queries in root\CIMV2; a failed opening has undone its own steps.
    bool Open();
    // The same for another namespace and authentication level; returns the failure (S_OK when
    // open), ConnectServer's own for a namespace that does not exist.
    HRESULT OpenNamespace(const wchar_t* path, DWORD authenticationLevel);
    // Releases the services, then the locator, then uninitialises COM.
    void Close();
};

constexpr int MaxDrivePositions = 8;
// How long a query waits for each answer (each Next, and a method's status and output): a WMI service
// that stops answering fails that query instead of holding the run until a deployment engine kills
// it. Connecting has no such bound of ours: Windows Vista and later bound it at two minutes.
constexpr LONG QueryTimeout = 60000;

// The drive inventory, indexed by drive position (the number after PhysicalDrive).
extern std::wstring DriveModels[MaxDrivePositions];
extern std::wstring DrivePNPDeviceIDs[MaxDrivePositions];
extern std::wstring NormalizedDriveModels[MaxDrivePositions];
extern std::wstring DriveFirmwareRevisions[MaxDrivePositions];
extern std::wstring DriveSerialNumbers[MaxDrivePositions]; // empty where Windows offers none
extern int32_t DriveCount;

// Each drive query walks the positions from 0 and ends at the first without a drive. They raise
// HDWMIException on every failure, including a value that cannot be read as text.
int QueryDriveModels(WMIConnection& connection);
int QueryDriveFirmwareRevisions(WMIConnection& connection);
// With the identifiers, the serial numbers (SerialNumber exists from Windows Vista on; a drive
// without it reads as the empty text), in the same walk.
int QueryDrivePNPDeviceIDs(WMIConnection& connection);
// True when the type of disk 0's first partition contains "GPT:".
bool QueryDisk0IsGPT(WMIConnection& connection);

// BitLocker's namespace, which exists only on editions of Windows Vista and later that have it.
constexpr wchar_t VolumeEncryptionNamespace[] = L"root\\CIMV2\\Security\\MicrosoftVolumeEncryption";
// Whether BitLocker leaves a volume as plain sectors. NotEncryptable: no such class, or no
// instance for the volume (not an NTFS volume of a local disk).
enum class VolumeEncryption { NotEncryptable, Decrypted, Encrypted };
// The state of the volume with driveLetter ("C:"), on a connection to VolumeEncryptionNamespace:
// Decrypted only when it is fully decrypted and its protection is off. Raises HDWMIException when
// that cannot be read.
VolumeEncryption QueryVolumeEncryption(WMIConnection& connection, const std::wstring& driveLetter);
