// The Cooler's list rules, its store file and the `kelso cooler` tool working on the store.
#include "cooler/KLCoolerCommand.h"
#include "cooler/KLCoolerStore.h"
#include "cooler/KLItemListOps.h"
#include "platform/Plist.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

namespace {

QString home()
{
    return KelsoTest::home();
}

QList<KLItemPtr> makeItems(const QString &folder, int n)
{
    QList<KLItemPtr> out;
    for (int i = 0; i < n; ++i) {
        const QString p = QStringLiteral("%1/%2/file%3.txt").arg(home(), folder).arg(i);
        KelsoTest::writeFile(p);
        out.append(KLItem::create(p));
    }
    return out;
}

QStringList pathsOf(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const auto &i : items)
        out.append(i->lastKnownPath());
    return out;
}

QStringList names(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const auto &i : items)
        out.append(i->lastKnownPath().section(QLatin1Char('/'), -1));
    return out;
}

class CoolerStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Never reach a Kelso that may run on the developer's session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
    }
};

TEST_F(CoolerStoreTest, InsertionMovesAnExistingItemAndCapsTheList)
{
    QList<KLItemPtr> list = makeItems(QStringLiteral("ins"), 7);
    const QList<KLItemPtr> original = list;
    // Already at 3, added at 5: ends at 4.
    EXPECT_TRUE(KLItemListOps::addItem(list, KLItem::create(original[3]->lastKnownPath()), 5));
    EXPECT_EQ(KLItemListOps::indexOfItem(list, original[3]), 4);
    EXPECT_EQ(list.size(), 7);
    // At 4, added at 5 again: unchanged (removing it first leaves the same place).
    const QList<KLItemPtr> before = list;
    EXPECT_FALSE(KLItemListOps::addItem(list, original[3], 5));
    EXPECT_FALSE(KLItemListOps::addItem(list, original[3], 4));
    EXPECT_EQ(pathsOf(list), pathsOf(before));
    // Moving towards the front.
    EXPECT_TRUE(KLItemListOps::addItem(list, original[6], 0));
    EXPECT_EQ(list.first(), original[6]);
    EXPECT_EQ(list.size(), 7);
}

TEST_F(CoolerStoreTest, TheHundredAndFirstItemPushesTheLastOneOut)
{
    QList<KLItemPtr> list = makeItems(QStringLiteral("cap"), 100);
    const KLItemPtr last = list.last();
    const KLItemPtr extra = makeItems(QStringLiteral("cap-extra"), 1).first();
    EXPECT_TRUE(KLItemListOps::addItem(list, extra, 0));
    EXPECT_EQ(list.size(), 100);
    EXPECT_EQ(list.first(), extra);
    EXPECT_EQ(KLItemListOps::indexOfItem(list, last), -1);
    // An index past the end appends (and still caps).
    const KLItemPtr another = makeItems(QStringLiteral("cap-extra2"), 1).first();
    KLItemListOps::addItem(list, another, 1000);
    EXPECT_EQ(list.size(), 100);
    EXPECT_EQ(KLItemListOps::indexOfItem(list, another), -1) << "appended then pushed out as the 101st";
}

TEST_F(CoolerStoreTest, ReorderingKeepsTheMovedItemsInTheirOrder)
{
    QList<KLItemPtr> list = makeItems(QStringLiteral("move"), 5);
    KLItemListOps::moveItems(list, {0, 2}, 4);
    EXPECT_EQ(names(list), (QStringList{"file1.txt", "file3.txt", "file0.txt", "file2.txt", "file4.txt"}));

    QList<KLItemPtr> list2 = makeItems(QStringLiteral("move"), 5);
    KLItemListOps::moveItems(list2, {3, 4}, 0);
    EXPECT_EQ(names(list2), (QStringList{"file3.txt", "file4.txt", "file0.txt", "file1.txt", "file2.txt"}));
    // To the very end, and indexes outside the list are ignored.
    QList<KLItemPtr> list3 = makeItems(QStringLiteral("move"), 5);
    KLItemListOps::moveItems(list3, {1, 9, -1}, 5);
    EXPECT_EQ(names(list3), (QStringList{"file0.txt", "file2.txt", "file3.txt", "file4.txt", "file1.txt"}));
}

TEST_F(CoolerStoreTest, DuplicateDisplayNamesGetPartialPaths)
{
    const QString a = home() + QStringLiteral("/dupA/report.pdf");
    const QString b = home() + QStringLiteral("/dupB/report.pdf");
    const QString c = home() + QStringLiteral("/dupB/other.pdf");
    for (const QString &p : {a, b, c})
        KelsoTest::writeFile(p);
    QList<KLItemPtr> list = {KLItem::create(a), KLItem::create(b), KLItem::create(c)};
    EXPECT_EQ(KLItemListOps::duplicateDisplayNames(list), QSet<QString>{QStringLiteral("report.pdf")});
    EXPECT_TRUE(KLItemListOps::applyDuplicateDisplayNames(list));
    EXPECT_TRUE(list[0]->usePartialPathForTitle());
    EXPECT_TRUE(list[1]->usePartialPathForTitle());
    EXPECT_FALSE(list[2]->usePartialPathForTitle());
    EXPECT_TRUE(list[0]->imageTitle().startsWith(QStringLiteral("dupA/")));
    list.removeAt(1);
    EXPECT_TRUE(KLItemListOps::applyDuplicateDisplayNames(list));
    EXPECT_FALSE(list[0]->usePartialPathForTitle());
    EXPECT_EQ(list[0]->imageTitle(), QStringLiteral("report.pdf"));
}

TEST_F(CoolerStoreTest, StoreKeepsOrderAcrossWriteAndRead)
{
    const QString store = home() + QStringLiteral("/store1/coolerItems.plist");
    const QList<KLItemPtr> items = makeItems(QStringLiteral("order"), 6);
    QList<KLItemPtr> shuffled = {items[4], items[1], items[5], items[0], items[3], items[2]};
    ASSERT_TRUE(KLCoolerStore::write(store, shuffled));
    KLCoolerStore::ReadStatus status;
    const QList<KLItemPtr> back = KLCoolerStore::read(store, &status);
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Read);
    EXPECT_EQ(pathsOf(back), pathsOf(shuffled));
    // The file carries its version and is a binary plist.
    QFile f(store);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    EXPECT_TRUE(Plist::isBinary(data));
    EXPECT_EQ(Plist::fromData(data).toMap().value(QStringLiteral("version")).toInt(), KLCoolerStore::kVersion);
    // No temporary files are left beside it.
    EXPECT_EQ(QDir(home() + QStringLiteral("/store1")).entryList(QDir::Files).size(), 1);
}

TEST_F(CoolerStoreTest, MissingStoreIsAnEmptyCoolerAndCorruptOnesAreMovedAside)
{
    KLCoolerStore::ReadStatus status;
    EXPECT_TRUE(KLCoolerStore::read(home() + QStringLiteral("/nothing/coolerItems.plist"), &status).isEmpty());
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Missing);

    const QString dir = home() + QStringLiteral("/corrupt");
    const QString store = dir + QStringLiteral("/coolerItems.plist");
    KelsoTest::writeFile(store, QByteArray("bplist00 this is not a property list at all"));
    EXPECT_TRUE(KLCoolerStore::read(store, &status).isEmpty());
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::MovedAside);
    EXPECT_FALSE(QFile::exists(store));
    const QStringList aside = QDir(dir).entryList({QStringLiteral("coolerItems.plist.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(dir + QLatin1Char('/') + aside.first());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("bplist00 this is not a property list at all")) << "the bytes are kept";

    // A well-formed plist of another version is not taken for ours either.
    KelsoTest::writeFile(store, Plist::toBinary(QVariantMap{{QStringLiteral("version"), 99},
                                                            {QStringLiteral("items"), QVariantList{}}}));
    EXPECT_TRUE(KLCoolerStore::read(store, &status).isEmpty());
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::MovedAside);
    // Both rescued copies are kept, even when they were made within the same second.
    EXPECT_EQ(QDir(dir).entryList({QStringLiteral("coolerItems.plist.corrupt-*")}, QDir::Files).size(), 2);
}

// At start-up the store is read on another thread while the window is made; the read that
// follows takes that result, for its own path only, and once.
TEST_F(CoolerStoreTest, ReadAheadIsTakenByTheNextReadOfThatStoreOnly)
{
    const QString store = home() + QStringLiteral("/ahead/coolerItems.plist");
    const QString other = home() + QStringLiteral("/ahead-other/coolerItems.plist");
    const QList<KLItemPtr> items = makeItems(QStringLiteral("ahead"), 5);
    ASSERT_TRUE(KLCoolerStore::write(store, items));
    ASSERT_TRUE(KLCoolerStore::write(other, {items[0]}));

    KLCoolerStore::readAhead(store);
    EXPECT_EQ(pathsOf(KLCoolerStore::read(other)), pathsOf({items[0]})) << "another store is read directly";
    KLCoolerStore::ReadStatus status = KLCoolerStore::ReadStatus::Missing;
    EXPECT_EQ(pathsOf(KLCoolerStore::read(store, &status)), pathsOf(items));
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Read);
    // Taken once: later reads see the file as it is now.
    ASSERT_TRUE(KLCoolerStore::write(store, {items[3]}));
    EXPECT_EQ(pathsOf(KLCoolerStore::read(store)), pathsOf({items[3]}));

    // A corrupt store read ahead is moved aside there, and the reader learns why.
    const QString bad = home() + QStringLiteral("/ahead-bad/coolerItems.plist");
    KelsoTest::writeFile(bad, QByteArray("not a plist"));
    KLCoolerStore::readAhead(bad);
    QString why;
    EXPECT_TRUE(KLCoolerStore::read(bad, &status, &why).isEmpty());
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::MovedAside);
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(QFile::exists(bad));
}

// Deactivations write on a background thread, quitting writes at once: whatever the threads
// do, the store ends with the list asked for last.
TEST_F(CoolerStoreTest, BackgroundWritesNeverPutAnOlderListOverANewerOne)
{
    const QString store = home() + QStringLiteral("/order-bg/coolerItems.plist");
    const QList<KLItemPtr> items = makeItems(QStringLiteral("order-bg"), 40);
    for (int round = 0; round < 20; ++round) {
        QList<KLItemPtr> older = items.mid(0, 30);
        QList<KLItemPtr> newer = items.mid(round % 10, 5);
        KLCoolerStore::writeInBackground(store, older);
        KLCoolerStore::writeInBackground(store, items.mid(10, 20));
        if (round % 2 == 0)
            ASSERT_TRUE(KLCoolerStore::write(store, newer)); // the quit's write, while others queue
        else
            KLCoolerStore::writeInBackground(store, newer);
        ASSERT_TRUE(KLCoolerStore::waitForBackgroundWork(10000));
        EXPECT_EQ(pathsOf(KLCoolerStore::read(store)), pathsOf(newer)) << "round " << round;
    }
}

TEST_F(CoolerStoreTest, ReadingSkipsBadEntriesAndDuplicates)
{
    const QString store = home() + QStringLiteral("/mixed/coolerItems.plist");
    const QList<KLItemPtr> items = makeItems(QStringLiteral("mixed-files"), 2);
    QVariantList archives = {items[0]->archive(), QStringLiteral("not an item"), QVariantMap{}, items[1]->archive(),
                             items[0]->archive()};
    KelsoTest::writeFile(
        store, Plist::toBinary(QVariantMap{{QStringLiteral("version"), 1}, {QStringLiteral("items"), archives}}));
    KLCoolerStore::ReadStatus status;
    const QList<KLItemPtr> back = KLCoolerStore::read(store, &status);
    EXPECT_EQ(status, KLCoolerStore::ReadStatus::Read);
    EXPECT_EQ(pathsOf(back), pathsOf(items));
}

TEST_F(CoolerStoreTest, ToolAddsToTheFrontListsAndRemovesOnTheStore)
{
    const QList<KLItemPtr> files = makeItems(QStringLiteral("tool"), 3);
    const QStringList p = pathsOf(files);
    ASSERT_EQ(runCoolerCommand({QStringLiteral("add"), p[2]}), 0);
    ASSERT_EQ(runCoolerCommand({QStringLiteral("add"), p[0], p[1]}), 0);
    EXPECT_EQ(pathsOf(KLCoolerStore::read(KLCoolerStore::pathForStateFile())), (QStringList{p[0], p[1], p[2]}));

    // A missing file is reported, the others are still added; exit status 1.
    const QString missing = home() + QStringLiteral("/tool/no-such-file.txt");
    const QString extra = makeItems(QStringLiteral("tool-extra"), 1).first()->lastKnownPath();
    EXPECT_EQ(runCoolerCommand({QStringLiteral("add"), missing, extra}), 1);
    EXPECT_EQ(pathsOf(KLCoolerStore::read(KLCoolerStore::pathForStateFile())), (QStringList{extra, p[0], p[1], p[2]}));

    // Removing: unknown paths are reported, known ones removed; the files stay.
    EXPECT_EQ(runCoolerCommand({QStringLiteral("remove"), p[1], missing}), 1);
    EXPECT_EQ(pathsOf(KLCoolerStore::read(KLCoolerStore::pathForStateFile())), (QStringList{extra, p[0], p[2]}));
    EXPECT_TRUE(QFile::exists(p[1]));

    EXPECT_EQ(runCoolerCommand({QStringLiteral("frobnicate")}), 2);
    EXPECT_EQ(runCoolerCommand({QStringLiteral("add")}), 2);
    EXPECT_EQ(runCoolerCommand({QStringLiteral("--json")}), 0);
}

TEST_F(CoolerStoreTest, JsonCarriesPathTitleSubtitleAndUnixTime)
{
    const QList<KLItemPtr> items = makeItems(QStringLiteral("json"), 2);
    for (const auto &i : items)
        i->calculateCache();
    const QJsonArray array = QJsonDocument::fromJson(KLCoolerStore::toJson(items)).array();
    ASSERT_EQ(array.size(), 2);
    const QJsonObject o = array.at(0).toObject();
    EXPECT_EQ(o.value(QStringLiteral("path")).toString(), items[0]->lastKnownPath());
    EXPECT_EQ(o.value(QStringLiteral("title")).toString(), QStringLiteral("file0.txt"));
    EXPECT_FALSE(o.value(QStringLiteral("subtitle")).toString().isEmpty());
    // Written just now: the Unix time is within a day of the clock.
    const double t = o.value(QStringLiteral("time")).toDouble();
    EXPECT_NEAR(t, double(QDateTime::currentSecsSinceEpoch()), 86400.0);
    EXPECT_FALSE(o.contains(QStringLiteral("stack")));
}

} // namespace
