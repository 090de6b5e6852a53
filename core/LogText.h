#pragma once
// The installer log's entries as text.
#include "core/Text.h"

#include <cstddef>

// One log entry, its CR LF included, holds at most this many UTF-16 code units; longer texts go on
// in further entries.
constexpr size_t MaxLogEntry = 255;

// The entries that log text: control characters become U+FFFD (text from outside, such as a
// drive's model, can then neither end an entry early nor forge one), and a text too long for one
// entry goes on in the next, never split inside a surrogate pair. Each entry ends with CR LF.
Text FormatLogEntries(Text text);
