// The running program follows its settings file: a change written by another process or by
// hand reaches the settings' observers without a restart, and the program's next write keeps
// it instead of putting its older copy back.
#include "platform/Defaults.h"
#include "platform/Plist.h"
#include "prefs/KLSettings.h"
#include "prefs/KLSettingsWatch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QThread>
#include <gtest/gtest.h>

namespace {

class SettingsWatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static int n = 0;
        folder = KelsoTest::home() + QStringLiteral("/watch-%1").arg(++n);
        QDir().mkpath(folder);
        path = folder + "/com.tallow.kelso.plist";
        {
            auto first = other();
            first->setBool("KLFadeIn", false);
            ASSERT_TRUE(first->synchronize());
        }
        // Opened on the file without changing anything: no write of its own is planned, so only
        // the watch can make it look at the file again.
        running = std::make_unique<Defaults>(path);
        KLSettings::setupDefaults(*running);
        watch = std::make_unique<KLSettingsWatch>(*running);
    }
    void TearDown() override
    {
        watch.reset();
        running.reset();
    }
    // Another process: its own store on the same file.
    std::unique_ptr<Defaults> other()
    {
        auto store = std::make_unique<Defaults>(path);
        KLSettings::setupDefaults(*store);
        return store;
    }
    bool waitForChange(QSignalSpy &spy, const QString &key)
    {
        return KelsoTest::waitFor([&] {
            for (const QList<QVariant> &call : spy)
                if (call.at(0).toString() == key)
                    return true;
            return false;
        });
    }

    QString folder, path;
    std::unique_ptr<Defaults> running;
    std::unique_ptr<KLSettingsWatch> watch;
};

TEST_F(SettingsWatch, AnotherProcessesChangeReachesTheObserversAndSurvivesTheNextWrite)
{
    QSignalSpy changed(running.get(), &Defaults::changed);
    {
        auto tool = other();
        tool->setValue("unwantedItems", QStringList{"/home/someone/secret.txt"});
        ASSERT_TRUE(tool->synchronize());
    }
    ASSERT_TRUE(waitForChange(changed, "unwantedItems")) << "the running store never saw the change";
    EXPECT_EQ(running->stringArrayForKey("unwantedItems"), QStringList{"/home/someone/secret.txt"});

    // The running program writes a key of its own: the other process's change stays.
    running->setBool("KLFadeIn", true);
    ASSERT_TRUE(running->synchronize());
    auto reader = other();
    EXPECT_EQ(reader->stringArrayForKey("unwantedItems"), QStringList{"/home/someone/secret.txt"});
    EXPECT_TRUE(reader->boolForKey("KLFadeIn"));
}

TEST_F(SettingsWatch, AHandEditWrittenInPlaceIsSeenToo)
{
    QSignalSpy changed(running.get(), &Defaults::changed);
    // An editor that rewrites the file where it is (no rename): the same inode, new content.
    QVariantMap content = Plist::fromData([&] {
                              QFile f(path);
                              EXPECT_TRUE(f.open(QIODevice::ReadOnly));
                              return f.readAll();
                          }())
                              .toMap();
    content.insert("KPUseCommas", false);
    const QByteArray bytes = Plist::toBinary(content);
    ASSERT_FALSE(bytes.isEmpty());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    }
    ASSERT_TRUE(waitForChange(changed, "KPUseCommas"));
    EXPECT_FALSE(running->boolForKey("KPUseCommas"));
}

TEST_F(SettingsWatch, ChangesKeepComingAfterTheFileWasReplacedSeveralTimes)
{
    QSignalSpy changed(running.get(), &Defaults::changed);
    auto tool = other();
    for (int i = 1; i <= 3; ++i) {
        tool->setInteger("KPDropZoneY", 100 * i);
        ASSERT_TRUE(tool->synchronize());
        ASSERT_TRUE(KelsoTest::waitFor([&] { return running->integerForKey("KPDropZoneY") == 100 * i; }))
            << "change " << i << " was not seen";
    }
    EXPECT_GE(changed.count(), 3);
}

TEST(SettingsWatchFirstStart, AFolderMadeAfterTheStartIsWatchedToo)
{
    // The first start: neither the settings file nor its folder exists yet.
    const QString folder = KelsoTest::home() + QStringLiteral("/first-start/config/deeper");
    QDir(KelsoTest::home() + QStringLiteral("/first-start")).removeRecursively();
    const QString path = folder + QStringLiteral("/com.tallow.kelso.plist");
    Defaults running(path);
    KLSettings::setupDefaults(running);
    KLSettingsWatch watch(running);

    // Another process makes the folder and the file; later it changes the file again.
    Defaults tool(path);
    tool.setBool("KLFadeIn", true);
    ASSERT_TRUE(tool.synchronize());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return running.boolForKey("KLFadeIn"); }))
        << "the file made after the start was not seen";
    tool.setBool("KLFadeIn", false);
    ASSERT_TRUE(tool.synchronize());
    EXPECT_TRUE(KelsoTest::waitFor([&] { return !running.boolForKey("KLFadeIn"); })) << "a later change was not seen";
}

TEST_F(SettingsWatch, TheProgramsOwnWritesCauseNoChangeNotices)
{
    QSignalSpy looked(watch.get(), &KLSettingsWatch::looked);
    running->setBool("KLFadeIn", true);
    QSignalSpy changed(running.get(), &Defaults::changed);
    ASSERT_TRUE(running->synchronize());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return looked.count() > 0; })) << "the write was not noticed at all";
    watch->waitForLook();
    QCoreApplication::processEvents();
    EXPECT_EQ(changed.count(), 0) << "reading back its own write announced changes";
}

TEST_F(SettingsWatch, ObserversOnTheEventLoopsThreadAreCalledThere)
{
    QThread *observedOn = nullptr;
    QObject observer;
    QObject::connect(running.get(), &Defaults::changed, &observer, [&](const QString &key) {
        if (key == QLatin1String("KLAlwaysCopyOnDrag"))
            observedOn = QThread::currentThread();
    });
    auto tool = other();
    tool->setBool("KLAlwaysCopyOnDrag", false);
    ASSERT_TRUE(tool->synchronize());
    ASSERT_TRUE(KelsoTest::waitFor([&] { return observedOn != nullptr; }));
    EXPECT_EQ(observedOn, QThread::currentThread());
}

} // namespace
