// The Cooler store facing what may sit in its place: a FIFO, a socket, a device, property lists
// nested 100,000 deep or expanding without end, an empty file. Each is moved aside with one log
// line and the Cooler starts empty; nothing waits and nothing is read without end.
#include "cooler/KLCoolerStore.h"
#include "support/HostileFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

class CoolerStoreHostileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir = KelsoTest::home() + "/cooler-hostile-" + QString::number(++s_counter);
        QDir().mkpath(dir);
        store = dir + "/coolerItems.plist";
        std::lock_guard lock(g_logMutex);
        g_log.clear();
        m_previous = qInstallMessageHandler(&capture);
    }
    void TearDown() override { qInstallMessageHandler(m_previous); }

    // Reads on a thread of its own so that a read that waits fails the test rather than
    // hanging it (a writer then opens and closes the FIFO to let it go).
    bool readPromptly(KLCoolerStore::ReadStatus *status, QString *why)
    {
        std::packaged_task<void()> task([&] { items = KLCoolerStore::read(store, status, why); });
        std::future<void> done = task.get_future();
        std::thread runner(std::move(task));
        const bool prompt = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        if (!prompt) {
            const int fd = ::open(QFile::encodeName(store).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
        runner.join();
        return prompt;
    }
    void expectMovedAside(mode_t kind, const QString &reason)
    {
        KLCoolerStore::ReadStatus status = KLCoolerStore::ReadStatus::Read;
        QString why;
        ASSERT_TRUE(readPromptly(&status, &why)) << "reading the store waited";
        EXPECT_TRUE(items.isEmpty());
        EXPECT_EQ(status, KLCoolerStore::ReadStatus::MovedAside);
        EXPECT_TRUE(why.contains(reason)) << qPrintable(why);
        const QStringList aside =
            QDir(dir).entryList({"coolerItems.plist.corrupt-*"}, QDir::Files | QDir::System | QDir::Hidden);
        ASSERT_EQ(aside.size(), 1);
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(dir + "/" + aside.first()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, kind);
        std::lock_guard lock(g_logMutex);
        EXPECT_EQ(g_log.filter(store).size(), 1) << qPrintable(g_log.join('\n'));
        EXPECT_FALSE(QFileInfo::exists(store));
    }

    static inline int s_counter = 0;
    QString dir, store;
    QList<KLItemPtr> items;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

TEST_F(CoolerStoreHostileTest, FifoIsMovedAside)
{
    makeFifo(store);
    expectMovedAside(S_IFIFO, "FIFO");
}

TEST_F(CoolerStoreHostileTest, SocketIsMovedAside)
{
    const int fd = makeSocket(store);
    expectMovedAside(S_IFSOCK, "socket");
    ::close(fd);
}

TEST_F(CoolerStoreHostileTest, LinkToADeviceIsMovedAside)
{
    makeDeviceLink(store);
    expectMovedAside(S_IFLNK, "device");
}

TEST_F(CoolerStoreHostileTest, DeepBinaryIsMovedAside)
{
    KelsoTest::writeFile(store, deepBinary(100000));
    expectMovedAside(S_IFREG, "deeper than 512");
}

TEST_F(CoolerStoreHostileTest, DeepXmlIsMovedAside)
{
    KelsoTest::writeFile(store, deepXml(100000));
    expectMovedAside(S_IFREG, "deeper than 512");
}

TEST_F(CoolerStoreHostileTest, ExpandingBinaryIsMovedAside)
{
    KelsoTest::writeFile(store, sharedBinary(24));
    expectMovedAside(S_IFREG, "values");
}

TEST_F(CoolerStoreHostileTest, EmptyFileIsMovedAside)
{
    KelsoTest::writeFile(store, QByteArray());
    expectMovedAside(S_IFREG, "empty");
}
