// The engine's threads carry names the OS shows (ps -L, /proc/PID/task/*/comm, debuggers).
#include "platform/Defaults.h"
#include "recent/FileSystemEventStream.h"
#include "recent/KLItem.h"
#include "support/TestSupport.h"
#include "util/ThreadNames.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <thread>

namespace {

// The names of this process's threads, as the kernel has them.
QStringList threadNames()
{
    QStringList names;
    const QStringList tasks = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &task : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly))
            names.append(QString::fromUtf8(comm.readAll()).trimmed());
    }
    return names;
}

bool hasThread(const QString &name)
{
    return KelsoTest::waitFor([&] { return threadNames().contains(name); }, 10000);
}

} // namespace

TEST(ThreadNames, TheEventStreamsWorkerIsNamed)
{
    FileSystemEventStream stream(KelsoTest::home() + QStringLiteral("/.state-names"));
    EXPECT_TRUE(hasThread(QStringLiteral("kelso-fsevents"))) << qPrintable(threadNames().join(' '));
}

TEST(ThreadNames, TheItemWorkerIsNamed)
{
    KLItem::waitForBackgroundUpdates(); // makes the worker
    EXPECT_TRUE(hasThread(QStringLiteral("kelso-items"))) << qPrintable(threadNames().join(' '));
}

TEST(ThreadNames, TheSettingsWriterIsNamed)
{
    Defaults defaults(KelsoTest::home() + QStringLiteral("/names/settings.plist"));
    defaults.setString(QStringLiteral("SomeKey"), QStringLiteral("written in the background"));
    EXPECT_TRUE(hasThread(QStringLiteral("kelso-prefs"))) << qPrintable(threadNames().join(' '));
    defaults.waitForBackgroundSync();
    EXPECT_TRUE(QFile::exists(KelsoTest::home() + QStringLiteral("/names/settings.plist")));
}

TEST(ThreadNames, ALongNameIsCutToWhatLinuxKeeps)
{
    QString seen;
    std::thread([&seen] {
        ThreadNames::setCurrent("kelso-a-name-longer-than-fifteen");
        QFile comm(QStringLiteral("/proc/thread-self/comm"));
        if (comm.open(QIODevice::ReadOnly))
            seen = QString::fromUtf8(comm.readAll()).trimmed();
    }).join();
    EXPECT_EQ(seen, QStringLiteral("kelso-a-name-lo"));
}
