// Stand-in for the update package's uninstaller. The program carries it for the installer and never
// runs it; it shows no window, touches nothing and exits 0.
#include "StandinMark.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}
