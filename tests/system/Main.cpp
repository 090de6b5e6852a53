#include "Driver.h"

#include <gtest/gtest.h>

// The build passes the program, the fake WMI provider and the attacker as Unix paths; the tests use Wine's.
int main(int argc, char** argv) {
    for (const char* name : {"TARNWICK_EXE", "TARNWICK_FAKE_WMI_DLL", "TARNWICK_ATTACKER"}) {
        const char* value = getenv(name);
        if (value == nullptr || value[0] != '/') {
            fprintf(stderr, "%s must name a file by its Unix path\n", name);
            return 2;
        }
        std::wstring wideName(name, name + strlen(name));
        SetEnvironmentVariableW(wideName.c_str(), WindowsPath(value).c_str());
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
