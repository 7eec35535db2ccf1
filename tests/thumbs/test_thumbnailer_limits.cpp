// Installed thumbnailers are programs Kelso did not write, fed files Kelso did not make: each
// runs with a time limit (it and everything it started are stopped), a memory limit and none of
// Kelso's descriptors. The thumbnailers here are shell scripts found through a private
// XDG_DATA_DIRS, as /usr/share/thumbnailers would be.
#include "platform/thumbnailer/ChildProcesses.h"
#include "platform/thumbnailer/Thumbnailer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

int counter = 0;

class ThumbnailerLimits : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = KelsoTest::home() + QStringLiteral("/limits-%1").arg(++counter);
        const QString dataDir = base + QStringLiteral("/share");
        QDir().mkpath(dataDir + QStringLiteral("/thumbnailers"));
        oldDataDirs = qgetenv("XDG_DATA_DIRS");
        // Ahead of the system's folders, which still give the MIME database.
        qputenv("XDG_DATA_DIRS", QFile::encodeName(dataDir) + ":/usr/local/share:/usr/share");
        oldTime = ChildProcesses::jobTimeLimitMs();
        oldMemory = ChildProcesses::memoryLimitBytes();
    }
    void TearDown() override
    {
        qputenv("XDG_DATA_DIRS", oldDataDirs);
        ChildProcesses::setJobTimeLimitMs(oldTime);
        ChildProcesses::setMemoryLimitBytes(oldMemory);
        Thumbnailer::reloadThumbnailers();
    }
    // Installs `script` as the thumbnailer of lzip files and asks for a thumbnail of one.
    Thumbnailer::Result run(const QString &script)
    {
        const QString program = base + QStringLiteral("/thumb.sh");
        KelsoTest::writeFile(program, ("#!/bin/sh\n" + script).toUtf8());
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        KelsoTest::writeFile(
            base + QStringLiteral("/share/thumbnailers/kelso-limits-test.thumbnailer"),
            QStringLiteral("[Thumbnailer Entry]\nExec=%1 %i %o\nMimeType=application/x-lzip;\n").arg(program).toUtf8());
        Thumbnailer::reloadThumbnailers();
        const QString file = base + QStringLiteral("/data.lz");
        KelsoTest::writeFile(file, QByteArray("LZIP\x01") + QByteArray(100, '\x0c'));
        Thumbnailer::Request req;
        req.path = file;
        req.box = QSize(128, 128);
        req.readSharedCache = false;
        req.writeSharedCache = false;
        return Thumbnailer::create(req);
    }
    QString readText(const QString &name) const
    {
        QFile f(base + QLatin1Char('/') + name);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }
    static bool alive(pid_t pid)
    {
        // A killed child of another parent may linger as a zombie until it is reaped.
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const int end = line.lastIndexOf(')');
        return end > 0 && line.size() > end + 2 && line.at(end + 2) != 'Z';
    }
    QString base;
    QByteArray oldDataDirs;
    int oldTime = 0;
    qint64 oldMemory = 0;
};

TEST_F(ThumbnailerLimits, AHungThumbnailerAndWhatItStartedAreStoppedAtTheTimeLimit)
{
    ChildProcesses::setJobTimeLimitMs(800);
    QElapsedTimer timer;
    timer.start();
    const Thumbnailer::Result r = run(QStringLiteral("sleep 60 &\necho $! > '%1/helper.pid'\nwait\n").arg(base));
    const qint64 took = timer.elapsed();
    EXPECT_TRUE(r.image.isNull());
    EXPECT_LT(took, 5000) << "the caller waited past the time limit";
    const pid_t helper = pid_t(readText(QStringLiteral("helper.pid")).toInt());
    ASSERT_GT(helper, 0) << "the thumbnailer did not run";
    bool gone = false;
    for (int i = 0; i < 40 && !(gone = !alive(helper)); ++i)
        QThread::msleep(50);
    EXPECT_TRUE(gone) << "the thumbnailer's own child " << helper << " still runs";
    if (!gone)
        ::kill(helper, SIGKILL);
}

TEST_F(ThumbnailerLimits, AThumbnailerCannotTakeMoreMemoryThanTheLimit)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/python3")))
        GTEST_SKIP() << "needs /usr/bin/python3 to allocate memory";
    ChildProcesses::setMemoryLimitBytes(qint64(256) << 20);
    run(QStringLiteral("/usr/bin/python3 -c 'bytearray(512 << 20)' 2>/dev/null && r=allocated || r=refused\n"
                       "/usr/bin/python3 -c 'bytearray(16 << 20)' 2>/dev/null && s=allocated || s=refused\n"
                       "echo $r $s > '%1/memory.txt'\nexit 1\n")
            .arg(base));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "no address-space limit under a sanitizer";
#endif
    EXPECT_EQ(readText(QStringLiteral("memory.txt")), QStringLiteral("refused allocated"))
        << "512 MiB must be refused under a 256 MiB limit, 16 MiB allowed";
}

TEST_F(ThumbnailerLimits, AThumbnailerGetsNoneOfKelsosDescriptors)
{
    const QString marker = base + QStringLiteral("/kelso-private-marker");
    KelsoTest::writeFile(marker, "secret");
    // Not close-on-exec, as a library might leave one.
    const int leaked = ::open(QFile::encodeName(marker).constData(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    run(QStringLiteral(
            "ls /proc/$$/fd > '%1/fds.txt'\nfor f in /proc/$$/fd/*; do readlink \"$f\"; done > '%1/targets.txt'\n"
            "exit 1\n")
            .arg(base));
    ::close(leaked);
    ASSERT_FALSE(readText(QStringLiteral("fds.txt")).isEmpty()) << "the thumbnailer did not run";
    const QString targets = readText(QStringLiteral("targets.txt"));
    EXPECT_FALSE(targets.contains(marker)) << qPrintable(targets);
}

} // namespace
