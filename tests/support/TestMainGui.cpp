// GoogleTest entry point for widget tests (run with QT_QPA_PLATFORM=offscreen).
#include "browser/KLImageBrowserCell.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "support/TestSupport.h"
#include "thumbs/KPQuickLook.h"

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
    const int failed = RUN_ALL_TESTS();
    // Pictures still being drawn on worker threads paint with the application's machinery:
    // let them finish before the application object goes.
    KLImageBrowserCell::waitForStackPictures(5000);
    KPQuickLook::waitUntilAllOperationsAreFinished(5000);
    return failed;
}
