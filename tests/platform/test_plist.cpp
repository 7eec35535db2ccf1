// Property lists: value round trips, the 2001 date reference, bad input, and an independent
// reader (Python's plistlib) for what Kelso writes.
#include "platform/Plist.h"
#include "support/TestSupport.h"
#include "util/QtTestPrinters.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <limits>

namespace {

QVariant roundTrip(const QVariant &value)
{
    QString error;
    const QByteArray bytes = Plist::toBinary(value, &error);
    EXPECT_FALSE(bytes.isEmpty()) << qPrintable(error);
    EXPECT_TRUE(Plist::isBinary(bytes));
    QString readError;
    const QVariant back = Plist::fromData(bytes, &readError);
    EXPECT_TRUE(back.isValid()) << qPrintable(readError);
    return back;
}

QDateTime utc(qint64 unixMs)
{
    return QDateTime::fromMSecsSinceEpoch(unixMs, Qt::UTC);
}

constexpr qint64 kRef = 978307200LL * 1000; // 2001-01-01T00:00:00Z in Unix ms

QVariantMap sampleDictionary()
{
    QVariantMap inner{{"list", QVariantList{1, "two", 3.5, false, QVariantList{}, QVariantMap{}}},
                      {"blob", QByteArray("\x00\x01\xff", 3)}};
    return QVariantMap{
        {"string", QString::fromUtf8("Grüße ✓ \"quoted\" <xml> & more")},
        {"empty", QString("")},
        {"negative", qint64(-42)},
        {"big", qint64(std::numeric_limits<qint64>::max())},
        {"min", qint64(std::numeric_limits<qint64>::min())},
        {"allBits", QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max())},
        {"real", 0.1},
        {"yes", true},
        {"no", false},
        {"date", utc(kRef + 86400 * 1000LL + 250)},
        {"data", QByteArray(1000, '\x7f')},
        {"nested", inner},
        {QString::fromUtf8("ключ"), QVariantList{QVariantMap{{"deep", QVariantList{QVariantList{"x"}}}}}},
    };
}

} // namespace

TEST(PlistTest, BinaryOutputStartsWithTheMagic)
{
    const QByteArray bytes = Plist::toBinary(QVariantMap{{"a", 1}});
    ASSERT_GE(bytes.size(), 8);
    EXPECT_EQ(bytes.left(8), QByteArray("bplist00"));
}

TEST(PlistTest, ScalarsRoundTrip)
{
    EXPECT_EQ(roundTrip(QString::fromUtf8("héllo ✓")).toString(), QString::fromUtf8("héllo ✓"));
    EXPECT_EQ(roundTrip(QString("")).toString(), "");
    EXPECT_EQ(roundTrip(qint64(-5)).toLongLong(), -5);
    EXPECT_EQ(roundTrip(qint64(std::numeric_limits<qint64>::min())).toLongLong(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(roundTrip(qint64(std::numeric_limits<qint64>::max())).toLongLong(), std::numeric_limits<qint64>::max());
    EXPECT_EQ(roundTrip(int(7)).toLongLong(), 7);
    EXPECT_EQ(roundTrip(QVariant::fromValue<quint64>(std::numeric_limits<quint64>::max())).toULongLong(),
              std::numeric_limits<quint64>::max());
    EXPECT_DOUBLE_EQ(roundTrip(0.1).toDouble(), 0.1);
    EXPECT_DOUBLE_EQ(roundTrip(-1e300).toDouble(), -1e300);
    EXPECT_EQ(roundTrip(true).typeId(), QMetaType::Bool);
    EXPECT_TRUE(roundTrip(true).toBool());
    EXPECT_FALSE(roundTrip(false).toBool());
    EXPECT_EQ(roundTrip(false).typeId(), QMetaType::Bool) << "false must not come back as the integer 0";
    EXPECT_EQ(roundTrip(QByteArray("\x00\x01\x02", 3)).toByteArray(), QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(roundTrip(QByteArray()).toByteArray(), QByteArray());
}

TEST(PlistTest, DatesAroundThe2001Reference)
{
    for (qint64 offsetMs :
         {0LL, 1LL, -1LL, 500LL, -500LL, 999LL, -1001LL, 86400000LL * 365 * 30 + 123, -86400000LL * 365 * 31 - 7}) {
        const QDateTime in = utc(kRef + offsetMs);
        const QVariant back = roundTrip(in);
        ASSERT_EQ(back.typeId(), QMetaType::QDateTime) << offsetMs;
        EXPECT_EQ(back.toDateTime().toMSecsSinceEpoch(), in.toMSecsSinceEpoch()) << "offset ms " << offsetMs;
    }
    // A local-time date is the same instant after the trip.
    const QDateTime local = QDateTime(QDate(2020, 2, 29), QTime(23, 59, 58, 5), Qt::LocalTime);
    EXPECT_EQ(roundTrip(local).toDateTime().toMSecsSinceEpoch(), local.toMSecsSinceEpoch());
}

TEST(PlistTest, NestedStructuresRoundTrip)
{
    const QVariantMap in = sampleDictionary();
    const QVariantMap out = roundTrip(in).toMap();
    ASSERT_EQ(out.keys(), in.keys());
    EXPECT_EQ(out["string"].toString(), in["string"].toString());
    EXPECT_EQ(out["allBits"].toULongLong(), std::numeric_limits<quint64>::max());
    EXPECT_EQ(out["min"].toLongLong(), std::numeric_limits<qint64>::min());
    EXPECT_EQ(out["date"].toDateTime(), in["date"].toDateTime());
    const QVariantList list = out["nested"].toMap()["list"].toList();
    ASSERT_EQ(list.size(), 6);
    EXPECT_EQ(list[0].toLongLong(), 1);
    EXPECT_EQ(list[1].toString(), "two");
    EXPECT_DOUBLE_EQ(list[2].toDouble(), 3.5);
    EXPECT_EQ(list[3].typeId(), QMetaType::Bool);
    EXPECT_EQ(list[4].typeId(), QMetaType::QVariantList);
    EXPECT_EQ(list[5].typeId(), QMetaType::QVariantMap);
    EXPECT_EQ(out["nested"].toMap()["blob"].toByteArray(), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(out[QString::fromUtf8("ключ")].toList()[0].toMap()["deep"].toList()[0].toList()[0].toString(), "x");
    const QVariantMap fromHash = roundTrip(QVariantHash{{"h", 5}}).toMap();
    EXPECT_EQ(fromHash.value("h").toLongLong(), 5);
    EXPECT_DOUBLE_EQ(roundTrip(1.5f).toDouble(), 1.5);
    const QVariantList strings = roundTrip(QStringList{"a", "b"}).toList();
    EXPECT_EQ(strings, (QVariantList{"a", "b"}));
}

TEST(PlistTest, ValuesWithoutAPlistFormAreRefused)
{
    QString error;
    EXPECT_TRUE(Plist::toBinary(QVariant(QPoint(1, 2)), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_TRUE(Plist::toBinary(QVariantMap{{"ok", 1}, {"bad", QVariant(QPoint())}}, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_TRUE(Plist::toBinary(QVariant(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    // Nesting beyond what the reader accepts (512 levels) is refused rather than written.
    QVariant deep = QVariantList{1};
    for (int i = 0; i < 600; ++i)
        deep = QVariantList{deep};
    error.clear();
    EXPECT_TRUE(Plist::toBinary(deep, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PlistTest, XmlInputIsRead)
{
    const QByteArray xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
  <key>name</key><string>Report &amp; notes</string>
  <key>count</key><integer>-12</integer>
  <key>ratio</key><real>2.5</real>
  <key>on</key><true/>
  <key>when</key><date>2001-01-02T00:00:00Z</date>
  <key>blob</key><data>AAEC</data>
  <key>tags</key><array><string>Red</string><string>Blue</string></array>
</dict>
</plist>
)";
    QString error;
    const QVariantMap m = Plist::fromData(xml, &error).toMap();
    ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
    EXPECT_EQ(m["name"].toString(), "Report & notes");
    EXPECT_EQ(m["count"].toLongLong(), -12);
    EXPECT_DOUBLE_EQ(m["ratio"].toDouble(), 2.5);
    EXPECT_TRUE(m["on"].toBool());
    EXPECT_EQ(m["when"].toDateTime().toMSecsSinceEpoch(), kRef + 86400 * 1000LL);
    EXPECT_EQ(m["blob"].toByteArray(), QByteArray("\x00\x01\x02", 3));
    EXPECT_EQ(m["tags"].toList(), (QVariantList{"Red", "Blue"}));
}

TEST(PlistTest, GarbageIsRejectedWithAReason)
{
    const QList<QByteArray> bad = {
        QByteArray(),
        QByteArray("hello world"),
        QByteArray("bplist00"),
        QByteArray("bplist00") + QByteArray(40, '\xff'),
        QByteArray("<plist><dict><key>a</key>"),
        QByteArray("<html><body>not a plist</body></html>"),
        QByteArray("\x00\x00\x00\x00", 4),
    };
    for (const QByteArray &bytes : bad) {
        QString error;
        const QVariant v = Plist::fromData(bytes, &error);
        EXPECT_FALSE(v.isValid()) << bytes.toHex().constData();
        EXPECT_FALSE(error.isEmpty()) << bytes.toHex().constData();
    }
}

TEST(PlistTest, TruncatedAndDamagedBinaryNeverCrashes)
{
    const QByteArray good = Plist::toBinary(sampleDictionary());
    ASSERT_GT(good.size(), 100);
    // Every truncation loses the trailer, so none of them may parse.
    for (qsizetype n = 1; n < good.size(); ++n) {
        QString error;
        const QVariant v = Plist::fromData(good.left(n), &error);
        EXPECT_FALSE(v.isValid()) << "prefix of " << n << " bytes parsed";
        EXPECT_FALSE(error.isEmpty()) << n;
    }
    // A run of zeros (what a crash often leaves in a file) at every position.
    for (qsizetype pos = 0; pos < good.size(); ++pos) {
        QByteArray damaged = good;
        for (qsizetype k = pos; k < qMin(pos + 8, damaged.size()); ++k)
            damaged[k] = 0;
        QString error;
        const QVariant v = Plist::fromData(damaged, &error);
        EXPECT_TRUE(v.isValid() || !error.isEmpty()) << pos;
    }
    // Random damage: must not crash; whatever parses is still a value.
    QRandomGenerator rng(12345);
    for (int round = 0; round < 5000; ++round) {
        QByteArray damaged = good;
        const int flips = 1 + int(rng.bounded(4));
        for (int f = 0; f < flips; ++f)
            damaged[qsizetype(rng.bounded(quint32(damaged.size())))] = char(rng.bounded(256));
        QString error;
        const QVariant v = Plist::fromData(damaged, &error);
        EXPECT_TRUE(v.isValid() || !error.isEmpty());
    }
}

TEST(PlistTest, PythonPlistlibReadsWhatKelsoWrites)
{
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty())
        GTEST_SKIP() << "python3 is not installed";
    const QString path = KelsoTest::home() + "/plistlib-check.plist";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Plist::toBinary(sampleDictionary()));
    }
    const char *script = R"PY(
import plistlib, sys, json, datetime
with open(sys.argv[1], 'rb') as f:
    d = plistlib.load(f)
def show(v):
    if isinstance(v, bool): return ['bool', v]
    if isinstance(v, int): return ['int', str(v)]
    if isinstance(v, float): return ['real', repr(v)]
    if isinstance(v, str): return ['string', v]
    if isinstance(v, bytes): return ['data', v.hex()]
    if isinstance(v, datetime.datetime): return ['date', v.isoformat(timespec='milliseconds')]
    if isinstance(v, list): return ['array', [show(x) for x in v]]
    if isinstance(v, dict): return ['dict', {k: show(x) for k, x in v.items()}]
    return ['unknown', str(type(v))]
print(json.dumps(show(d), ensure_ascii=True, sort_keys=True))
)PY";
    QProcess p;
    p.start(python, {"-c", script, path});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().constData();
    const QString out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    auto expectHas = [&](const QString &fragment) {
        EXPECT_TRUE(out.contains(fragment)) << qPrintable(fragment) << "\n" << qPrintable(out);
    };
    // libplist writes integers as 8-byte values, which readers take as signed: all bits set
    // reads as -1 elsewhere, and Kelso reads the same bits back as the unsigned maximum.
    expectHas(R"("allBits": ["int", "-1"])");
    expectHas(R"("big": ["int", "9223372036854775807"])");
    expectHas(R"("min": ["int", "-9223372036854775808"])");
    expectHas(R"("negative": ["int", "-42"])");
    expectHas(R"("real": ["real", "0.1"])");
    expectHas(R"("yes": ["bool", true])");
    expectHas(R"("no": ["bool", false])");
    expectHas(R"("date": ["date", "2001-01-02T00:00:00.250"])");
    expectHas(R"("empty": ["string", ""])");
    expectHas(R"("string": ["string", "Gr\u00fc\u00dfe \u2713 \"quoted\" <xml> & more"])");
    expectHas(R"("blob": ["data", "0001ff"])");
    expectHas(
        R"("\u043a\u043b\u044e\u0447": ["array", [["dict", {"deep": ["array", [["array", [["string", "x"]]]]]}]]])");
}
