#pragma once
// The command line's switches. Each may stand alone or follow one '-' or '/'; they are
// case-sensitive, and every other argument is ignored.
#include "core/Text.h"

enum class Switch {
    None,      // not a switch: ignored
    Reboot,    // "r": restart Windows after a success
    Silent,    // "s": no window
    CheckOnly, // "c": the checks alone, nothing installed
    Usage,     // "?": the usage, nothing else
    LogFile,   // "l=<file>": the history log's place
    Verify,    // "v": after the restart, whether the update reached the drive
};

struct ParsedSwitch {
    Switch kind = Switch::None;
    Text value; // LogFile: the file, without a pair of quotes around it
};

// The argument without its one leading '-' or '/'; isFlag tells whether there was one.
const TextChar* StripSwitchMark(const TextChar* argument, bool& isFlag);
// The switch that an argument names once its mark is stripped. "l=" needs a file after it.
ParsedSwitch ParseSwitch(const Text& name);
