#include "core/Outcomes.h"

namespace {
bool Names(const OutcomeRow& row, int32_t code) {
    return row.code == AnyOtherCode || (code >= row.code && code <= row.lastCode);
}

// The outcomes a failed installing run can end with.
bool IsFailure(const OutcomeRow& row) {
    return row.state != nullptr &&
           (Text(row.state) == UTF16("Failed") || Text(row.state) == UTF16("NotApplicable"));
}

Text Number(int32_t value) {
    Text digits;
    do {
        digits.insert(digits.begin(), static_cast<TextChar>('0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}
} // namespace

Outcome InstallOutcome(int32_t exitCode, Reported reported) {
    switch (reported) {
    case Reported::Success:
        return exitCode == ExitCode(Outcome::RestartStarted)   ? Outcome::RestartStarted
               : exitCode == ExitCode(Outcome::RestartAfterOk) ? Outcome::RestartAfterOk
                                                               : Outcome::RestartRequired;
    case Reported::Failure:
        for (const OutcomeRow& row : Outcomes)
            if (IsFailure(row) && Names(row, exitCode))
                return row.outcome;
        return Outcome::WindowsError;
    case Reported::Nothing:
        break;
    }
    return exitCode == ExitCode(Outcome::Cancelled) ? Outcome::Cancelled : Outcome::WindowsError;
}

Text UsageExitCodeLines() {
    Text lines;
    const OutcomeRow* previous = nullptr;
    for (const OutcomeRow& row : Outcomes) {
        if (!row.inUsage)
            continue;
        if (previous != nullptr && previous->code == row.code) {
            lines.insert(lines.size() - 1, UTF16(";"));
            lines += UTF16("\tor ");
        } else {
            lines += Number(row.code);
            if (row.lastCode != row.code)
                lines += UTF16("-") + Number(row.lastCode);
            lines += UTF16("\t");
        }
        lines += row.meaning;
        lines += UTF16("\n");
        previous = &row;
    }
    return lines;
}
