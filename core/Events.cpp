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

std::optional<EventOutcome> RunEventOutcome(Outcome outcome) {
    switch (outcome) {
    case Outcome::ChecksPassed:
        return std::nullopt;
    case Outcome::RestartStarted:
    case Outcome::RestartRequired:
    case Outcome::RestartAfterOk:
        return EventOutcome::Installed;
    case Outcome::Cancelled:
        return EventOutcome::Cancelled;
    case Outcome::AnotherRunInProgress:
        return EventOutcome::AnotherRunInProgress;
    case Outcome::UnsupportedWindows:
    case Outcome::NoSupportedDrive:
        return EventOutcome::NotApplicable;
    case Outcome::AlreadyOnDrive:
        return EventOutcome::AlreadyOnDrive;
    case Outcome::Verified:
        return EventOutcome::Updated;
    case Outcome::NotVerifiedYet:
        return EventOutcome::NotVerifiedYet;
    case Outcome::NotUpdated:
    case Outcome::VerificationGaveUp:
        return EventOutcome::NotUpdated;
    case Outcome::NothingToVerify:
        return std::nullopt;
    default:
        return EventOutcome::Failed;
    }
}
