#include "framework/Application.h"

#include <cstdlib>

namespace {
Application* g_application = nullptr;
}

Application::Application() {
    g_application = this;
}

Application::~Application() {
    if (g_application == this)
        g_application = nullptr;
}

Application* GetApplication() {
    return g_application;
}

void Application::ParseArguments(int argc, wchar_t* const* argv, CommandLineInfo& info) {
    for (int i = 1; i < argc; ++i) {
        const wchar_t* param = argv[i];
        BOOL isFlag = FALSE;
        if (param[0] == L'-' || param[0] == L'/') {
            ++param;
            isFlag = TRUE;
        }
        info.ParseParam(param, isFlag, i + 1 == argc);
    }
}

void Application::ParseCommandLine(CommandLineInfo& info) const {
    if (__wargv != nullptr)
        ParseArguments(__argc, __wargv, info);
}

int Application::Run() {
    if (InitInstance()) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return ExitInstance();
}
