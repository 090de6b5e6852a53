#pragma once
// Whether a drive of the machine is one that the update is made for.
#include <string>

class SetupThread;

// The built-in list of supported model numbers and family prefixes (resources/SupportedModels.txt).
extern const wchar_t* const SupportedModels[];
extern const int SupportedModelCount;

// The drive step: true when a drive's normalised model contains a supported entry. On false it has
// reported why (104 unsupported, 103 WMI failure).
bool CheckHardDriveModel(SetupThread& thread);

// Drops a leading "ATA " and every space.
std::wstring NormalizeModelNumber(std::wstring model);
