// Test entry point of the QtCore adapters and of the command line (whose
// clients talk to `quorvel serve`): an event loop, no display.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
