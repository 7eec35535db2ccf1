// The event journal (ids across restarts, torn tails, damaged files, the cap), the record
// value, and the folder rules shared by the backends.
#include "platform/fsevents/DirWalk.h"
#include "platform/fsevents/EventJournal.h"
#include "recent/FileSystemEventStream.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using KLFSEvents::crc32Of;
using KLFSEvents::EventJournal;
using KLFSEvents::JournalRecord;

namespace {

QString freshFolder(const QString &name)
{
    const QString dir = KelsoTest::home() + QStringLiteral("/.journals/") + name;
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    return dir;
}

std::vector<JournalRecord> recs(std::initializer_list<const char *> paths)
{
    std::vector<JournalRecord> out;
    for (const char *p : paths)
        out.push_back({0, 0x100, 1.0e9, QByteArray(p)});
    return out;
}

QStringList corruptFiles(const QString &folder)
{
    return QDir(folder).entryList({QStringLiteral("*.corrupt-*")}, QDir::Files);
}

} // namespace

TEST(FsEventsJournal, IdsGrowAndSurviveReopen)
{
    const QString dir = freshFolder(QStringLiteral("reopen"));
    quint64 last = 0;
    {
        EventJournal j(dir);
        ASSERT_TRUE(j.open());
        EXPECT_EQ(j.currentId(), 0u);
        EXPECT_EQ(j.previousRunEnd(), 0.0) << "no previous run to catch up with";
        auto r = recs({"/a", "/b", "/c"});
        j.append(r);
        EXPECT_EQ(r[0].id, 1u);
        EXPECT_EQ(r[2].id, 3u);
        j.skip(1001);
        EXPECT_EQ(j.currentId(), 1004u);
        auto r2 = recs({"/d"});
        j.append(r2);
        last = r2[0].id;
        EXPECT_EQ(last, 1005u);
        j.writeStopMark(4.0e9); // later than every other entry
    }
    EventJournal again(dir);
    ASSERT_TRUE(again.open());
    EXPECT_EQ(again.currentId(), last);
    EXPECT_DOUBLE_EQ(again.previousRunEnd(), 4.0e9) << "the newest entry ends the run";
    EXPECT_TRUE(again.corruptMovedTo().isEmpty());

    const auto after = again.recordsAfter(2);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[0].path, QByteArray("/c"));
    EXPECT_EQ(after[0].id, 3u);
    EXPECT_EQ(after[0].flags, 0x100u);
    EXPECT_EQ(after[1].path, QByteArray("/d"));
    EXPECT_TRUE(again.recordsAfter(last).empty());

    // Paths are kept as raw bytes, also ones that are not UTF-8.
    std::vector<JournalRecord> raw{{0, 1, 2.0, QByteArray("/x/\xff\xfe")}};
    again.append(raw);
    const auto back = again.recordsAfter(last);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].path, QByteArray("/x/\xff\xfe"));
}

TEST(FsEventsJournal, TornTailIsCutNotTreatedAsDamage)
{
    const QString dir = freshFolder(QStringLiteral("torn"));
    QString path;
    {
        EventJournal j(dir);
        ASSERT_TRUE(j.open());
        auto r = recs({"/one", "/two"});
        j.append(r);
        path = j.path();
    }
    // A crash in the middle of an append: a length word promising more than was written.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        const char partial[] = {char(200), 0, 0, 0, 1, 2, 3};
        f.write(partial, sizeof partial);
    }
    const qint64 tornSize = QFileInfo(path).size();
    EventJournal j(dir);
    ASSERT_TRUE(j.open());
    EXPECT_TRUE(j.corruptMovedTo().isEmpty());
    EXPECT_EQ(j.currentId(), 2u);
    EXPECT_LT(QFileInfo(path).size(), tornSize) << "the torn tail is cut off";
    auto r = recs({"/three"});
    j.append(r);
    EXPECT_EQ(r[0].id, 3u);
    const auto all = j.recordsAfter(0);
    ASSERT_EQ(all.size(), 3u) << "an append after the cut is readable";
    EXPECT_EQ(all[2].path, QByteArray("/three"));
}

TEST(FsEventsJournal, DamagedJournalMovedAsideIdsKeepGrowing)
{
    const QString dir = freshFolder(QStringLiteral("damaged"));
    QString path;
    {
        EventJournal j(dir);
        ASSERT_TRUE(j.open());
        auto r = recs({"/first", "/second", "/third"});
        j.append(r);
        path = j.path();
    }
    // Flip a byte inside the third record's path: its checksum no longer matches.
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray data = f.readAll();
        const qsizetype at = data.lastIndexOf("/third");
        ASSERT_GT(at, 0);
        data[at + 2] = 'X';
        f.seek(0);
        f.write(data);
    }
    EventJournal j(dir);
    EXPECT_TRUE(j.open());
    ASSERT_FALSE(j.corruptMovedTo().isEmpty());
    EXPECT_TRUE(QFile::exists(j.corruptMovedTo()));
    EXPECT_EQ(corruptFiles(dir).size(), 1);
    EXPECT_EQ(j.previousRunEnd(), 0.0) << "no catch-up against a journal that cannot be trusted";
    EXPECT_EQ(j.currentId(), 2u) << "ids continue above the part that could still be read";
    EXPECT_TRUE(j.recordsAfter(0).empty());
    auto r = recs({"/fresh"});
    j.append(r);
    EXPECT_EQ(r[0].id, 3u);

    // The fresh journal is sound and keeps that counter.
    EventJournal reopened(dir);
    ASSERT_TRUE(reopened.open());
    EXPECT_TRUE(reopened.corruptMovedTo().isEmpty());
    EXPECT_EQ(reopened.currentId(), 3u);
}

TEST(FsEventsJournal, ADamagedJournalNeverReplacesAnEarlierRescuedCopy)
{
    const QString dir = freshFolder(QStringLiteral("rescued-twice"));
    const QString path = dir + QStringLiteral("/fsevents.journal");
    // Two damaged journals within the same second: each rescued copy keeps its own bytes.
    const QByteArray first("first damaged journal"), second("second damaged journal");
    KelsoTest::writeFile(path, first);
    EventJournal a(dir);
    EXPECT_TRUE(a.open());
    KelsoTest::writeFile(path, second);
    EventJournal b(dir);
    EXPECT_TRUE(b.open());
    ASSERT_FALSE(a.corruptMovedTo().isEmpty());
    ASSERT_FALSE(b.corruptMovedTo().isEmpty());
    EXPECT_NE(a.corruptMovedTo(), b.corruptMovedTo());
    EXPECT_EQ(corruptFiles(dir).size(), 2);
    QFile fa(a.corruptMovedTo()), fb(b.corruptMovedTo());
    ASSERT_TRUE(fa.open(QIODevice::ReadOnly));
    ASSERT_TRUE(fb.open(QIODevice::ReadOnly));
    EXPECT_EQ(fa.readAll(), first);
    EXPECT_EQ(fb.readAll(), second);
}

TEST(FsEventsJournal, GarbageFileStartsFresh)
{
    const QString dir = freshFolder(QStringLiteral("garbage"));
    KelsoTest::writeFile(dir + QStringLiteral("/fsevents.journal"), QByteArray("this is not a journal at all"));
    EventJournal j(dir);
    EXPECT_TRUE(j.open());
    EXPECT_FALSE(j.corruptMovedTo().isEmpty());
    EXPECT_EQ(j.currentId(), 0u);
    auto r = recs({"/a"});
    j.append(r);
    EXPECT_EQ(r[0].id, 1u);
    EXPECT_EQ(j.recordsAfter(0).size(), 1u);
}

TEST(FsEventsJournal, CapKeepsNewestHalfAndIds)
{
    const QString dir = freshFolder(QStringLiteral("cap"));
    EventJournal j(dir);
    ASSERT_TRUE(j.open());
    j.setMaxRecords(10);
    for (int i = 0; i < 25; ++i) {
        std::vector<JournalRecord> r{{0, 0, 1.0, QByteArray("/p") + QByteArray::number(i)}};
        j.append(r);
        EXPECT_EQ(r[0].id, quint64(i + 1));
    }
    EXPECT_LE(j.recordCount(), 10);
    const auto all = j.recordsAfter(0);
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all.back().path, QByteArray("/p24"));
    EXPECT_EQ(all.back().id, 25u);
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_EQ(all[i].id, all[i - 1].id + 1) << "the kept records are the newest, in order";
    EventJournal again(dir);
    ASSERT_TRUE(again.open());
    EXPECT_EQ(again.currentId(), 25u);
}

TEST(FsEventsRecord, DictionaryAndText)
{
    const FileSystemEvent ev(18446744073709551600ull, QStringLiteral("/home/u/Documents"), 0x40000100u);
    const QVariantMap d = ev.asDict();
    EXPECT_EQ(d.value(QStringLiteral("evId")).toULongLong(), 18446744073709551600ull);
    EXPECT_EQ(d.value(QStringLiteral("evPath")).toString(), QStringLiteral("/home/u/Documents"));
    EXPECT_EQ(d.value(QStringLiteral("evFlag")).toUInt(), 0x40000100u);
    EXPECT_EQ(FileSystemEvent(d), ev);
    EXPECT_EQ(FileSystemEvent(QVariantMap()), FileSystemEvent());
    EXPECT_EQ(FileSystemEvent(7, QStringLiteral("/x"), 256).description(),
              QStringLiteral("FS Event- evID= 7, evPath= /x, evFlag= 256"));
}

TEST(FsEventsRules, WatchedPaths)
{
    using KLFSEvents::isWatchedPath;
    EXPECT_TRUE(isWatchedPath("/home/u", "/home/u"));
    EXPECT_TRUE(isWatchedPath("/home/u/Documents/a", "/home/u"));
    EXPECT_FALSE(isWatchedPath("/home/u/.cache", "/home/u"));
    EXPECT_FALSE(isWatchedPath("/home/u/a/.git/objects", "/home/u"));
    EXPECT_FALSE(isWatchedPath("/home/user2", "/home/u")) << "a sibling sharing the prefix";
    EXPECT_TRUE(isWatchedPath("/home/u/.config/x", "/home/u/.config")) << "a hidden root is taken as given";
    EXPECT_TRUE(isWatchedPath("/home/u/a.b/.c", "/home/u/a.b/.c"));
    // Under "/": system roots are not descended, /home, /root, /media and /mnt are.
    EXPECT_FALSE(isWatchedPath("/usr/share", "/"));
    EXPECT_FALSE(isWatchedPath("/proc/1", "/"));
    EXPECT_FALSE(isWatchedPath("/var/tmp/x", "/"));
    EXPECT_TRUE(isWatchedPath("/home/u", "/"));
    EXPECT_TRUE(isWatchedPath("/media/u/stick", "/"));
    EXPECT_TRUE(isWatchedPath("/mnt/disk", "/"));
    EXPECT_TRUE(isWatchedPath("/root/x", "/"));
    // A root inside a system root is watched as given (the test homes live in such places).
    EXPECT_TRUE(isWatchedPath("/var/tmp/home/a", "/var/tmp/home"));
    EXPECT_TRUE(KLFSEvents::isSystemRoot("/usr"));
    EXPECT_FALSE(KLFSEvents::isSystemRoot("/usr/local"));
    EXPECT_FALSE(KLFSEvents::isSystemRoot("/home"));
}

// The checksum is zlib's CRC-32, computed eight bytes a step: it must agree with the
// byte-at-a-time definition for every length and alignment, or existing journals would read
// as corrupt.
TEST(EventJournalChecksum, AgreesWithTheBytewiseDefinitionAtEveryLengthAndAlignment)
{
    EXPECT_EQ(crc32Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32Of("", 0), 0u);
    auto bytewise = [](const char *data, size_t len) {
        quint32 crc = 0xFFFFFFFFu;
        for (size_t i = 0; i < len; ++i) {
            crc ^= quint8(data[i]);
            for (int k = 0; k < 8; ++k)
                crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
        return crc ^ 0xFFFFFFFFu;
    };
    QByteArray data(300, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char &c : data) {
        seed = seed * 1103515245u + 12345u;
        c = char(seed >> 16);
    }
    for (int offset = 0; offset < 8; ++offset)
        for (int len = 0; len + offset <= 200; ++len)
            ASSERT_EQ(crc32Of(data.constData() + offset, size_t(len)), bytewise(data.constData() + offset, size_t(len)))
                << "offset " << offset << " length " << len;
}
