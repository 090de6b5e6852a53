#pragma once
// The task that runs a program once at the next start of Windows, as Task Scheduler 2.0 takes it:
// task XML (schema 1.2, Windows Vista and later).
#include "core/Text.h"

#include <cstdint>

// The longest a started task may run before Task Scheduler ends it.
constexpr uint32_t NextStartTaskMinutes = 30;

// Text for an XML element's content or an attribute value: & < > " ' as character references.
// Characters XML 1.0 cannot hold at all (controls other than tab, CR and LF) become U+FFFD.
Text XmlEscaped(const Text& text);

// A boot trigger; the principal Local System (S-1-5-18) at the highest run level; started and kept
// running on battery; ended after NextStartTaskMinutes; one action that starts program with arguments.
Text NextStartTaskXml(const Text& description, const Text& program, const Text& arguments);
