#include "framework/Application.h"

#include "core/Switches.h"

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
        bool isFlag = false;
        const wchar_t* param = StripSwitchMark(argv[i], isFlag);
        info.OnArgument(argv[i]);
        info.ParseParam(param, isFlag ? TRUE : FALSE, i + 1 == argc);
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
