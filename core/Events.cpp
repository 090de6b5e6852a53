#include "core/Events.h"

namespace {
// As the record's ExitCode (a DWORD) shows it: a code above 0x7FFFFFFF is not negative.
Text Decimal(uint32_t value) {
    Text digits;
    do {
        digits.insert(digits.begin(), static_cast<TextChar>(UTF16('0') + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}
} // namespace

Event EventFor(EventOutcome outcome, int32_t exitCode, const Text& state, const Text& result) {
    const EventRow& row = EventRowOf(outcome);
    return Event{MessageId(row), row.id, row.type, {Decimal(static_cast<uint32_t>(exitCode)), state, result}};
}

EventOutcome RunEventOutcome(int32_t exitCode, const Text& state) {
    if (exitCode == 1618)
        return EventOutcome::AnotherRunInProgress;
    if (exitCode == 107)
        return EventOutcome::AlreadyOnDrive;
    if (state == UTF16("Installed"))
        return EventOutcome::Installed;
    if (state == UTF16("NotApplicable"))
        return EventOutcome::NotApplicable;
    if (state == UTF16("Cancelled"))
        return EventOutcome::Cancelled;
    return EventOutcome::Failed;
}
