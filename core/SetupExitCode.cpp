#include "core/SetupExitCode.h"

Text SetupExitCodeText(uint32_t exitCode) {
    static const TextChar* const texts[] = {
        UTF16("This operating system is unsupported."),
        UTF16("There is insufficient memory to complete the operation."),
        UTF16("The Setup.ini file is invalid."),
        UTF16("An error occurred while copying the DOS image and bin files."),
        UTF16("An error occurred while patching the DOS image file."),
        UTF16("The DOS image file is not contiguous."),
        UTF16("The DOS image file appears to be invalid."),
        UTF16("An error occurred while decompressing a compressed image file."),
        UTF16("An error occurred getting file info from the DOS image file."),
        UTF16("The sector size in the DOS image file is invalid."),
        UTF16("An error occurred while calculating the CRC for the DOS image file."),
        UTF16("An error occurred while updating the boot.ini file."),
        UTF16("An error occurred while updating the BCD (boot configuration data)."),
        UTF16("The user is not an administrator."),
        UTF16("The system is not on AC power."),
        UTF16("A unknown error occurred."),
    };
    return exitCode >= 1 && exitCode <= 16 ? texts[exitCode - 1] : Text();
}
