// GoogleTest entry point for widget tests (run with QT_QPA_PLATFORM=offscreen).
#include "support/TestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    KelsoTest::isolateHome();
    // Widget tests never need a display; this also covers test discovery at build time,
    // which runs the binary without the ctest environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
