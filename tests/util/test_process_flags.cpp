// The process-wide flags: the redraw flag set from many threads and taken once on the main
// thread, and the shutting-down flag.
#include "util/KLProcessFlags.h"

#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

TEST(ProcessFlagsTest, RedrawFlagIsTakenOnceWhateverTheNumberOfSetters)
{
    KLProcessFlags::takeNeedsRedraw();
    EXPECT_FALSE(KLProcessFlags::takeNeedsRedraw());
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([] {
            for (int i = 0; i < 1000; ++i)
                KLProcessFlags::setNeedsRedraw();
        }));
        threads.back()->start();
    }
    for (auto &t : threads)
        ASSERT_TRUE(t->wait(30000));
    EXPECT_TRUE(KLProcessFlags::takeNeedsRedraw());
    EXPECT_FALSE(KLProcessFlags::takeNeedsRedraw());
}

TEST(ProcessFlagsTest, ShuttingDownFlag)
{
    EXPECT_FALSE(KLProcessFlags::isShuttingDown());
    KLProcessFlags::setShuttingDown(true);
    EXPECT_TRUE(KLProcessFlags::isShuttingDown());
    KLProcessFlags::setShuttingDown(false);
    EXPECT_FALSE(KLProcessFlags::isShuttingDown());
}
