#pragma once
// The application object: one per program, run from the entry point.
#include <windows.h>

// Receives the command line one argument at a time.
class CommandLineInfo {
  public:
    virtual ~CommandLineInfo() = default;
    // The argument as given, just before ParseParam receives it.
    virtual void OnArgument(const wchar_t* argument) {}
    // param: the argument without one leading '-' or '/'; isFlag: such a character was removed.
    virtual void ParseParam(const wchar_t* param, BOOL isFlag, BOOL isLast) = 0;
};

class Application {
  public:
    Application();
    virtual ~Application();

    // FALSE skips the message loop and goes straight to ExitInstance.
    virtual BOOL InitInstance() { return FALSE; }
    // Its result is the process exit code.
    virtual int ExitInstance() { return 0; }

    // Splits the process's command line (the runtime's standard split) and hands on every argument
    // after the program name.
    void ParseCommandLine(CommandLineInfo& info) const;
    static void ParseArguments(int argc, wchar_t* const* argv, CommandLineInfo& info);

    int Run();

    HWND m_hMainWnd = nullptr;
};

// The program's one application object, or null.
Application* GetApplication();
