// GoogleTest entry point for unit tests: a QCoreApplication (so queued calls, timers and
// QSignalSpy work) and Qt's test mode, which points the standard locations at ~/.qttest.
#include "platform/thumbnailer/DecoderWorkers.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    // Thumbnails are decoded by this program started as a worker.
    if (const int worker = DecoderWorkers::runIfWorker(argc, argv); worker >= 0)
        return worker;
    KelsoTest::isolateHome();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
