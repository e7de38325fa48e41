// Test entry point for the core library: an isolated environment and a Qt event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    orvane::test::IsolateEnvironment();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
