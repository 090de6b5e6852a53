#pragma once
// Whether a drive of the machine is one that the update is made for.
#include "core/DriveText.h"

#include <string>

class SetupContext;

// The drive step: true when a drive's normalised model contains a supported entry. On false it has
// reported why (104 unsupported, 103 WMI failure).
bool CheckHardDriveModel(SetupContext& context);

// A drive as WMI reports it at a position.
struct DriveAtPosition {
    bool present = false;
    std::wstring model, firmwareRevision, serialNumber;
};
// Reads the drive at position (0 to MaxDrivePositions - 1); raises HDWMIException.
DriveAtPosition ReadDriveAt(int position);
