#pragma once
// The events a run and a verification report to the Application log, for log collectors. Each
// outcome has a stable event ID as the event viewer shows it (the low 16 bits); the message table
// (resources/TarnwickMessages.mc) gives the same number its severity, which makes the full message
// id that ReportEventW is given. Every event carries three insertion strings: %1 the exit code, %2
// the record's State, %3 the result text.
#include "core/Outcomes.h"
#include "core/Text.h"

#include <cstddef>
#include <cstdint>
#include <optional>

constexpr TextChar EventSourceName[] = UTF16("Tarnwick");

enum class EventOutcome {
    // An installing run's end.
    Installed,            // 3010, 0, 1: staged, flashed at the next start
    AlreadyOnDrive,       // 107: the update is already on this drive
    NotApplicable,        // 101, 104
    Cancelled,            // Esc
    AnotherRunInProgress, // 1618
    Failed,               // every other failure
    // A verification after the restart.
    Updated,        // the drive reports a new firmware revision
    NotVerifiedYet, // WMI or the drive not there yet: tried again at the next start
    NotUpdated,     // the revision is unchanged, or verification gave up
};

// The event types of ReportEventW (EVENTLOG_ERROR_TYPE, _WARNING_TYPE, _INFORMATION_TYPE).
enum class EventType : uint16_t { Error = 1, Warning = 2, Information = 4 };

struct EventRow {
    EventOutcome outcome;
    uint16_t id; // as the event viewer shows it
    EventType type;
};

inline constexpr EventRow EventRows[] = {
    {EventOutcome::Installed, 1000, EventType::Information},
    {EventOutcome::AlreadyOnDrive, 1001, EventType::Information},
    {EventOutcome::NotApplicable, 1002, EventType::Warning},
    {EventOutcome::Cancelled, 1003, EventType::Warning},
    {EventOutcome::AnotherRunInProgress, 1004, EventType::Warning},
    {EventOutcome::Failed, 1005, EventType::Error},
    {EventOutcome::Updated, 1100, EventType::Information},
    {EventOutcome::NotVerifiedYet, 1101, EventType::Warning},
    {EventOutcome::NotUpdated, 1102, EventType::Error},
};
constexpr size_t EventRowCount = sizeof EventRows / sizeof EventRows[0];

constexpr bool EventRowsInEnumOrder() {
    for (size_t i = 0; i < EventRowCount; ++i)
        if (static_cast<size_t>(EventRows[i].outcome) != i)
            return false;
    return true;
}
static_assert(EventRowsInEnumOrder(), "EventRows: one row per outcome, in the enumeration's order");

constexpr const EventRow& EventRowOf(EventOutcome outcome) {
    return EventRows[static_cast<size_t>(outcome)];
}

// The full message id: the message table's severity (information 1, warning 2, error 3) in the top
// two bits above the event ID.
constexpr uint32_t MessageId(const EventRow& row) {
    const uint32_t severity = row.type == EventType::Information ? 1u
                              : row.type == EventType::Warning   ? 2u
                                                                 : 3u;
    return severity << 30 | row.id;
}

struct Event {
    uint32_t messageId;
    uint16_t id;
    EventType type;
    Text strings[3]; // exit code, state, result text
};

Event EventFor(EventOutcome outcome, int32_t exitCode, const Text& state, const Text& result);

// The event of a run's or a verification's outcome (core/Outcomes.h): none for a check-only run's
// passed checks, which reports no event, nor for a verification with nothing to verify.
std::optional<EventOutcome> RunEventOutcome(Outcome outcome);
