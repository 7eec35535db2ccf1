// GoogleTest entry point for widget tests (run with QT_QPA_PLATFORM=offscreen).
#include "platform/thumbnailer/DecoderWorkers.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Thumbnails are decoded by this program started as a worker.
    if (const int worker = DecoderWorkers::runIfWorker(argc, argv); worker >= 0)
        return worker;
    KelsoTest::isolateHome();
    // Widget tests never need a display; this also covers test discovery at build time,
    // which runs the binary without the ctest environment.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
