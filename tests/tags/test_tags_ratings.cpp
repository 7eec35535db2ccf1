// Tags and ratings of one and many files, in both tag stores, and the KDE attributes.
#include "TagTestUtil.h"
#include "platform/Xattr.h"
#include "tags/Lumitag.h"

#include <QDateTime>
#include <QSet>
#include <cerrno>

using namespace TagTest;
using L = QStringList;

namespace {

QVariant tagTime(const QString &path)
{
    return Lumitag::getXAttrMetaData(LumitagKeys::UserTagTime, path);
}

L tagsOf(const QString &path)
{
    LumitagResult error;
    const auto tags = Lumitag::getUserTags(path, &error);
    EXPECT_FALSE(error) << qPrintable(path);
    return tags.value_or(L{QStringLiteral("<unreadable>")});
}

} // namespace

class TagsInBothStores : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        useTagStore(QString::fromLatin1(GetParam()));
        dir = freshFolder(QStringLiteral("tags-") + QString::fromLatin1(GetParam()));
    }
    void TearDown() override { useTagStore(QStringLiteral("system")); }
    QString file(const QString &name, const L &tags = {})
    {
        const QString p = makeFile(dir, name);
        if (!tags.isEmpty()) {
            EXPECT_FALSE(Lumitag::setUserTags(tags, p));
        }
        return p;
    }
    QString dir;
};

INSTANTIATE_TEST_SUITE_P(Store, TagsInBothStores, ::testing::Values("system", "lumitag"),
                         [](const auto &store) { return std::string(store.param); });

TEST_P(TagsInBothStores, ModeFollowsTheSetting)
{
    EXPECT_EQ(Lumitag::MavericksOrLater(), QLatin1String(GetParam()) == QLatin1String("system"));
}

TEST_P(TagsInBothStores, WriteAndReadBackWithTimeStampAndNoDuplicates)
{
    const QString f = file(QStringLiteral("one"));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
    ASSERT_FALSE(Lumitag::setUserTags(L{"Work", "home", "WORK", "two words"}, f));
    EXPECT_EQ(tagsOf(f), (L{"Work", "home", "two words"}));
    EXPECT_GE(tagTime(f).toDateTime(), before);

    // The stores never mix: the other place holds nothing.
    int err = 0;
    const bool system = QLatin1String(GetParam()) == QLatin1String("system");
    EXPECT_EQ(Xattr::size(f, LumitagKeys::XdgTags, &err) >= 0, system);
    EXPECT_EQ(Xattr::size(f, Lumitag::spotlightKey(LumitagKeys::UserTags), &err) >= 0, !system);

    // An empty list leaves the file without tags.
    ASSERT_FALSE(Lumitag::setUserTags(L{}, f));
    EXPECT_EQ(tagsOf(f), L{});
    EXPECT_EQ(Lumitag::getCommonUserTags({f}), L{});
}

TEST_P(TagsInBothStores, ListsThatAreNotAllStringsAreRefusedWithoutWriting)
{
    const QString f = file(QStringLiteral("sync"));
    const LumitagResult r = Lumitag::setUserTags(QVariant(QVariantList{QStringLiteral("a"), 5}), f);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (LumitagError{kLumitagErrorDomain, -1, QStringLiteral("Lumitag SYNC parameter error")}));
    EXPECT_FALSE(tagTime(f).isValid()) << "no time stamp either";
    EXPECT_EQ(tagsOf(f), L{});
}

TEST_P(TagsInBothStores, CommonTagsKeepTheFirstFilesSpellingAndOrder)
{
    const QString a = file(QStringLiteral("a"), {"Red", "Blue"});
    const QString b = file(QStringLiteral("b"), {"blue", "green"});
    const QString c = file(QStringLiteral("c"), {"BLUE"});
    EXPECT_EQ(Lumitag::getCommonUserTags({a, b, c}), L{"Blue"});
    EXPECT_EQ(Lumitag::getCommonUserTags({a}), (L{"Red", "Blue"}));
    EXPECT_EQ(Lumitag::getCommonUserTags({}), L{});

    const QString untagged = file(QStringLiteral("none"));
    LumitagResult error;
    EXPECT_EQ(Lumitag::getCommonUserTags({a, untagged, b}, &error), L{});
    EXPECT_FALSE(error);

    // A file that cannot be read stops the computation with its error.
    EXPECT_EQ(Lumitag::getCommonUserTags({a, dir + QStringLiteral("/vanished")}, &error), L{});
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->isPOSIX(ENOENT));
}

TEST_P(TagsInBothStores, ThreeWayMergeKeepsTagsOnlySomeFilesHad)
{
    const QString one = file(QStringLiteral("one"), {"A", "B", "C"});
    const QString two = file(QStringLiteral("two"), {"A", "D"});
    const L common = Lumitag::getCommonUserTags({one, two});
    ASSERT_EQ(common, L{"A"});
    EXPECT_FALSE(Lumitag::setCommonUserTags({one, two}, common, {"A", "E"}));
    EXPECT_EQ(tagsOf(one), (L{"B", "C", "A", "E"}));
    EXPECT_EQ(tagsOf(two), (L{"D", "A", "E"}));

    // Removing a common tag case-insensitively; the file's own spelling wins over the new one.
    EXPECT_FALSE(Lumitag::setCommonUserTags({one, two}, {"a", "E"}, {"b"}));
    EXPECT_EQ(tagsOf(one), (L{"B", "C"}));
    EXPECT_EQ(tagsOf(two), (L{"D", "b"}));
}

TEST_P(TagsInBothStores, FilesThatNeedNoChangeAreNotRewritten)
{
    const QString same = file(QStringLiteral("same"), {"x", "y"});
    const QString other = file(QStringLiteral("other"), {"z"});
    const QDateTime old = QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    ASSERT_FALSE(Lumitag::setXAttrMetaData(old, LumitagKeys::UserTagTime, same));
    ASSERT_FALSE(Lumitag::setXAttrMetaData(old, LumitagKeys::UserTagTime, other));

    // Both lists empty: nothing at all is touched.
    EXPECT_FALSE(Lumitag::setCommonUserTags({same, other}, {}, {}));
    EXPECT_EQ(tagTime(other).toDateTime(), old);

    EXPECT_FALSE(Lumitag::setCommonUserTags({same, other}, {}, {"x", "y"}));
    EXPECT_EQ(tagTime(same).toDateTime(), old) << "already equal: not rewritten";
    EXPECT_NE(tagTime(other).toDateTime(), old);
    EXPECT_EQ(tagsOf(other), (L{"z", "x", "y"}));
}

TEST_P(TagsInBothStores, AFailedFileIsReportedAndTheOthersAreWritten)
{
    // Tests run as root, where permission bits do not stop writes: use an immutable file (the
    // kernel refuses attribute changes even to root) and a path that vanished.
    const QString first = file(QStringLiteral("first"), {"A"});
    const QString locked = file(QStringLiteral("locked"), {"A"});
    const QString last = file(QStringLiteral("last"), {"A"});
    const QString vanished = file(QStringLiteral("vanished"), {"A"});
    ASSERT_TRUE(QFile::remove(vanished));
    ImmutableGuard guard(locked);
    if (!guard.active)
        GTEST_SKIP() << "cannot set the immutable flag here";

    const LumitagResult r = Lumitag::setCommonUserTags({first, locked, last, vanished}, {"A"}, {"B"});
    ASSERT_TRUE(r) << "the most recent error is reported";
    EXPECT_TRUE(r->isPOSIX(ENOENT)) << qPrintable(r->info);
    EXPECT_EQ(tagsOf(first), L{"B"});
    EXPECT_EQ(tagsOf(last), L{"B"});
    EXPECT_EQ(tagsOf(locked), L{"A"});

    const LumitagResult lockedOnly = Lumitag::setCommonUserTags({locked}, {"A"}, {"B"});
    ASSERT_TRUE(lockedOnly);
    EXPECT_TRUE(lockedOnly->isPOSIX(EPERM)) << qPrintable(lockedOnly->info);
}

TEST_P(TagsInBothStores, ASymbolicLinksTargetIsUntouched)
{
    const QString target = file(QStringLiteral("target"), {"Keep"});
    const QString link = dir + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    const LumitagResult r = Lumitag::setUserTags(L{"Changed"}, link);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->isPOSIX(EPERM));
    EXPECT_EQ(tagsOf(target), L{"Keep"});
    EXPECT_EQ(tagsOf(link), L{}) << "the link's own (absent) tags";
}

// ---- ratings

TEST(LumitagRatings, SevenIsStoredAsFiveAndKdeSeesTen)
{
    const QString f = makeFile(freshFolder(QStringLiteral("rating")), QStringLiteral("f"));
    ASSERT_FALSE(Lumitag::setRating(7, f));
    EXPECT_EQ(Lumitag::getXAttrMetaData(LumitagKeys::StarRating, f).toDouble(), 5.0);
    EXPECT_EQ(getfattrValue(f, QStringLiteral("user.baloo.rating")), QByteArray("10"));
    EXPECT_TRUE(Lumitag::getXAttrMetaData(LumitagKeys::RatingTime, f).toDateTime().isValid());
    EXPECT_EQ(Lumitag::getRating(f), 5.0);

    ASSERT_FALSE(Lumitag::setRating(3.5, f));
    EXPECT_EQ(Lumitag::getRating(f), 3.5) << "not rounded";
    EXPECT_EQ(getfattrValue(f, QStringLiteral("user.baloo.rating")), QByteArray("7"));
    ASSERT_FALSE(Lumitag::setRating(1.2, f));
    EXPECT_EQ(getfattrValue(f, QStringLiteral("user.baloo.rating")), QByteArray("2"));
}

TEST(LumitagRatings, ZeroRemovesBothAndKeepsTheRatingTime)
{
    const QString f = makeFile(freshFolder(QStringLiteral("rating0")), QStringLiteral("f"));
    ASSERT_FALSE(Lumitag::setRating(4, f));
    const QVariant stamp = Lumitag::getXAttrMetaData(LumitagKeys::RatingTime, f);
    ASSERT_FALSE(Lumitag::setRating(0, f));
    int err = 0;
    EXPECT_LT(Xattr::size(f, Lumitag::spotlightKey(LumitagKeys::StarRating), &err), 0);
    EXPECT_EQ(err, ENODATA);
    EXPECT_LT(Xattr::size(f, LumitagKeys::BalooRating, &err), 0);
    EXPECT_EQ(Lumitag::getRating(f), 0.0);
    EXPECT_EQ(Lumitag::getXAttrMetaData(LumitagKeys::RatingTime, f), stamp);

    // Nothing left to remove: the no-such-attribute error.
    const LumitagResult again = Lumitag::setRating(-1, f);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->isPOSIX(ENODATA));
}

TEST(LumitagRatings, AFileRatedOnlyInKdeReadsAsThatRating)
{
    const QString f = makeFile(freshFolder(QStringLiteral("baloo")), QStringLiteral("f"));
    int err = 0;
    ASSERT_TRUE(Xattr::set(f, LumitagKeys::BalooRating, "6", &err));
    EXPECT_EQ(Lumitag::getRating(f), 3.0);
    ASSERT_TRUE(Xattr::set(f, LumitagKeys::BalooRating, "junk", &err));
    EXPECT_EQ(Lumitag::getRating(f), 0.0);
    ASSERT_TRUE(Xattr::set(f, LumitagKeys::BalooRating, "6", &err));
    // Removing it removes KDE's rating, and that is a success.
    EXPECT_FALSE(Lumitag::setRating(0, f));
    EXPECT_LT(Xattr::size(f, LumitagKeys::BalooRating, &err), 0);
}

// ---- the desktop's tag attribute

TEST(SystemTags, WrittenExactlyAsKdeWritesThem)
{
    useTagStore(QStringLiteral("system"));
    const QString f = makeFile(freshFolder(QStringLiteral("kde")), QStringLiteral("f"));
    ASSERT_FALSE(Lumitag::setUserTags(L{"Work", "two words", "Caf\u00e9"}, f));
    // Comma-joined, no blanks added, UTF-8, composed as typed.
    EXPECT_EQ(getfattrValue(f, QStringLiteral("user.xdg.tags")), QStringLiteral("Work,two words,Caf\u00e9").toUtf8());

    // Removing the last tag removes the attribute, as KDE does.
    ASSERT_FALSE(Lumitag::setUserTags(L{}, f));
    int err = 0;
    EXPECT_LT(Xattr::size(f, LumitagKeys::XdgTags, &err), 0);
}

TEST(SystemTags, ReadsWhatKdeAndOlderWritersLeft)
{
    useTagStore(QStringLiteral("system"));
    const QString f = makeFile(freshFolder(QStringLiteral("kde-read")), QStringLiteral("f"));
    int code = -1;
    run(QStringLiteral("setfattr"),
        {QStringLiteral("-n"), QStringLiteral("user.xdg.tags"), QStringLiteral("-v"),
         QStringLiteral("Red, two words,,  Blue ,"), f},
        {}, &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(tagsOf(f), (L{"Red", "two words", "Blue"}));
}

TEST(SystemTags, ATagWithACommaIsRefusedByName)
{
    useTagStore(QStringLiteral("system"));
    const QString f = makeFile(freshFolder(QStringLiteral("comma")), QStringLiteral("f"));
    ASSERT_FALSE(Lumitag::setUserTags(L{"Keep"}, f));
    const QVariant stamp = tagTime(f);
    const LumitagResult r = Lumitag::setUserTags(L{"ok", "Smith, John"}, f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->domain, kLumitagErrorDomain);
    EXPECT_TRUE(r->info.contains(QStringLiteral("\"Smith, John\""))) << qPrintable(r->info);
    EXPECT_EQ(tagsOf(f), L{"Keep"}) << "never split into two tags";
    EXPECT_EQ(tagTime(f), stamp);

    // The Lumitag store holds such a tag fine.
    useTagStore(QStringLiteral("lumitag"));
    EXPECT_FALSE(Lumitag::setUserTags(L{"Smith, John"}, f));
    EXPECT_EQ(tagsOf(f), L{"Smith, John"});
    useTagStore(QStringLiteral("system"));
}

TEST(SystemTags, TagsThatAreNotUtf8AreReportedAndNeverOverwritten)
{
    useTagStore(QStringLiteral("system"));
    const QString dir = freshFolder(QStringLiteral("latin1"));
    const QString bad = makeFile(dir, QStringLiteral("bad"));
    const QString good = makeFile(dir, QStringLiteral("good"));
    int err = 0;
    ASSERT_TRUE(Xattr::set(bad, LumitagKeys::XdgTags, QByteArray("caf\xe9,x"), &err));
    LumitagResult error;
    EXPECT_FALSE(Lumitag::getUserTags(bad, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -2);

    EXPECT_TRUE(Lumitag::setCommonUserTags({bad, good}, {}, {"new"}));
    QByteArray raw;
    ASSERT_TRUE(Xattr::get(bad, LumitagKeys::XdgTags, &raw, &err));
    EXPECT_EQ(raw, QByteArray("caf\xe9,x"));
    EXPECT_EQ(tagsOf(good), L{"new"});
}

TEST(DeltaTagsOperation, KeepsItsFields)
{
    const XPDeltaTagsOperation op({"/a", "/b"}, {"x"}, {"x", "y"}, 3.0);
    EXPECT_EQ(op.filePaths, (L{"/a", "/b"}));
    EXPECT_EQ(op.originalTags, L{"x"});
    EXPECT_EQ(op.newTags, (L{"x", "y"}));
    EXPECT_EQ(op.newRating, 3.0);
    EXPECT_FALSE(XPDeltaTagsOperation().newRating);
}

TEST_P(TagsInBothStores, EachFileOfAManyFilesWriteGetsAStampOfItsOwnInWriteOrder)
{
    // Files written together never carry the same stamp bytes: the time goes to the
    // microsecond and never repeats, so their attribute blocks stay apart.
    L paths;
    for (int i = 0; i < 40; ++i)
        paths.append(file(QStringLiteral("stamp-%1.txt").arg(i)));
    const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
    ASSERT_FALSE(Lumitag::setCommonUserTags(paths, {}, {QStringLiteral("Batch")}));
    const QDateTime after = QDateTime::currentDateTimeUtc().addMSecs(1);
    QSet<QByteArray> seen;
    QByteArray previousBytes;
    QDateTime previous;
    for (const QString &p : paths) {
        QByteArray bytes;
        int err = 0;
        ASSERT_TRUE(Xattr::get(p, Lumitag::spotlightKey(LumitagKeys::UserTagTime), &bytes, &err, 4096)) << err;
        EXPECT_FALSE(seen.contains(bytes)) << qPrintable(p);
        seen.insert(bytes);
        const QDateTime stamp = tagTime(p).toDateTime();
        EXPECT_GE(stamp, before);
        EXPECT_LE(stamp, after);
        if (previous.isValid()) {
            EXPECT_GE(stamp, previous);
        }
        previous = stamp;
    }
}
