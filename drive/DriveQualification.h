#pragma once
// Whether a drive of the machine is one that the update is made for.
#include "core/DriveText.h"

class SetupContext;

// The drive step: true when a drive's normalised model contains a supported entry. On false it has
// reported why (104 unsupported, 103 WMI failure).
bool CheckHardDriveModel(SetupContext& context);
