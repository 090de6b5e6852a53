#pragma once
// The result record: what a run leaves in the registry for deployment tools and administrators,
// under HKLM\SOFTWARE\Velomar\HD Firmware Update in the machine's native view (on 64-bit Windows
// the 64-bit one, which the 32-bit program otherwise would not see). A record that cannot be
// written never changes a run's outcome.
#include "platform/Owned.h"

#include <windows.h>

#include <string>

// The registry's native view: a 32-bit program on 64-bit Windows asks for the 64-bit one. Windows
// 2000 does not know the flag, and 32-bit Windows has one view: there it is 0.
REGSAM NativeRegistryView();

constexpr wchar_t ResultRecordKey[] = L"SOFTWARE\\Velomar\\HD Firmware Update";

class ResultRecord {
  public:
    // Opens the key, making it where it does not exist.
    ResultRecord();

    // 0 when open, else the Windows error.
    LONG OpenError() const { return m_error; }
    void SetText(const wchar_t* name, const std::wstring& value);
    void SetNumber(const wchar_t* name, DWORD value);
    void Remove(const wchar_t* name);
    // A value as the record holds it: empty, or false, where it has none of that type.
    std::wstring Text(const wchar_t* name) const;
    bool Number(const wchar_t* name, DWORD& value) const;

  private:
    unique_hkey m_key;
    LONG m_error = 0;
};

// What the run has found out for the record, noted by the steps as they go (any thread).
struct RunFacts {
    std::wstring result;              // the last status or failure text
    std::wstring driveModel;          // the supported drive, as Windows reports its model
    std::wstring firmwareRevision;    // that drive's firmware revision before the update
    int drivePosition = -1;           // its position (the number after PhysicalDrive)
    std::wstring serialNumber;        // its serial number, empty where Windows offers none
    bool verificationSetUp = false;   // the copy and the next-start task are in place
    std::wstring verificationFailure; // else why not, once the installation succeeded
};
void NoteRunResult(const std::wstring& text);
void NoteSupportedDrive(const std::wstring& model, const std::wstring& firmwareRevision, int position,
                        const std::wstring& serialNumber);
// failure: empty when the verification after the restart is set up.
void NoteVerificationSetUp(const std::wstring& failure);
RunFacts ReadRunFacts();
