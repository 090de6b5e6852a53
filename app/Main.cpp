#include "app/TarnwickApp.h"
#include "platform/DllSearch.h"

namespace {
TarnwickApp theApp;
} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    RestrictDllSearch(); // before anything loads a DLL by name
    return GetApplication()->Run();
}
