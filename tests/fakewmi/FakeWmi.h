// A fake WMI provider for tests: the locator, services, enumerator and class objects that the program
// uses, answering from a small scenario instead of from the machine.
//
// Scenario text (UTF-8 in a file), one statement a line; '#' starts a comment, blank lines are ignored:
//   drive <position 0..15> [model=<value>] [firmware=<value>] [pnp=<value>] [serial=<value>]
//   partition type=<value>                       the first partition of disk 0 (else disk 0 has none)
//   volume <letter>: [protection=<value>] [conversion=<value>]
//                                                  a volume in BitLocker's namespace; with no volume
//                                                  line the namespace does not exist
//   fail <Method>[:<Property>] <occurrence> <hresult>
//   fail <Method> <occurrence> hang                Next, GetCallStatus or GetResultObject answers nothing
//                                                  until the caller's time-out (at most 5 minutes), then
//                                                  WBEM_S_TIMEDOUT
//   fail ExecMethod <occurrence> nocallresult      a semi-synchronous ExecMethod succeeds without a call
//                                                  result, as Wine's does
// <value> is "text" (escapes \", \\ and \uXXXX, any UTF-16 unit; any other backslash stands for itself), null
// (VT_NULL), int:<n> (VT_I4) or array (VT_ARRAY|VT_BSTR with one element, which no VARIANT conversion makes a
// BSTR). A key left out of a drive line is a property the instance lacks: Get gives WBEM_E_NOT_FOUND. fail
// makes the n-th call (1-based, counted since the scenario was loaded) of CreateInstance, ConnectServer,
// SetBlanket, ExecQuery, Reset, Next, Get, ExecMethod, GetCallStatus or GetResultObject (Get:<Property>
// counts only Gets of that property, Next:<position> only Nexts of the drive query for that position)
// return <hresult> (decimal or 0x hex). A failure code replaces the call's work; a success code is returned
// after the work is done, except that Next, Get, GetCallStatus and GetResultObject return any injected code
// at once, with no object, status or VARIANT.
//
// ConnectServer knows root\CIMV2 and, when the scenario names a volume, BitLocker's namespace
// root\CIMV2\Security\MicrosoftVolumeEncryption, in any case (else WBEM_E_INVALID_NAMESPACE). ExecQuery
// knows only WQL (else WBEM_E_INVALID_QUERY_TYPE) and the queries of the program: in root\CIMV2 the drive
// query with a decimal position and the query for the partitions of disk 0, in BitLocker's namespace
// the volume query by drive letter (any other text: WBEM_E_INVALID_QUERY). A position or letter without
// an object gives an empty enumerator: Next gives WBEM_S_FALSE and no object. A volume has DriveLetter,
// ProtectionStatus (when given) and __PATH; ExecMethod on that path runs GetConversionStatus, whose
// output has ReturnValue 0 and the volume's ConversionStatus (when given). With WBEM_FLAG_RETURN_IMMEDIATELY
// (semi-synchronous) the output comes from the call result's GetResultObject, and GetCallStatus gives 0.
//
// Every call is recorded with its arguments as text, joined by '|':
//   CreateInstance  {interface id}
//   ConnectServer   namespace|user|password|locale|flags|authority
//   SetBlanket      authn|authz|principal|authn level|impersonation level|auth info|capabilities
//   ExecQuery       language|query|flags
//   Reset           (nothing)
//   Next            timeout (unsigned)|count
//   ExecMethod      object path|method|flags
//   GetCallStatus, GetResultObject   timeout (unsigned)
//   Get             property|flags
//   QueryBlanket, CopyProxy (nothing)
// A null text or pointer reads "(null)", COLE_DEFAULT_PRINCIPAL and COLE_DEFAULT_AUTHINFO "(default)",
// any other auth info "(set)"; a context given to ConnectServer or ExecQuery adds "|(context)".
#pragma once

#include <windows.h>

#include <wbemcli.h>

#include <string>
#include <vector>

namespace fakewmi {

struct Call {
    std::wstring method;
    std::wstring args;
};

// Replaces the scenario and resets the call counters and the call log. On failure *error tells which
// line is wrong and why, and every later CreateInstance fails with WBEM_E_INITIALIZATION_FAILURE until
// a scenario loads.
bool LoadScenario(const std::wstring& text, std::wstring* error);
bool LoadScenarioFile(const std::wstring& path, std::wstring* error);

// A new locator, as CoCreateInstance of the WMI locator would give; recorded as CreateInstance.
HRESULT CreateLocator(IWbemLocator** out);
HRESULT CreateLocator(REFIID iid, void** out);

std::vector<Call> Calls();
void ClearCalls();

// COM objects of the fake not yet freed.
long LiveObjects();

// Appends every later call to this file as one UTF-8 line "method<TAB>args", and a failed scenario load
// as "LoadScenario<TAB>reason". An empty path stops the logging.
void SetLogFile(const std::wstring& path);

} // namespace fakewmi
