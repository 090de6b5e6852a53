// The parsed form of a fake WMI scenario (the text format is described in FakeWmi.h).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

namespace fakewmi {

struct Value {
    enum Kind { Text, Null, Int, Array } kind = Text;
    std::wstring text;
    LONG number = 0;
};

// Property name (as WMI spells it) and value; looked up without regard to case.
using Properties = std::vector<std::pair<std::wstring, Value>>;

struct Failure {
    std::wstring method;
    std::wstring property; // Get: the property; Next: the drive position; empty counts every call
    long occurrence = 0;
    HRESULT result = S_OK;
    bool hang = false;         // answers nothing until the caller's time-out, then WBEM_S_TIMEDOUT
    bool noCallResult = false; // ExecMethod only: succeeds without the call result it was asked for
};

struct Scenario {
    static const int MaxDrives = 16;
    bool hasDrive[MaxDrives] = {};
    Properties drives[MaxDrives];
    bool hasPartition = false;
    Properties partition;
    // BitLocker's namespace exists only when the scenario names a volume.
    struct Volume {
        std::wstring letter; // "C:"
        Properties properties;
    };
    std::vector<Volume> volumes;
    std::vector<Failure> failures;
};

bool ParseScenario(const std::wstring& text, Scenario* out, std::wstring* error);

// Fills a VARIANT that the caller has initialised; the caller owns what it holds.
HRESULT ToVariant(const Value& value, VARIANT* out);

} // namespace fakewmi
