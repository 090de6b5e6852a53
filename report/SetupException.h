#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// A failed installation step: the text shown and logged, the outcome code (the exit code), and
// whether the dialog heads it with "An error occurred...". Also the failure record posted to the dialog.
struct SetupException {
    SetupException(std::wstring message, int32_t code, BYTE isError)
        : Message(std::move(message)), Code(code), IsError(isError) {}

    std::wstring Message;
    int32_t Code;
    BYTE IsError;
};

// Raised when Esc has stopped the run and what it wrote is removed again.
struct RunCancelled {};
