// The attribute store: error records, the 4096-byte limit, links, and the bytes on disk.
#include "TagTestUtil.h"
#include "platform/Plist.h"
#include "platform/Xattr.h"
#include "tags/Lumitag.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cerrno>

using namespace TagTest;

namespace {

// A string whose binary plist is exactly `bytes` long, or a null string when none is.
QString stringWithPlistSize(qsizetype bytes)
{
    for (qsizetype n = bytes - 80; n <= bytes; ++n) {
        const QString s(n, QLatin1Char('x'));
        if (Plist::toBinary(s).size() == bytes)
            return s;
    }
    return {};
}

bool shmTakesUserAttributes(const QString &dir)
{
    const QString probe = makeFile(dir, QStringLiteral("probe"));
    int err = 0;
    return Xattr::set(probe, QStringLiteral("kelso.probe"), QByteArray(4000, 'p'), &err);
}

} // namespace

TEST(LumitagNaming, SpotlightKeyAndErrnoText)
{
    EXPECT_EQ(Lumitag::spotlightKey(QStringLiteral("kMDItemStarRating")),
              QStringLiteral("com.apple.metadata:kMDItemStarRating"));
    EXPECT_EQ(Lumitag::errnoString(ENOENT), QStringLiteral("errno error: 2, No such file or directory"));
}

TEST(LumitagStore, RoundTripsEveryValueTypeAndStoresItUnderTheUserNamespace)
{
    const QString file = makeFile(freshFolder(QStringLiteral("store")), QStringLiteral("f.txt"));
    const QDateTime when = QDateTime(QDate(2024, 3, 7), QTime(12, 30, 15), QTimeZone::utc());
    const QVariantMap dict{{QStringLiteral("n"), 3}, {QStringLiteral("s"), QStringLiteral("ü")}};
    const QList<QVariant> values{QVariant(QStringLiteral("Grüße")),
                                 QVariant(true),
                                 QVariant(4.5),
                                 QVariant(qint64(42)),
                                 QVariant(when),
                                 QVariant(QVariantList{QStringLiteral("a"), QStringLiteral("b")}),
                                 QVariant(dict)};
    for (const QVariant &v : values) {
        ASSERT_FALSE(Lumitag::setXAttrMetaData(v, QStringLiteral("kTest"), file)) << v.typeName();
        LumitagResult error = LumitagError{QStringLiteral("stale"), 9, QString()};
        const QVariant back = Lumitag::getXAttrMetaData(QStringLiteral("kTest"), file, &error);
        EXPECT_FALSE(error) << "a successful read clears the error out";
        if (v.typeId() == QMetaType::QDateTime)
            EXPECT_EQ(back.toDateTime(), when);
        else
            EXPECT_EQ(back, v) << v.typeName();
    }
    QStringList names;
    int err = 0;
    ASSERT_TRUE(Xattr::list(file, &names, &err));
    EXPECT_TRUE(names.contains(QStringLiteral("com.apple.metadata:kTest")));
    QByteArray raw;
    ASSERT_TRUE(Xattr::get(file, QStringLiteral("com.apple.metadata:kTest"), &raw, &err));
    EXPECT_TRUE(raw.startsWith("bplist00")) << "binary plist 1.0";
}

TEST(LumitagStore, ParameterErrorsForEmptyAndUnrepresentablePaths)
{
    const LumitagError expected{kLumitagErrorDomain, -1, QStringLiteral("Lumitag parameter error")};
    EXPECT_EQ(Lumitag::setXAttr(QStringLiteral("v"), QStringLiteral("k"), QString()), expected);
    LumitagResult error;
    EXPECT_FALSE(Lumitag::getXAttr(QStringLiteral("k"), QString(), &error).isValid());
    EXPECT_EQ(error, expected);

    // A lone surrogate has no UTF-8 form: encoding it would name another file.
    QString broken = KelsoTest::home() + QStringLiteral("/bad");
    broken.append(QChar(0xD800));
    EXPECT_EQ(Lumitag::setXAttr(QStringLiteral("v"), QStringLiteral("k"), broken), expected);
    // Tags and ratings refuse it before their time stamps, which would land on the file the
    // mangled name happens to name.
    const QString mangled = QFile::decodeName(QFile::encodeName(broken));
    KelsoTest::writeFile(mangled);
    EXPECT_EQ(Lumitag::setUserTags(QStringList{QStringLiteral("t")}, broken), expected);
    EXPECT_EQ(Lumitag::setRating(3, broken), expected);
    EXPECT_EQ(Lumitag::setRating(0, broken), expected);
    QStringList names;
    int err = 0;
    ASSERT_TRUE(Xattr::list(mangled, &names, &err));
    EXPECT_TRUE(names.isEmpty()) << qPrintable(names.join(QLatin1Char(' ')));
    EXPECT_EQ(Lumitag::setNSArrayMetaData(QStringLiteral("not an array"), QStringLiteral("k"),
                                          makeFile(freshFolder(QStringLiteral("p")), QStringLiteral("f"))),
              expected);
}

TEST(LumitagStore, MissingAttributesAndRemovals)
{
    const QString file = makeFile(freshFolder(QStringLiteral("missing")), QStringLiteral("f"));
    // Reading an absent key leaves the error out untouched.
    LumitagResult error = LumitagError{QStringLiteral("keep"), 7, QStringLiteral("me")};
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("kAbsent"), file, &error).isValid());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, QStringLiteral("keep"));

    // Removing an absent key is a POSIX ENOATTR (ENODATA) error.
    const LumitagResult removal = Lumitag::setXAttrMetaData(QVariant(), QStringLiteral("kAbsent"), file);
    ASSERT_TRUE(removal);
    EXPECT_TRUE(removal->isPOSIX(ENODATA));
    EXPECT_EQ(removal->info, Lumitag::errnoString(ENODATA));

    ASSERT_FALSE(Lumitag::setXAttrMetaData(1, QStringLiteral("kPresent"), file));
    EXPECT_FALSE(Lumitag::setXAttrMetaData(QVariant(), QStringLiteral("kPresent"), file));
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("kPresent"), file).isValid());

    // A vanished file is a POSIX error on read.
    LumitagResult gone;
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("k"), file + QStringLiteral(".gone"), &gone).isValid());
    ASSERT_TRUE(gone);
    EXPECT_TRUE(gone->isPOSIX(ENOENT));
}

TEST(LumitagStore, ContentThatIsNotAPlistGivesParseError)
{
    const QString file = makeFile(freshFolder(QStringLiteral("garbage")), QStringLiteral("f"));
    int err = 0;
    ASSERT_TRUE(Xattr::set(file, Lumitag::spotlightKey(QStringLiteral("kJunk")), "not a plist at all", &err));
    LumitagResult error;
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("kJunk"), file, &error).isValid());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kLumitagErrorDomain);
    EXPECT_EQ(error->code, -2);
    EXPECT_FALSE(error->info.isEmpty());

    // A non-array under an array key is no value and no error.
    ASSERT_FALSE(Lumitag::setXAttrMetaData(QStringLiteral("text"), QStringLiteral("kArr"), file));
    LumitagResult arrayError;
    EXPECT_FALSE(Lumitag::getNSArrayMetaData(QStringLiteral("kArr"), file, &arrayError).isValid());
    EXPECT_FALSE(arrayError);
}

TEST(LumitagStore, ExactlyFourKilobytesIsStoredAndOneMoreIsRefusedKeepingTheOldValue)
{
    const QString dir = freshShmFolder();
    if (!shmTakesUserAttributes(dir)) {
        QDir(dir).removeRecursively();
        GTEST_SKIP() << "/dev/shm does not take user attributes here";
    }
    const QString file = makeFile(dir, QStringLiteral("big"));
    const QString fits = stringWithPlistSize(4096);
    const QString tooBig = stringWithPlistSize(4097);
    ASSERT_FALSE(fits.isNull());
    ASSERT_FALSE(tooBig.isNull());

    ASSERT_FALSE(Lumitag::setXAttrMetaData(fits, QStringLiteral("kBig"), file));
    int err = 0;
    EXPECT_EQ(Xattr::size(file, Lumitag::spotlightKey(QStringLiteral("kBig")), &err), 4096);
    EXPECT_EQ(Lumitag::getXAttrMetaData(QStringLiteral("kBig"), file).toString(), fits);

    const LumitagResult refused = Lumitag::setXAttrMetaData(tooBig, QStringLiteral("kBig"), file);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->domain, kLumitagErrorDomain);
    EXPECT_EQ(refused->code, -5);
    EXPECT_TRUE(refused->info.startsWith(QStringLiteral("Meta data is too big")));
    EXPECT_EQ(Lumitag::getXAttrMetaData(QStringLiteral("kBig"), file).toString(), fits) << "old value intact";

    // A value larger than 4096 bytes put there by someone else fails the read with ERANGE.
    ASSERT_TRUE(
        Xattr::set(file, Lumitag::spotlightKey(QStringLiteral("kHuge")), Plist::toBinary(QString(5000, 'y')), &err));
    LumitagResult readError;
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("kHuge"), file, &readError).isValid());
    ASSERT_TRUE(readError);
    EXPECT_TRUE(readError->isPOSIX(ERANGE));
    QDir(dir).removeRecursively();
}

TEST(LumitagStore, FileSystemRefusalOfALargeValueComesBackAsThePosixError)
{
    // ext4 with 4 KiB blocks has less room than 4096 bytes for one value: the kernel's ENOSPC
    // must reach the caller as such, with nothing half written.
    const QString file = makeFile(freshFolder(QStringLiteral("ext4")), QStringLiteral("f"));
    ASSERT_FALSE(Lumitag::setXAttrMetaData(QStringLiteral("small"), QStringLiteral("kV"), file));
    const LumitagResult r = Lumitag::setXAttrMetaData(stringWithPlistSize(4096), QStringLiteral("kV"), file);
    if (!r)
        GTEST_SKIP() << "this file system stores 4096-byte values";
    EXPECT_EQ(r->domain, kPOSIXErrorDomain);
    EXPECT_TRUE(r->code == ENOSPC || r->code == E2BIG) << r->code;
    EXPECT_EQ(Lumitag::getXAttrMetaData(QStringLiteral("kV"), file).toString(), QStringLiteral("small"));
}

TEST(LumitagStore, SymbolicLinksAreNeverFollowed)
{
    const QString dir = freshFolder(QStringLiteral("links"));
    const QString target = makeFile(dir, QStringLiteral("target"));
    const QString link = dir + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_FALSE(Lumitag::setXAttrMetaData(QStringLiteral("on target"), QStringLiteral("kV"), target));

    // Linux refuses user attributes on a link: the POSIX error, and the target keeps its value.
    const LumitagResult r = Lumitag::setXAttrMetaData(QStringLiteral("through link"), QStringLiteral("kV"), link);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->isPOSIX(EPERM)) << qPrintable(r->info);
    EXPECT_EQ(Lumitag::getXAttrMetaData(QStringLiteral("kV"), target).toString(), QStringLiteral("on target"));

    // Reading the link reads the link's own (absent) attribute, not the target's.
    LumitagResult readError;
    EXPECT_FALSE(Lumitag::getXAttrMetaData(QStringLiteral("kV"), link, &readError).isValid());
    EXPECT_FALSE(readError);
    const LumitagResult removal = Lumitag::setXAttrMetaData(QVariant(), QStringLiteral("kV"), link);
    ASSERT_TRUE(removal);
    EXPECT_EQ(Lumitag::getXAttrMetaData(QStringLiteral("kV"), target).toString(), QStringLiteral("on target"));
}

TEST(LumitagStore, BytesOnDiskParseInPythonsPlistlib)
{
    const QString file = makeFile(freshFolder(QStringLiteral("python")), QStringLiteral("f"));
    const QStringList tags{QStringLiteral("Work"), QStringLiteral("Café"), QStringLiteral("two words")};
    TagTest::useTagStore(QStringLiteral("lumitag"));
    ASSERT_FALSE(Lumitag::setUserTags(tags, file));
    ASSERT_FALSE(Lumitag::setRating(3.5, file));
    ASSERT_FALSE(Lumitag::setXAttrMetaData(true, LumitagKeys::Managed, file));
    TagTest::useTagStore(QStringLiteral("system"));

    const QString script = QStringLiteral(
        "import json, os, plistlib, sys, datetime\n"
        "p = sys.argv[1]\n"
        "out = {}\n"
        "for key in ('kMDItemLTUserTags', 'kMDItemStarRating', 'kMDItemLTManaged', 'kMDItemLTUserTagTime'):\n"
        "    raw = os.getxattr(p, 'user.com.apple.metadata:' + key, follow_symlinks=False)\n"
        "    assert raw.startswith(b'bplist00')\n"
        "    v = plistlib.loads(raw, fmt=plistlib.FMT_BINARY)\n"
        "    out[key] = v.timestamp() if isinstance(v, datetime.datetime) else v\n"
        "print(json.dumps(out))\n");
    int code = -1;
    const QByteArray out = run(QStringLiteral("python3"), {QStringLiteral("-c"), script, file}, {}, &code);
    ASSERT_EQ(code, 0) << out.constData();
    const QJsonObject o = QJsonDocument::fromJson(out).object();
    QStringList pyTags;
    for (const QJsonValue &v : o.value(QStringLiteral("kMDItemLTUserTags")).toArray())
        pyTags.append(v.toString());
    // Stored decomposed (NFD), as the tag lists are normalised before writing.
    EXPECT_EQ(pyTags, Lumitag::removeDuplicateTags(tags));
    EXPECT_DOUBLE_EQ(o.value(QStringLiteral("kMDItemStarRating")).toDouble(), 3.5);
    EXPECT_EQ(o.value(QStringLiteral("kMDItemLTManaged")).toBool(), true);
    const double stamp = o.value(QStringLiteral("kMDItemLTUserTagTime")).toDouble();
    EXPECT_NEAR(stamp, QDateTime::currentSecsSinceEpoch(), 300.0) << "a real date, 2001-based on disk";
}

TEST(LumitagTagLists, NormalisationRules)
{
    using L = QStringList;
    EXPECT_EQ(Lumitag::removeDuplicateTags(L{"Work", "work", "Home", "WORK"}), (L{"Work", "Home"}));
    EXPECT_EQ(Lumitag::removeDuplicateTags(QVariant(QVariantList{5, QStringLiteral("x")})).toStringList(), L{"x"});
    EXPECT_FALSE(Lumitag::removeDuplicateTags(QVariant()).isValid());
    // "Café" spelled composed and decomposed is one tag, kept decomposed.
    const QString composed = QStringLiteral("Caf\u00e9");
    const QString decomposed = QStringLiteral("Cafe\u0301");
    EXPECT_EQ(Lumitag::removeDuplicateTags(L{composed, decomposed}), L{decomposed});

    QMap<QString, QString> dict{{"a", "a"}, {"b", "B"}, {"c", "C"}};
    EXPECT_EQ(Lumitag::orderedArrayWithDict(dict, L{"b", "A"}), (L{"b", "A", "C"}));
    EXPECT_EQ(Lumitag::orderedArrayWithDict(dict, L{}).size(), 3);

    EXPECT_TRUE(Lumitag::validateAsArrayOfStrings(QVariant(QVariantList{})));
    EXPECT_FALSE(Lumitag::validateAsArrayOfStrings(QVariant(QStringLiteral("x"))));
    EXPECT_FALSE(Lumitag::validateAsArrayOfStrings(QVariant(QVariantList{QStringLiteral("x"), 1})));
    EXPECT_EQ(Lumitag::decomposeArrayOfStrings(QVariantList{composed, 3}), L{decomposed});
}
