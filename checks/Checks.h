#pragma once
// The checks that the machine can take the update. Each returns a boolean and posts only its own
// detail lines; the install sequence reports the failures.
#include <string>

class SetupContext;

// True when the caller's token holds the built-in Administrators group as an enabled member.
bool CheckAdminCredentials(SetupContext& context);
// True on Windows 2000 (5.0) or later.
bool CheckWindowsVersion(SetupContext& context);
// True when Windows 6.1 or later boots from a GPT disk 0. Raises HDWMIException when WMI cannot
// tell (no connection, or the partition query fails).
bool IsEfiBootLoader(SetupContext& context);
// False only when the AC line is reported offline.
bool IsOnACPower(SetupContext& context);
// The volume of the working directory or of Windows (as "C:") that BitLocker encrypts or protects,
// or the empty text when neither is (or, before Windows Vista and where BitLocker's namespace or
// class does not exist, when nothing can be). The installer reads the update image's sectors
// straight from the disk, which on such a volume are ciphertext. Raises HDWMIException when
// BitLocker's namespace exists but a volume's state cannot be read.
std::wstring FindEncryptedVolume(SetupContext& context);
