// The decoder worker processes: kept alive between jobs, limited in time and memory, replaced
// when one crashes or hangs, killed at once when Kelso quits.
#include "HostileFiles.h"
#include "TestMedia.h"
#include "platform/thumbnailer/ChildProcesses.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent>
#include <gtest/gtest.h>
#include <signal.h>

using DecoderWorkers::Job;

namespace {

QString dir(const QString &name)
{
    const QString d = KelsoTest::home() + QStringLiteral("/workers/") + name;
    QDir().mkpath(d);
    return d;
}

QString goodPng(const QString &d, const QString &name = QStringLiteral("good.png"))
{
    const QString path = d + QLatin1Char('/') + name;
    KelsoTest::writeFile(path, ThumbsTestMedia::encode(ThumbsTestMedia::twoTone(400, 200, Qt::red, Qt::blue), "png"));
    return path;
}

// A process that is gone or a zombie no longer counts as running.
bool running(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray s = stat.readAll();
    const int close = s.lastIndexOf(')');
    return close > 0 && s.size() > close + 2 && s.at(close + 2) != 'Z';
}

class DecoderWorkersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ChildProcesses::resumeForTesting();
        ChildProcesses::setJobTimeLimitMs(4000);
    }
};

} // namespace

TEST_F(DecoderWorkersTest, OneWorkerServesJobAfterJobAndSendsThePicture)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "workers built with AddressSanitizer run without an address-space limit";
#endif
    const QString d = dir(QStringLiteral("reuse"));
    const QString png = goodPng(d);
    const int before = DecoderWorkers::workersStarted();
    for (int i = 0; i < 6; ++i) {
        const DecoderWorkers::Outcome out = DecoderWorkers::run(Job::Image, png, QSize(100, 100));
        ASSERT_EQ(out.image.size(), QSize(100, 50)) << qPrintable(out.failure);
        EXPECT_TRUE(out.failure.isEmpty());
        EXPECT_EQ(qRed(out.image.pixel(50, 10)), 255);
        EXPECT_EQ(qBlue(out.image.pixel(50, 40)), 255);
    }
    // Jobs one after another from one thread: at most one process start, not one per job.
    EXPECT_LE(DecoderWorkers::workersStarted() - before, 1);
    const QList<qint64> pids = DecoderWorkers::workerPids();
    ASSERT_FALSE(pids.isEmpty());
    for (qint64 pid : pids) {
        EXPECT_NE(pid, qint64(::getpid()));
        // The worker runs under the memory limit.
        QFile limits(QStringLiteral("/proc/%1/limits").arg(pid));
        ASSERT_TRUE(limits.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(limits.readAll());
        EXPECT_TRUE(text.contains(QRegularExpression(
            QStringLiteral("Max address space\\s+%1\\s+%1").arg(ChildProcesses::memoryLimitBytes()))))
            << qPrintable(text);
    }
    // The fast path declines a file that is not one image, without blaming it.
    KelsoTest::writeFile(d + QStringLiteral("/not-a-picture.png"), "hello");
    const DecoderWorkers::Outcome declined =
        DecoderWorkers::run(Job::SingleImage, d + QStringLiteral("/not-a-picture.png"), QSize(300, 300));
    EXPECT_TRUE(declined.image.isNull());
    EXPECT_FALSE(declined.fileAtFault);
    const DecoderWorkers::Outcome refused =
        DecoderWorkers::run(Job::Image, d + QStringLiteral("/not-a-picture.png"), QSize(300, 300));
    EXPECT_TRUE(refused.image.isNull());
    EXPECT_TRUE(refused.fileAtFault);
    EXPECT_FALSE(refused.failure.isEmpty());
}

TEST_F(DecoderWorkersTest, ACrashedWorkerIsReplacedAndKelsoGoesOn)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "workers built with AddressSanitizer run without an address-space limit";
#endif
    const QString d = dir(QStringLiteral("crash"));
    const QString svg = d + QStringLiteral("/self.svg");
    KelsoTest::writeFile(svg, HostileFiles::selfReferencingSvg(svg));
    const QString png = goodPng(d);
    ASSERT_FALSE(DecoderWorkers::run(Job::Image, png, QSize(64, 64)).image.isNull());
    const QList<qint64> before = DecoderWorkers::workerPids();
    ASSERT_EQ(before.size(), 1);

    const DecoderWorkers::Outcome out = DecoderWorkers::run(Job::Svg, svg, QSize(128, 128));
    EXPECT_TRUE(out.image.isNull());
    EXPECT_TRUE(out.fileAtFault);
    EXPECT_TRUE(out.failure.contains(QStringLiteral("crashed"))) << qPrintable(out.failure);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !running(before.first()); }, 3000));
    EXPECT_FALSE(DecoderWorkers::workerPids().contains(before.first()));

    const int started = DecoderWorkers::workersStarted();
    const DecoderWorkers::Outcome next = DecoderWorkers::run(Job::Image, png, QSize(64, 64));
    EXPECT_EQ(next.image.size(), QSize(64, 32));
    EXPECT_EQ(DecoderWorkers::workersStarted(), started + 1);
}

TEST_F(DecoderWorkersTest, AHangingJobIsKilledAtTheTimeLimit)
{
    const QString d = dir(QStringLiteral("hang"));
    const QString pdf = d + QStringLiteral("/loop.pdf");
    KelsoTest::writeFile(pdf, HostileFiles::loopingPdf());
    ChildProcesses::setJobTimeLimitMs(1500);
    QElapsedTimer t;
    t.start();
    qint64 busyPid = 0;
    QFuture<DecoderWorkers::Outcome> f =
        QtConcurrent::run([&] { return DecoderWorkers::run(Job::PdfPage, pdf, QSize(128, 128)); });
    KelsoTest::waitFor(
        [&] {
            const QList<qint64> pids = DecoderWorkers::workerPids();
            busyPid = pids.isEmpty() ? 0 : pids.first();
            return busyPid != 0;
        },
        5000);
    ASSERT_TRUE(KelsoTest::waitFor([&] { return f.isFinished(); }, 10000));
    const qint64 ms = t.elapsed();
    const DecoderWorkers::Outcome out = f.result();
    EXPECT_TRUE(out.image.isNull());
    EXPECT_TRUE(out.fileAtFault);
    EXPECT_TRUE(out.failure.contains(QStringLiteral("longer than 1.5 s"))) << qPrintable(out.failure);
    EXPECT_GE(ms, 1400);
    EXPECT_LT(ms, 1500 + 2500); // the limit, plus a worker's start on a busy machine
    ASSERT_NE(busyPid, 0);
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !running(busyPid); }, 2000)) << "the hung worker still runs";
}

TEST_F(DecoderWorkersTest, StopAllKillsBusyWorkersAtOnceAndRefusesNewJobs)
{
    const QString d = dir(QStringLiteral("stop"));
    const QString pdf = d + QStringLiteral("/loop.pdf");
    KelsoTest::writeFile(pdf, HostileFiles::loopingPdf());
    ChildProcesses::setJobTimeLimitMs(30000);
    QFuture<DecoderWorkers::Outcome> f =
        QtConcurrent::run([&] { return DecoderWorkers::run(Job::PdfPage, pdf, QSize(128, 128)); });
    ASSERT_TRUE(KelsoTest::waitFor([&] { return !DecoderWorkers::workerPids().isEmpty(); }, 10000));
    ::usleep(300 * 1000); // inside the loop by now
    const QList<qint64> pids = DecoderWorkers::workerPids();
    QElapsedTimer t;
    t.start();
    DecoderWorkers::stopAll();
    EXPECT_LT(t.elapsed(), 100); // stopAll itself never waits
    ASSERT_TRUE(KelsoTest::waitFor([&] { return f.isFinished(); }, 1000)) << "the job waited for its worker";
    const DecoderWorkers::Outcome out = f.result();
    EXPECT_TRUE(out.image.isNull());
    EXPECT_FALSE(out.fileAtFault) << "a quit is not the file's fault";
    for (qint64 pid : pids)
        EXPECT_TRUE(KelsoTest::waitFor([&] { return !running(pid); }, 1000));
    // After the quit began, nothing starts.
    const int started = DecoderWorkers::workersStarted();
    const DecoderWorkers::Outcome late = DecoderWorkers::run(Job::Image, goodPng(d), QSize(64, 64));
    EXPECT_TRUE(late.image.isNull());
    EXPECT_FALSE(late.fileAtFault);
    EXPECT_EQ(DecoderWorkers::workersStarted(), started);
    ChildProcesses::resumeForTesting();
    EXPECT_FALSE(DecoderWorkers::run(Job::Image, goodPng(d), QSize(64, 64)).image.isNull());
}
