#pragma once
// The texts that identify a drive: model numbers and Plug and Play identifiers.
#include "core/Text.h"

// The built-in list of supported model numbers and family prefixes (resources/SupportedModels.txt).
extern const TextChar* const SupportedModels[];
extern const int SupportedModelCount;

// Drops a leading "ATA " and every space.
Text NormalizeModelNumber(Text model);
// The index of the first supported entry that a normalised model contains, or -1.
int FindSupportedModel(const Text& normalizedModel);
// The revision in a Plug and Play identifier: the run after the first double underscore.
Text ExtractRevisionFromPNPDeviceID(const Text& pnpDeviceId);
