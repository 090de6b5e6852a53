#pragma once
// The program's only way of learning about the machine's disks: WMI, through its COM interfaces.
#include <windows.h>

#include <wbemcli.h>

#include <string>

// A failed WMI query; the text alone tells what failed.
class HDWMIException {
  public:
    explicit HDWMIException(std::wstring message) : Message(std::move(message)) {}
    std::wstring Message;
};

// An open connection to root\CIMV2. Opened and closed by each user around its queries.
struct WMIConnection {
    IWbemLocator* Locator = nullptr;
    IWbemServices* Services = nullptr;

    // True when ready for queries; a failed opening has undone its own steps.
    bool Open();
    // Releases the services, then the locator, then uninitialises COM.
    void Close();
};

constexpr int MaxDrivePositions = 8;

// The drive inventory, indexed by drive position (the number after PhysicalDrive).
extern std::wstring DriveModels[MaxDrivePositions];
extern std::wstring DrivePNPDeviceIDs[MaxDrivePositions];
extern std::wstring NormalizedDriveModels[MaxDrivePositions];
extern std::wstring DriveFirmwareRevisions[MaxDrivePositions];
extern int32_t DriveCount;

// Each drive query walks the positions from 0 and ends at the first without a drive. They raise
// HDWMIException on every failure, including a value that cannot be read as text.
int QueryDriveModels(WMIConnection& connection);
int QueryDriveFirmwareRevisions(WMIConnection& connection);
int QueryDrivePNPDeviceIDs(WMIConnection& connection);
// True when the type of disk 0's first partition contains "GPT:".
bool QueryDisk0IsGPT(WMIConnection& connection);

// The revision in a Plug and Play identifier: the run after the first double underscore.
std::wstring ExtractRevisionFromPNPDeviceID(const std::wstring& pnpDeviceId);
