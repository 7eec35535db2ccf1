// The recent-items store facing what may sit in its place: a FIFO, a socket, a device, property
// lists nested 100,000 deep or expanding without end, an empty file, and files of the wrong
// shape. Each is moved aside with one log line and the list starts empty; the next write makes
// a good store.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "prefs/KLSettings.h"
#include "recent/KLRecentFiles.h"
#include "support/HostileFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace HostileFiles;

namespace {

QStringList g_log;
std::mutex g_logMutex;

void capture(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::lock_guard lock(g_logMutex);
    g_log.append(message);
}

class RecentStoreHostileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        root = KelsoTest::home() + "/recent-hostile/" + QString::number(++s_counter);
        QDir().mkpath(root + "/store");
        storePath = root + "/store/recentItems.plist";
        defaults = std::make_unique<Defaults>(root + "/settings.plist");
        KLSettings::setupDefaults(*defaults);
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        m_previous = qInstallMessageHandler(&capture);
    }
    void TearDown() override
    {
        collector.reset();
        qInstallMessageHandler(m_previous);
    }
    // Makes the collector on a thread of its own, so that one that waits on what is in the
    // store's place fails the test instead of hanging it (a writer then opens and closes the
    // FIFO to let it go).
    bool makeCollectorPromptly()
    {
        KLRecentFiles::Options o;
        o.defaults = defaults.get();
        o.storePath = storePath;
        o.useDefaultStream = false;
        o.startStream = false;
        o.startOpenedFilesQuery = false;
        o.primeListingCache = false;
        QThread *here = QThread::currentThread();
        std::packaged_task<void()> task([this, o, here] {
            collector = std::make_unique<KLRecentFiles>(o);
            collector->moveToThread(here); // made on another thread: it lives on this one
        });
        std::future<void> done = task.get_future();
        std::thread runner(std::move(task));
        const bool prompt = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!prompt) {
            const int fd = ::open(QFile::encodeName(storePath).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        runner.join();
        return prompt;
    }
    QStringList aside() const
    {
        return QDir(root + "/store")
            .entryList({"recentItems.plist.corrupt-*"}, QDir::Files | QDir::System | QDir::Hidden);
    }
    QStringList logLinesAboutTheStore() const
    {
        std::lock_guard lock(g_logMutex);
        return g_log.filter(storePath);
    }
    // After a bad store: empty list, moved aside with one line, and the next write is good.
    void expectMovedAsideAndStartedEmpty(mode_t kind)
    {
        EXPECT_EQ(collector->eventCount(), 0);
        const QStringList copies = aside();
        ASSERT_EQ(copies.size(), 1);
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(root + "/store/" + copies.first()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, kind);
        EXPECT_EQ(logLinesAboutTheStore().size(), 1) << qPrintable(logLinesAboutTheStore().join('\n'));

        const QString file = root + "/docs/a.txt";
        KelsoTest::writeFile(file);
        collector->addEvent({KLItem::create(file)}, root + "/docs");
        ASSERT_TRUE(collector->writeState());
        EXPECT_TRUE(QFileInfo(storePath).isFile());
        collector.reset();
        ASSERT_TRUE(makeCollectorPromptly());
        EXPECT_EQ(collector->eventCount(), 1);
        EXPECT_EQ(aside().size(), 1);
    }

    static inline int s_counter = 0;
    QString root, storePath;
    std::unique_ptr<Defaults> defaults;
    std::unique_ptr<KLRecentFiles> collector;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST_F(RecentStoreHostileTest, AFifoInTheStorePlaceIsMovedAside)
{
    makeFifo(storePath);
    ASSERT_TRUE(makeCollectorPromptly()) << "reading the store waited on a FIFO";
    expectMovedAsideAndStartedEmpty(S_IFIFO);
}

TEST_F(RecentStoreHostileTest, ASocketInTheStorePlaceIsMovedAside)
{
    const int fd = makeSocket(storePath);
    ASSERT_TRUE(makeCollectorPromptly());
    expectMovedAsideAndStartedEmpty(S_IFSOCK);
    ::close(fd);
}

TEST_F(RecentStoreHostileTest, ALinkToADeviceIsMovedAsideNotReadWithoutEnd)
{
    makeDeviceLink(storePath);
    ASSERT_TRUE(makeCollectorPromptly());
    expectMovedAsideAndStartedEmpty(S_IFLNK);
    EXPECT_TRUE(QFileInfo("/dev/zero").exists());
}

TEST_F(RecentStoreHostileTest, PropertyListsPastTheLimitsAreMovedAside)
{
    for (const QByteArray &bytes : {deepBinary(100000), deepXml(100000), sharedBinary(24)}) {
        SCOPED_TRACE(bytes.left(8).toStdString());
        KelsoTest::writeFile(storePath, bytes);
        for (const QString &old : aside())
            QFile::remove(root + "/store/" + old);
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        ASSERT_TRUE(makeCollectorPromptly());
        expectMovedAsideAndStartedEmpty(S_IFREG);
        QFile kept(root + "/store/" + aside().first());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes) << "nothing lost";
        collector.reset();
    }
}

TEST_F(RecentStoreHostileTest, AnEmptyStoreIsMovedAsideNotOverwrittenSilently)
{
    KelsoTest::writeFile(storePath, QByteArray());
    ASSERT_TRUE(makeCollectorPromptly());
    expectMovedAsideAndStartedEmpty(S_IFREG);
}

TEST_F(RecentStoreHostileTest, StoresOfTheWrongShapeAreMovedAside)
{
    const QList<QVariant> shapes = {
        QVariantMap{{"someKey", "a dictionary where the list of events belongs"}},
        QVariant(QStringLiteral("a lone string")),
        QVariantList{QStringLiteral("not an event"), qint64(42)},
    };
    for (const QVariant &shape : shapes) {
        SCOPED_TRACE(shape.typeName());
        KelsoTest::writeFile(storePath, Plist::toBinary(shape));
        for (const QString &old : aside())
            QFile::remove(root + "/store/" + old);
        {
            std::lock_guard lock(g_logMutex);
            g_log.clear();
        }
        ASSERT_TRUE(makeCollectorPromptly());
        expectMovedAsideAndStartedEmpty(S_IFREG);
        collector.reset();
    }
    // An empty list is a list: nothing to move aside.
    KelsoTest::writeFile(storePath, Plist::toBinary(QVariantMap{{"version", 1}, {"events", QVariantList{}}}));
    for (const QString &old : aside())
        QFile::remove(root + "/store/" + old);
    ASSERT_TRUE(makeCollectorPromptly());
    EXPECT_TRUE(aside().isEmpty());
    EXPECT_TRUE(QFile::exists(storePath));
}
