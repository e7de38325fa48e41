// Test entry point for the widgets: an isolated environment and an offscreen QApplication.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "TestEnvironment.h"

int main(int argc, char** argv) {
    orvane::test::IsolateEnvironment();
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
