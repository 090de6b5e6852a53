#pragma once
// The command line's switches. Each may stand alone or follow one '-' or '/'; they are
// case-sensitive, and every other argument is ignored.
#include "core/Text.h"

enum class Switch { None, Reboot, Silent };

// The argument without its one leading '-' or '/'; isFlag tells whether there was one.
const TextChar* StripSwitchMark(const TextChar* argument, bool& isFlag);
// The switch that an argument names once its mark is stripped: "r" or "s"; anything else is None.
Switch SwitchNamed(const Text& name);
