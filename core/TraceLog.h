#pragma once
// The history log's entries, in the trace-log form that log viewers show with time, severity and
// thread columns, and the record's time stamps.
#include "core/Text.h"

#include <cstdint>

// A moment in UTC.
struct UtcTime {
    unsigned year, month, day, hour, minute, second, milliseconds;
};

enum class Severity { Information = 1, Warning = 2, Error = 3 };

// One entry, ending with CR LF: <![LOG[text]LOG]!><time="hh:mm:ss.mmm+000" date="MM-DD-YYYY"
// component="component" context="" type="1" thread="n" file="">. Control characters in the text
// become U+FFFD and a "]LOG]!>" inside it is broken up, so that one text is always one entry.
Text FormatTraceEntry(Text text, const UtcTime& time, Severity severity, uint32_t thread,
                      const Text& component);
// "2026-12-09T02:30:00Z".
Text FormatIsoTime(const UtcTime& time);
