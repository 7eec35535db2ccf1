// The settings store facing hostile files in its place (FIFO, socket, device, property lists
// nested 100,000 deep or expanding without end) and a settings lock held by another process
// that is stopped, busy or killed.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "support/HostileFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

using namespace HostileFiles;

namespace {

class LogCapture
{
public:
    LogCapture()
    {
        std::lock_guard lock(s_mutex);
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    static QStringList linesWith(const QString &fragment)
    {
        std::lock_guard lock(s_mutex);
        return s_lines.filter(fragment);
    }

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        std::lock_guard lock(s_mutex);
        s_lines.append(message);
    }
    QtMessageHandler m_previous = nullptr;
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
};

QString freshFolder()
{
    static int counter = 0;
    const QString f = KelsoTest::home() + QStringLiteral("/hostile-settings-%1").arg(++counter);
    QDir().mkpath(f);
    return f;
}

QStringList copiesAside(const QString &path)
{
    const QFileInfo info(path);
    return QDir(info.absolutePath())
        .entryList({info.fileName() + ".corrupt-*"}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

// Runs `open` and answers whether it came back within a few seconds. When it did not (it
// waits for a writer of a FIFO at `fifoToRelease`), a writer comes and goes so that the
// thread can end and the test can report the failure instead of hanging.
bool returnsPromptly(const std::function<void()> &open, const QString &fifoToRelease = {})
{
    std::packaged_task<void()> task(open);
    std::future<void> done = task.get_future();
    std::thread runner(std::move(task));
    const bool prompt = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!prompt && !fifoToRelease.isEmpty()) {
        const int fd = ::open(QFile::encodeName(fifoToRelease).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    runner.join();
    return prompt;
}

// A process of its own holding an exclusive flock on `lockPath`.
class Holder
{
public:
    explicit Holder(const QString &lockPath)
    {
        m_process.start(QStringLiteral(LOCK_HOLDER), {lockPath});
        EXPECT_TRUE(m_process.waitForReadyRead(10000)) << "lock holder did not start";
        EXPECT_EQ(m_process.readLine().trimmed(), QByteArray("locked"));
    }
    ~Holder() { kill(); }
    qint64 pid() const { return m_process.processId(); }
    void signal(int sig) { ::kill(pid_t(pid()), sig); }
    void kill()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        signal(SIGKILL);
        m_process.waitForFinished(10000);
    }

private:
    QProcess m_process;
};

QString savedString(const QString &path, const QString &key)
{
    return Defaults(path).stringForKey(key);
}

} // namespace

TEST(DefaultsHostileTest, SpecialFilesInTheSettingsPlaceAreMovedAsideAndDefaultsUsed)
{
    struct Case {
        const char *name;
        std::function<int(const QString &)> make; // answers a descriptor to close, or -1
        mode_t kind;
    };
    const std::vector<Case> cases = {
        {"FIFO",
         [](const QString &p) {
             makeFifo(p);
             return -1;
         },
         S_IFIFO},
        {"socket", [](const QString &p) { return makeSocket(p); }, S_IFSOCK},
        {"device",
         [](const QString &p) {
             makeDeviceLink(p);
             return -1;
         },
         S_IFLNK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = freshFolder() + "/com.tallow.kelso.plist";
        const int fd = c.make(path);
        LogCapture log;
        std::unique_ptr<Defaults> d;
        ASSERT_TRUE(returnsPromptly([&] { d = std::make_unique<Defaults>(path); }, path))
            << "the store waited on what is at the settings path";
        d->registerDefaults({{"KLFadeIn", true}});
        EXPECT_TRUE(d->boolForKey("KLFadeIn"));
        EXPECT_EQ(LogCapture::linesWith(path).size(), 1) << qPrintable(LogCapture::linesWith(path).join('\n'));
        const QStringList aside = copiesAside(path);
        ASSERT_EQ(aside.size(), 1);
        struct stat st;
        ASSERT_EQ(::lstat(QFile::encodeName(QFileInfo(path).absolutePath() + "/" + aside.first()).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.kind) << "the very thing that was there is kept aside";
        // The next write makes a proper file.
        d->setString("after", "written");
        EXPECT_TRUE(d->synchronize());
        EXPECT_TRUE(QFileInfo(path).isFile());
        EXPECT_EQ(savedString(path, "after"), QString("written"));
        if (fd >= 0)
            ::close(fd);
    }
}

TEST(DefaultsHostileTest, PropertyListsPastTheLimitsAreMovedAsideAndDefaultsUsed)
{
    const std::vector<std::pair<const char *, QByteArray>> cases = {
        {"binary 100,000 deep", deepBinary(100000)},
        {"XML 100,000 deep", deepXml(100000)},
        {"binary expanding to 2^25 values", sharedBinary(24)},
    };
    for (const auto &[name, bytes] : cases) {
        SCOPED_TRACE(name);
        const QString path = freshFolder() + "/com.tallow.kelso.plist";
        KelsoTest::writeFile(path, bytes);
        LogCapture log;
        std::unique_ptr<Defaults> d;
        ASSERT_TRUE(returnsPromptly([&] { d = std::make_unique<Defaults>(path); }));
        d->registerDefaults({{"unwantedExtensions", QVariantList{"xcodeproj", "tmp"}}});
        EXPECT_EQ(d->stringArrayForKey("unwantedExtensions"), QStringList({"xcodeproj", "tmp"}));
        EXPECT_FALSE(QFile::exists(path));
        const QStringList aside = copiesAside(path);
        ASSERT_EQ(aside.size(), 1);
        QFile kept(QFileInfo(path).absolutePath() + "/" + aside.first());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), bytes) << "nothing lost";
        const QStringList lines = LogCapture::linesWith(path);
        ASSERT_EQ(lines.size(), 1) << qPrintable(lines.join('\n'));
        EXPECT_TRUE(lines.first().contains("deeper than 512") || lines.first().contains("values"))
            << qPrintable(lines.first());
    }
}

TEST(DefaultsHostileTest, TheSharedTagDomainIsReadTheSameWay)
{
    const QString path = Defaults::pathForDomain("com.lumitag.shared");
    QDir().mkpath(QFileInfo(path).absolutePath());
    makeFifo(path);
    Defaults *shared = nullptr;
    ASSERT_TRUE(returnsPromptly([&] { shared = &Defaults::domain("com.lumitag.shared"); }, path));
    EXPECT_TRUE(shared->stringArrayForKey("recentTags").isEmpty());
    EXPECT_EQ(copiesAside(path).size(), 1);
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(DefaultsHostileTest, ALockHeldByAStoppedProcessIsSeenAtOnce)
{
    const QString path = freshFolder() + "/com.tallow.kelso.plist";
    Holder holder(path + ".lock");
    holder.signal(SIGSTOP);
    Defaults d(path);
    d.setString("KLProbe", "kept");
    LogCapture log;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(d.synchronize());
    EXPECT_LT(t.elapsed(), Defaults::kLockWaitMs / 2) << "waited for a process that cannot let go";
    const QStringList lines = LogCapture::linesWith("stopped");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines.first().contains(QString::number(holder.pid()))) << qPrintable(lines.first());
    EXPECT_FALSE(d.synchronize());
    EXPECT_EQ(LogCapture::linesWith("stopped").size(), 1) << "said once";
    EXPECT_EQ(d.stringForKey("KLProbe"), QString("kept"));
    EXPECT_FALSE(Defaults(path).hasSavedValue("KLProbe"));

    // Once it is gone the kernel has let go of its lock, and nothing was lost.
    holder.signal(SIGCONT);
    holder.kill();
    EXPECT_TRUE(d.synchronize());
    EXPECT_EQ(savedString(path, "KLProbe"), QString("kept"));
    d.waitForBackgroundSync();
}

TEST(DefaultsHostileTest, AWaiterTakesTheLockAsSoonAsItsHolderDies)
{
    const QString path = freshFolder() + "/com.tallow.kelso.plist";
    auto holder = std::make_unique<Holder>(path + ".lock");
    Defaults d(path);
    d.setString("KLProbe", "after the holder");
    // Only the signal crosses threads: the QProcess belongs to this thread, and waiting for it
    // from another one leaves its notifiers behind in this thread's event loop.
    std::thread killer([&] {
        QThread::msleep(500);
        holder->signal(SIGKILL);
    });
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(d.synchronize()) << "the kernel releases a dead holder's lock";
    EXPECT_LT(t.elapsed(), Defaults::kLockWaitMs) << "taken when the holder died, not when its file looked old";
    killer.join();
    holder->kill(); // reaped here, on the thread that started it
    EXPECT_EQ(savedString(path, "KLProbe"), QString("after the holder"));
    EXPECT_FALSE(QFile::exists(path + ".lock")) << "the lock file goes with the lock";
    d.waitForBackgroundSync();
}

TEST(DefaultsHostileTest, TheEventLoopThreadNeverWaitsAndTheStoreThreadWritesLater)
{
    const QString path = freshFolder() + "/com.tallow.kelso.plist";
    auto holder = std::make_unique<Holder>(path + ".lock"); // running, busy for as long as it likes
    Defaults d(path);
    Defaults::setNeverWaitOn(QThread::currentThread());
    d.setString("KLProbe", "from the store thread");
    QElapsedTimer t;
    t.start();
    const bool written = d.synchronize();
    const qint64 waited = t.elapsed();
    EXPECT_FALSE(written);
    EXPECT_LT(waited, 1000) << "the event loop's thread waited for another process's lock";
    holder->kill();
    EXPECT_TRUE(KelsoTest::waitFor([&] { return savedString(path, "KLProbe") == "from the store thread"; }, 20000))
        << "the write handed to the store's thread never landed";
    Defaults::setNeverWaitOn(nullptr);
    d.waitForBackgroundSync();
}
