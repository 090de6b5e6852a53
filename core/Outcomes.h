#pragma once
// How a run can end: one table of outcomes, each with its exit code, the State it leaves in the
// result record, its meaning (as the usage text and the README's exit-code table say it) and
// whether a deployment engine should try again later. Four codes name two outcomes each: 0 (the
// restart started, or the checks passed), and 1, 2 and 6, which the package installer's own codes
// 1 to 16 share with the dialog's OK and Esc and with a package that could not be written.
#include "core/Text.h"

#include <cstddef>
#include <cstdint>

enum class Outcome {
    RestartStarted,
    ChecksPassed,
    RestartRequired,
    RestartAfterOk,
    Cancelled,
    AnotherRunInProgress,
    NotAdministrator,
    UnsupportedWindows,
    OnBattery,
    DrivesNotQueried,
    NoSupportedDrive,
    NotStarted,
    VolumeEncrypted,
    PackageNotWritten,
    InstallerFailed,
    WindowsError,
    AlreadyOnDrive,
    // A verification run (v), started by its task at the next start of Windows.
    Verified,
    NotUpdated,
    NotVerifiedYet,
    VerificationGaveUp,
    NothingToVerify,
};

// The code of the outcome that takes every exit code no other row names.
constexpr int32_t AnyOtherCode = -1;

struct OutcomeRow {
    Outcome outcome;
    int32_t code, lastCode;  // the exit code; a range for the installer's own codes
    const TextChar* state;   // the record's State; null: the run leaves State as it is
    const TextChar* meaning; // short: one line of the usage text
    bool retry;              // a deployment engine should run the program again later
    bool inUsage;            // the usage text lists it
};

// In the order of the usage text and the README.
inline constexpr OutcomeRow Outcomes[] = {
    {Outcome::RestartStarted, 0, 0, UTF16("Installed"), UTF16("installed, restart started (/r)"), false,
     true},
    {Outcome::ChecksPassed, 0, 0, nullptr, UTF16("the checks passed (/c)"), false, true},
    {Outcome::RestartRequired, 3010, 3010, UTF16("Installed"), UTF16("installed; Windows must restart"),
     false, true},
    {Outcome::RestartAfterOk, 1, 1, UTF16("Installed"), UTF16("installed; OK pressed, restart requested"),
     false, false},
    {Outcome::Cancelled, 2, 2, UTF16("Cancelled"), UTF16("Esc pressed: the run was abandoned"), false, false},
    {Outcome::AnotherRunInProgress, 1618, 1618, nullptr, UTF16("another run is in progress"), true, true},
    {Outcome::NotAdministrator, 100, 100, UTF16("Failed"), UTF16("not an administrator"), false, true},
    {Outcome::UnsupportedWindows, 101, 101, UTF16("NotApplicable"),
     UTF16("Windows or boot loader not supported"), false, true},
    {Outcome::OnBattery, 102, 102, UTF16("Failed"), UTF16("running on battery"), true, true},
    {Outcome::DrivesNotQueried, 103, 103, UTF16("Failed"), UTF16("the drives could not be queried"), false,
     true},
    {Outcome::NoSupportedDrive, 104, 104, UTF16("NotApplicable"), UTF16("no supported drive"), false, true},
    {Outcome::NotStarted, 105, 105, UTF16("Failed"), UTF16("the installation could not start"), false, true},
    {Outcome::VolumeEncrypted, 106, 106, UTF16("Failed"), UTF16("BitLocker encryption is on"), false, true},
    {Outcome::PackageNotWritten, 6, 6, UTF16("Failed"), UTF16("the package could not be written"), false,
     true},
    {Outcome::InstallerFailed, 1, 16, UTF16("Failed"), UTF16("the package installer failed"), false, true},
    {Outcome::WindowsError, AnyOtherCode, AnyOtherCode, UTF16("Failed"),
     UTF16("a Windows error running the installer, or its own code"), false, false},
    {Outcome::AlreadyOnDrive, 107, 107, UTF16("Updated"), UTF16("the update is already on this drive"), false,
     true},
    {Outcome::Verified, 108, 108, UTF16("Updated"), UTF16("verified: the drive runs the new firmware (/v)"),
     false, false},
    {Outcome::NotUpdated, 109, 109, UTF16("NotUpdated"),
     UTF16("verified: the drive's firmware revision is unchanged (/v)"), false, false},
    {Outcome::NotVerifiedYet, 110, 110, nullptr,
     UTF16("not verified yet: WMI or the drive not there; again at the next start (/v)"), false, false},
    {Outcome::VerificationGaveUp, 111, 111, UTF16("NotUpdated"),
     UTF16("not verified after three starts (/v)"), false, false},
    {Outcome::NothingToVerify, 112, 112, nullptr, UTF16("nothing to verify (/v)"), false, false},
};
constexpr size_t OutcomeCount = sizeof Outcomes / sizeof Outcomes[0];

constexpr bool OutcomesInEnumOrder() {
    for (size_t i = 0; i < OutcomeCount; ++i)
        if (static_cast<size_t>(Outcomes[i].outcome) != i)
            return false;
    return true;
}
static_assert(OutcomesInEnumOrder(), "Outcomes: one row per outcome, in the enumeration's order");

constexpr const OutcomeRow& RowOf(Outcome outcome) {
    return Outcomes[static_cast<size_t>(outcome)];
}
constexpr int32_t ExitCode(Outcome outcome) {
    return RowOf(outcome).code;
}

// What the worker of an installing run had reported when the run ended.
enum class Reported { Nothing, Failure, Success };
// The outcome an installing run's exit code stands for. After a success every code means
// installed (0: the restart started, 1: OK, else the restart is still needed); after a failure
// the failure's code (6: the package, before the installer's codes); before either, Esc.
Outcome InstallOutcome(int32_t exitCode, Reported reported);

// The usage text's exit-code lines: "code<TAB>meaning" each, ending with a line break; a code's
// second outcome goes on a line of its own ("<TAB>or meaning"), the installer's codes as "1-16".
Text UsageExitCodeLines();
