// Limits of the property-list reader (depth, values after expansion, bytes, loops) and the file
// reader in front of it (regular files only, never blocking, never reading without end).
#include "platform/Plist.h"
#include "platform/PlistFile.h"
#include "support/HostileFiles.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace HostileFiles;

namespace {

QVariant nested(int levels)
{
    QVariant v = qint64(1);
    for (int i = 1; i < levels; ++i)
        v = QVariantList{v};
    return v;
}

int depthOf(const QVariant &v)
{
    int depth = 1;
    for (QVariant cur = v; cur.typeId() == QMetaType::QVariantList && !cur.toList().isEmpty();
         cur = cur.toList().first())
        ++depth;
    return depth;
}

QString folder()
{
    static int counter = 0;
    const QString f = KelsoTest::home() + QStringLiteral("/plist-limits-%1").arg(++counter);
    QDir().mkpath(f);
    return f;
}

} // namespace

TEST(PlistLimitsTest, HundredThousandLevelsAreRefusedInBothFormats)
{
    for (const QByteArray &bytes : {deepBinary(100000), deepXml(100000)}) {
        QString error;
        const QVariant v = Plist::fromData(bytes, &error);
        EXPECT_FALSE(v.isValid());
        EXPECT_TRUE(error.contains("deeper than 512")) << qPrintable(error);
    }
}

TEST(PlistLimitsTest, DepthBoundaryIsTheSameForBinaryXmlAndTheWriter)
{
    // What Kelso writes at the limit, it reads back whole.
    QString error;
    const QByteArray written = Plist::toBinary(nested(512), &error);
    ASSERT_FALSE(written.isEmpty()) << qPrintable(error);
    EXPECT_EQ(depthOf(Plist::fromData(written, &error)), 512) << qPrintable(error);
    EXPECT_TRUE(Plist::toBinary(nested(513), &error).isEmpty());
    EXPECT_TRUE(error.contains("deeper than 512")) << qPrintable(error);

    for (const auto &make : {&deepBinary, &deepXml}) {
        error.clear();
        EXPECT_EQ(depthOf(Plist::fromData(make(512), &error)), 512) << qPrintable(error);
        error.clear();
        EXPECT_FALSE(Plist::fromData(make(513), &error).isValid());
        EXPECT_TRUE(error.contains("deeper than 512")) << qPrintable(error);
    }
}

TEST(PlistLimitsTest, SharedObjectsThatExpandPastTheLimitAreRefused)
{
    // 19 levels expand to 1,048,575 values: just past the limit. 18 levels (524,287) are fine.
    QString error;
    EXPECT_FALSE(Plist::fromData(sharedBinary(19), &error).isValid());
    EXPECT_TRUE(error.contains("more than 1000000 values")) << qPrintable(error);
    error.clear();
    const QVariant within = Plist::fromData(sharedBinary(18), &error);
    ASSERT_TRUE(within.isValid()) << qPrintable(error);
    EXPECT_EQ(within.toList().size(), 2);
    // 40 levels would be a trillion values: refused as fast as the others.
    EXPECT_FALSE(Plist::fromData(sharedBinary(40), &error).isValid());

    // Equal strings are shared by the writer; a long list of them still reads.
    const QVariantList same(50000, QStringLiteral("same text"));
    const QByteArray bytes = Plist::toBinary(same);
    EXPECT_EQ(Plist::fromData(bytes, &error).toList(), same) << qPrintable(error);
}

TEST(PlistLimitsTest, ObjectsThatContainThemselvesAreRefused)
{
    QString error;
    EXPECT_FALSE(Plist::fromData(loopingBinary(), &error).isValid());
    EXPECT_TRUE(error.contains("contains itself")) << qPrintable(error);
}

TEST(PlistLimitsTest, WideButShallowListsAndXmlExtrasStillRead)
{
    QVariantList wide;
    for (int i = 0; i < 100000; ++i)
        wide.append(qint64(i));
    QString error;
    EXPECT_EQ(Plist::fromData(Plist::toBinary(wide), &error).toList().size(), 100000) << qPrintable(error);

    // Tags inside comments and a document type declaration are not nesting.
    const QByteArray xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist [ <!ENTITY x \"<array>\"> ]>\n"
                           "<plist version=\"1.0\"><!-- " +
                           QByteArray("<array>").repeated(600) +
                           " --><dict><key>a</key><string>b</string><key>e</key><array/></dict></plist>";
    const QVariant v = Plist::fromData(xml, &error);
    ASSERT_TRUE(v.isValid()) << qPrintable(error);
    EXPECT_EQ(v.toMap().value("a").toString(), QString("b"));
}

TEST(PlistFileTest, SpecialFilesAreBadWithoutBeingOpened)
{
    const QString dir = folder();
    const QString fifo = dir + "/fifo.plist";
    makeFifo(fifo);
    PlistFile::Parsed r = PlistFile::read(fifo); // a FIFO without a writer: opening it would wait
    EXPECT_EQ(r.status, PlistFile::Status::Bad);
    EXPECT_TRUE(r.why.contains("FIFO")) << qPrintable(r.why);

    const QString socket = dir + "/socket.plist";
    const int fd = makeSocket(socket);
    r = PlistFile::read(socket);
    EXPECT_EQ(r.status, PlistFile::Status::Bad);
    EXPECT_TRUE(r.why.contains("socket")) << qPrintable(r.why);
    ::close(fd);

    const QString device = dir + "/device.plist";
    makeDeviceLink(device); // /dev/zero: reading it never ends
    r = PlistFile::read(device);
    EXPECT_EQ(r.status, PlistFile::Status::Bad);
    EXPECT_TRUE(r.why.contains("device")) << qPrintable(r.why);
}

TEST(PlistFileTest, SizeEmptinessFoldersAndAbsence)
{
    const QString dir = folder();
    const QString big = dir + "/big.plist";
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(Plist::kMaxBytes + 1)); // sparse: costs no disk
    }
    PlistFile::Parsed r = PlistFile::read(big);
    EXPECT_EQ(r.status, PlistFile::Status::Bad);
    EXPECT_TRUE(r.why.contains("larger than")) << qPrintable(r.why);
    // The caller's own limit applies to the bytes, whatever the file claims.
    KelsoTest::writeFile(big, QByteArray(100, 'x'));
    EXPECT_EQ(PlistFile::readBytes(big, 99).status, PlistFile::Status::Bad);
    EXPECT_EQ(PlistFile::readBytes(big, 100).bytes, QByteArray(100, 'x'));

    const QString empty = dir + "/empty.plist";
    KelsoTest::writeFile(empty, QByteArray());
    EXPECT_EQ(PlistFile::readBytes(empty).status, PlistFile::Status::Read);
    r = PlistFile::read(empty);
    EXPECT_EQ(r.status, PlistFile::Status::Bad);
    EXPECT_EQ(r.why, QString("empty file"));

    const QString sub = dir + "/folder.plist";
    QDir().mkpath(sub);
    EXPECT_EQ(PlistFile::read(sub).status, PlistFile::Status::Unreadable);
    EXPECT_EQ(PlistFile::read(dir + "/none.plist").status, PlistFile::Status::Missing);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dir + "/dangling.plist").constData()), 0);
    EXPECT_EQ(PlistFile::read(dir + "/dangling.plist").status, PlistFile::Status::Missing);

    // A good file through a symbolic link reads.
    KelsoTest::writeFile(dir + "/real.plist", Plist::toBinary(QVariantMap{{"k", 1}}));
    ASSERT_EQ(::symlink("real.plist", QFile::encodeName(dir + "/link.plist").constData()), 0);
    r = PlistFile::read(dir + "/link.plist");
    EXPECT_EQ(r.status, PlistFile::Status::Read);
    EXPECT_EQ(r.value.toMap().value("k").toInt(), 1);
}

TEST(PlistFileTest, MovingAsideNeverReplacesAnEarlierCopy)
{
    const QString dir = folder();
    const QString path = dir + "/store.plist";
    QStringList asides;
    for (int i = 0; i < 3; ++i) {
        KelsoTest::writeFile(path, QByteArray("bad ") + QByteArray::number(i));
        QString error;
        const QString aside = PlistFile::moveAside(path, &error);
        ASSERT_FALSE(aside.isEmpty()) << qPrintable(error);
        EXPECT_TRUE(aside.startsWith(path + ".corrupt-")) << qPrintable(aside);
        asides.append(aside);
    }
    EXPECT_FALSE(QFile::exists(path));
    for (int i = 0; i < 3; ++i) {
        QFile f(asides[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("bad ") + QByteArray::number(i));
    }
    QString error;
    EXPECT_TRUE(PlistFile::moveAside(dir + "/none.plist", &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}
