#include <gtest/gtest.h>

// Wide entry point, as the program has: the runtime then splits the command line into wide arguments.
int wmain(int argc, wchar_t** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
