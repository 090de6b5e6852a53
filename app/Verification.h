#pragma once
// The update proven, not presumed: what an earlier run left on this machine, read before a run writes
// anything of its own, and the verification run ("v") that the next-start task starts after the
// restart.
#include "core/Outcomes.h"

#include <string>

// The record's value that detection rules compare: 1 once the update is staged (Installed) or
// verified (Updated), else 0.
constexpr wchar_t UpdateInPlaceValue[] = L"UpdateInPlace";
// How many starts a verification tries before it gives up.
constexpr unsigned VerificationTries = 3;

// What an installing or checking run finds before it goes on.
struct EarlierUpdate {
    enum class Kind {
        None,            // install (again): nothing earlier, a failure, NotUpdated, or a staged update
                         // whose verification task is gone
        OnDrive,         // 107: Updated, or Installed with the named drive's revision already changed
        AwaitingRestart, // 3010: Installed, revision unchanged, the verification task still registered
    } kind = Kind::None;
    std::wstring revisionAfter; // OnDrive from Installed: the drive's revision now
};
EarlierUpdate FindEarlierUpdate();

// Ends a run that found an earlier update (OnDrive, or AwaitingRestart for an installing run): the
// record and the history log say so. Returns the exit code.
int32_t EndWithEarlierUpdate(const EarlierUpdate& earlier, bool checkOnly, const std::wstring& switches);

// The verification run: the outcome's exit code (108 to 112).
int32_t VerifyAfterRestart();

// The drive the record names, as a verification finds it: empty when it is that drive, else why not.
struct RecordedDrive {
    std::wstring model, serialNumber;
    bool hasPosition = false;
    unsigned long position = 0;
};
struct DriveAtPosition;
std::wstring WhyNotTheRecordedDrive(const RecordedDrive& recorded, const DriveAtPosition& found);
