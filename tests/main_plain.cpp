// Test entry point of the tests that need no Qt application: the core's, and
// the command line's, which run the quorvel executable.
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
