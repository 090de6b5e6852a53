#pragma once
// What the package installer's exit codes mean.
#include "core/Text.h"

#include <cstdint>

// The text for an installer exit code; empty outside 1 to 16.
Text SetupExitCodeText(uint32_t exitCode);
