// Filed documents: the folder tree, filing with free names, the managed mark and its pacing.
#include "TagTestUtil.h"
#include "fileops/ScratchVolume.h"
#include "fileops/XPFileUtils.h"
#include "platform/mdindex/MdCrawler.h"
#include "tags/Lumitag.h"
#include "tags/XPFiledDocuments.h"

#include <QDate>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <sys/stat.h>

using namespace TagTest;
namespace FD = XPFiledDocuments;

namespace {

QString defaultRoot()
{
    return XPFileUtils::documentsFolder() + QStringLiteral("Filed Documents");
}

QString desktop()
{
    return QDir::homePath() + QStringLiteral("/Desktop");
}

QString todayUnder(const QString &root, bool dayLevel = true)
{
    const QDate d = QDate::currentDate();
    QString p = root + QStringLiteral("/%1/%2").arg(d.year()).arg(d.month());
    if (dayLevel)
        p += QStringLiteral("/%1").arg(d.day());
    return p;
}

qint64 mtimeSec(const QString &path)
{
    struct stat st {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mtim.tv_sec;
}

void ageFile(const QString &path, qint64 seconds)
{
    struct timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

class FiledDocuments : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Defaults::standard().removeObjectForKey(FD::kFiledDocumentsPathKey);
        Defaults::standard().removeObjectForKey(FD::kUseYearMonthKey);
        QDir(defaultRoot()).removeRecursively();
        QDir(desktop()).removeRecursively();
        FD::forgetRoot();
        source = freshFolder(QStringLiteral("sources"));
    }
    void useDefaultRoot()
    {
        QDir().mkpath(defaultRoot());
        FD::forgetRoot();
    }
    QString source;
};

TEST_F(FiledDocuments, ReportPdfGetsFreeNamesInTodaysFolder)
{
    useDefaultRoot();
    ASSERT_TRUE(FD::usesFiledDocuments());
    EXPECT_EQ(FD::filedDocumentsRoot(), defaultRoot());
    QList<QVariantMap> changes;
    QObject::connect(XPFiledDocumentsNotifier::instance(), &XPFiledDocumentsNotifier::documentPathChanged,
                     XPFiledDocumentsNotifier::instance(), [&](const QVariantMap &m) { changes.append(m); });

    QStringList filed;
    for (int i = 0; i < 3; ++i) {
        const QString p =
            makeFile(freshFolder(QStringLiteral("src")), QStringLiteral("Report.pdf"), QByteArray::number(i));
        filed += FD::putFilesIntoFiledDocuments({p}, true);
        EXPECT_FALSE(QFile::exists(p)) << "moved, not copied";
    }
    const QString today = todayUnder(defaultRoot());
    ASSERT_EQ(filed, (QStringList{today + "/Report.pdf", today + "/Report 1.pdf", today + "/Report 2.pdf"}));
    for (int i = 0; i < 3; ++i) {
        QFile f(filed[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray::number(i));
        EXPECT_EQ(FD::managedMark(filed[i]), std::optional<bool>(true));
    }
    // The new day folder carries the mark false.
    EXPECT_EQ(FD::managedMark(today), std::optional<bool>(false));
    ASSERT_EQ(changes.size(), 3);
    EXPECT_EQ(changes[1].value(QStringLiteral("newPath")).toString(), filed[1]);
    EXPECT_TRUE(changes[1].value(QStringLiteral("oldPath")).toString().endsWith(QStringLiteral("/Report.pdf")));
    QObject::disconnect(XPFiledDocumentsNotifier::instance(), nullptr, XPFiledDocumentsNotifier::instance(), nullptr);
}

TEST_F(FiledDocuments, PlainFoldersStayAndPackagesAreFiled)
{
    useDefaultRoot();
    const QString folder = source + QStringLiteral("/Plain");
    const QString package = source + QStringLiteral("/Tool.app");
    KelsoTest::writeFile(folder + QStringLiteral("/inside"));
    KelsoTest::writeFile(package + QStringLiteral("/Contents/Info.plist"));
    QList<FD::FilingOutcome> outcomes;
    const QStringList filed = FD::putFilesIntoFiledDocuments({folder, package}, true, &outcomes);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(filed, QStringList{todayUnder(defaultRoot()) + QStringLiteral("/Tool.app")});
    EXPECT_TRUE(QFile::exists(filed.value(0) + QStringLiteral("/Contents/Info.plist")));
    ASSERT_EQ(outcomes.size(), 2);
    EXPECT_EQ(outcomes[0].kind, FD::FilingOutcome::SkippedFolder);
    EXPECT_EQ(outcomes[1].kind, FD::FilingOutcome::Moved);
}

TEST_F(FiledDocuments, FilesInPlaceAreOnlyMarkedAndFilesInTheRootAreMoved)
{
    useDefaultRoot();
    const QString inPlace = makeFile(defaultRoot() + QStringLiteral("/2024/3/7"), QStringLiteral("Report.pdf"));
    const QString inRoot = makeFile(defaultRoot(), QStringLiteral("Loose.txt"));
    EXPECT_TRUE(FD::pathIsAlreadyInGoodPlaceInFiledDocuments(inPlace));
    EXPECT_FALSE(FD::pathIsAlreadyInGoodPlaceInFiledDocuments(inRoot));
    const QStringList filed = FD::putFilesIntoFiledDocuments({inPlace, inRoot}, true);
    EXPECT_TRUE(QFile::exists(inPlace));
    EXPECT_EQ(FD::managedMark(inPlace), std::optional<bool>(true));
    EXPECT_EQ(filed, QStringList{todayUnder(defaultRoot()) + QStringLiteral("/Loose.txt")});
    EXPECT_EQ(FD::filedDocumentsPathForDate(QDateTime(QDate(2024, 3, 7), QTime(12, 0))),
              defaultRoot() + QStringLiteral("/2024/3/7"));
}

TEST_F(FiledDocuments, YearMonthMode)
{
    useDefaultRoot();
    Defaults::standard().setValue(FD::kUseYearMonthKey, true);
    EXPECT_EQ(FD::currentFiledDocumentsPath(), todayUnder(defaultRoot(), false));
    const QString inMonth = makeFile(defaultRoot() + QStringLiteral("/2023/12"), QStringLiteral("a.txt"));
    EXPECT_TRUE(FD::pathIsAlreadyInGoodPlaceInFiledDocuments(inMonth));
    const QString inDay = makeFile(defaultRoot() + QStringLiteral("/2023/12/1"), QStringLiteral("b.txt"));
    EXPECT_FALSE(FD::pathIsAlreadyInGoodPlaceInFiledDocuments(inDay));
    const QStringList filed = FD::putFilesIntoFiledDocuments({makeFile(source, QStringLiteral("c.txt"))}, true);
    EXPECT_EQ(filed, QStringList{todayUnder(defaultRoot(), false) + QStringLiteral("/c.txt")});
}

TEST_F(FiledDocuments, WithoutTheFeatureFilesGoToTheDesktop)
{
    ASSERT_FALSE(FD::usesFiledDocuments());
    EXPECT_EQ(FD::filedDocumentsRoot(), desktop());
    const QStringList filed = FD::putFilesIntoFiledDocuments({makeFile(source, QStringLiteral("d.txt"))}, true);
    EXPECT_EQ(filed, QStringList{desktop() + QStringLiteral("/d.txt")});
    EXPECT_FALSE(QFileInfo::exists(defaultRoot())) << "the feature's folder is not created";

    const QString onDesktop = makeFile(desktop(), QStringLiteral("e.txt"));
    QList<FD::FilingOutcome> outcomes;
    EXPECT_TRUE(FD::putFilesIntoFiledDocuments({onDesktop}, true, &outcomes).isEmpty());
    EXPECT_EQ(outcomes.value(0).kind, FD::FilingOutcome::MarkedInPlace);
    EXPECT_EQ(FD::managedMark(onDesktop), std::optional<bool>(true));
}

TEST_F(FiledDocuments, ChosenFolderIsExpandedAndALinkedRootIsResolved)
{
    const QString real = freshFolder(QStringLiteral("RealRoot"));
    const QString link = KelsoTest::home() + QStringLiteral("/LinkedRoot");
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(real, link));
    Defaults::standard().setValue(FD::kFiledDocumentsPathKey, QStringLiteral("~/LinkedRoot"));
    EXPECT_TRUE(FD::usesFiledDocuments());
    EXPECT_EQ(FD::filedDocumentsRoot(), real);

    const QString chosen = KelsoTest::home() + QStringLiteral("/Chosen/Deep");
    Defaults::standard().setValue(FD::kFiledDocumentsPathKey, QStringLiteral("~/Chosen/Deep"));
    EXPECT_EQ(FD::filedDocumentsRoot(), chosen);
    EXPECT_TRUE(QFileInfo(chosen).isDir()) << "created with its parents";
}

TEST_F(FiledDocuments, AForcedMoveAcrossFileSystemsMovesTheFileWhole)
{
    useDefaultRoot();
    const QString shm = freshShmFolder();
    const QString p = makeFile(shm, QStringLiteral("remote.txt"), "payload");
    QList<FD::FilingOutcome> outcomes;
    const QStringList filed = FD::putFilesIntoFiledDocuments({p}, true, &outcomes);
    ASSERT_EQ(filed.size(), 1);
    EXPECT_EQ(outcomes.value(0).kind, FD::FilingOutcome::Moved);
    EXPECT_FALSE(QFile::exists(p)) << "moved as mv moves, no original left behind";
    QFile f(filed[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("payload"));
    QDir(shm).removeRecursively();

    // A file that is gone is reported and nothing is created.
    outcomes.clear();
    EXPECT_TRUE(FD::putFilesIntoFiledDocuments({source + QStringLiteral("/gone.txt")}, true, &outcomes).isEmpty());
    EXPECT_EQ(outcomes.value(0).kind, FD::FilingOutcome::Failed);
    EXPECT_FALSE(QFile::exists(todayUnder(defaultRoot()) + QStringLiteral("/gone.txt")));
}

TEST_F(FiledDocuments, FilingOntoAnotherFileSystemKeepsTagsRatingAndTime)
{
    ScratchVolume volume(QStringLiteral("filed-volume"));
    if (!volume.mounted())
        GTEST_SKIP() << qPrintable(volume.why());
    Defaults::standard().setValue(FD::kFiledDocumentsPathKey, volume.path() + QStringLiteral("/Filed"));
    FD::forgetRoot();
    const QString p = makeFile(source, QStringLiteral("Invoice.pdf"), "invoice");
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Tax"), QStringLiteral("2024")}, p));
    ASSERT_FALSE(Lumitag::setRating(4, p));
    ageFile(p, 400 * 86400);
    const qint64 oldTime = mtimeSec(p);

    QList<FD::FilingOutcome> outcomes;
    const QStringList filed = FD::putFilesIntoFiledDocuments({p}, true, &outcomes);
    ASSERT_EQ(filed.size(), 1);
    const QString where = filed[0];
    EXPECT_EQ(where, todayUnder(volume.path() + QStringLiteral("/Filed")) + QStringLiteral("/Invoice.pdf"));
    EXPECT_EQ(outcomes.value(0).kind, FD::FilingOutcome::Moved);
    EXPECT_FALSE(outcomes.value(0).markFailed);
    EXPECT_FALSE(QFile::exists(p)) << "the original is removed";
    EXPECT_EQ(Lumitag::getUserTags(where), (QStringList{QStringLiteral("Tax"), QStringLiteral("2024")}));
    EXPECT_EQ(Lumitag::getRating(where), 4.0);
    EXPECT_EQ(FD::managedMark(where), std::optional<bool>(true));
    // The time is the file's own; writing the mark nudges an old file by exactly 2 seconds.
    EXPECT_EQ(mtimeSec(where), oldTime + 2);
    Defaults::standard().removeObjectForKey(FD::kFiledDocumentsPathKey);
    FD::forgetRoot();
}

TEST_F(FiledDocuments, AccentedNamesKeepTheirBytesAndClashesAreFound)
{
    useDefaultRoot();
    const QString name = QString::fromUtf8("Caf\u00e9.txt"); // composed, as typed on Linux
    const QString first = makeFile(freshFolder(QStringLiteral("a")), name, "one");
    const QString second = makeFile(freshFolder(QStringLiteral("b")), name, "two");
    const QStringList filed = FD::putFilesIntoFiledDocuments({first, second}, true);
    const QString today = todayUnder(defaultRoot());
    ASSERT_EQ(filed, (QStringList{today + QLatin1Char('/') + name, today + QString::fromUtf8("/Caf\u00e9 1.txt")}));
    EXPECT_EQ(QFile::encodeName(filed[0]).right(6), QByteArray("\xc3\xa9.txt")) << "the composed é is kept";
    QFile f(filed[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("one")) << "the second file did not replace the first";
    EXPECT_EQ(QDir(today).entryList(QDir::Files).size(), 2);
}

TEST_F(FiledDocuments, AMarkThatCannotBeWrittenIsReported)
{
    useDefaultRoot();
    // A symbolic link is filed like a file, but Linux keeps no user attributes on links.
    const QString target = makeFile(source, QStringLiteral("target.txt"));
    const QString link = source + QStringLiteral("/Shortcut.txt");
    ASSERT_TRUE(QFile::link(target, link));
    QList<FD::FilingOutcome> outcomes;
    FD::putFilesIntoFiledDocuments({link}, true, &outcomes);
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].kind, FD::FilingOutcome::Moved);
    EXPECT_TRUE(outcomes[0].markFailed);
    EXPECT_TRUE(outcomes[0].why.contains(QStringLiteral("managed mark"))) << qPrintable(outcomes[0].why);
    EXPECT_TRUE(QFileInfo(outcomes[0].destination).isSymLink());
}

TEST_F(FiledDocuments, MarkingWritesOnlyChangesAndNudgesOldFiles)
{
    const QString yesterday = makeFile(source, QStringLiteral("y.txt"));
    const QString tenMinutes = makeFile(source, QStringLiteral("t.txt"));
    ageFile(yesterday, 86400);
    ageFile(tenMinutes, 600);
    const qint64 y0 = mtimeSec(yesterday);
    const qint64 t0 = mtimeSec(tenMinutes);

    EXPECT_TRUE(FD::setManaged(true, yesterday));
    EXPECT_TRUE(FD::setManaged(true, tenMinutes));
    EXPECT_EQ(mtimeSec(yesterday), y0 + 2);
    EXPECT_EQ(mtimeSec(tenMinutes), t0);
    EXPECT_TRUE(FD::pathsAreAllManaged({yesterday, tenMinutes}));
    EXPECT_TRUE(FD::pathsAreAllManaged({}));

    // Same value again: nothing written, time unchanged.
    ageFile(yesterday, 86400);
    const qint64 y1 = mtimeSec(yesterday);
    EXPECT_TRUE(FD::setManaged(true, yesterday));
    EXPECT_EQ(mtimeSec(yesterday), y1);

    EXPECT_TRUE(FD::setManaged(false, tenMinutes));
    EXPECT_FALSE(FD::pathsAreAllManaged({yesterday, tenMinutes}));
    EXPECT_FALSE(FD::pathsAreAllManaged({source + QStringLiteral("/unmarked")}));

    // A link cannot carry the mark: false, and the target is untouched.
    const QString link = source + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(tenMinutes, link));
    EXPECT_FALSE(FD::setManaged(true, link));
    EXPECT_EQ(FD::managedMark(tenMinutes), std::optional<bool>(false));
}

TEST_F(FiledDocuments, EachRealMarkWriteIsPaced)
{
    QStringList paths;
    for (int i = 0; i < 5; ++i)
        paths.append(makeFile(source, QStringLiteral("p%1").arg(i)));
    QElapsedTimer timer;
    timer.start();
    for (const QString &p : paths)
        ASSERT_TRUE(FD::setManaged(true, p));
    EXPECT_GE(timer.elapsed(), 5 * 20);
}

TEST(FiledDocumentsPaths, WhereTheMarkIsAllowed)
{
    EXPECT_TRUE(FD::pathOKForManaged(QStringLiteral("/home/u/Documents/a.pdf")));
    EXPECT_FALSE(FD::pathOKForManaged(QStringLiteral("/home/u/Library/Mail/x")));
    EXPECT_FALSE(FD::pathOKForManaged(QStringLiteral("/home/u/Library/Caches/x")));
    EXPECT_FALSE(FD::pathOKForManaged(QStringLiteral("/home/u/Photos Library.photoslibrary/x")));
    EXPECT_FALSE(FD::pathOKForManaged(QStringLiteral("/var/tmp/x")));
    EXPECT_FALSE(FD::pathOKForManaged(QStringLiteral("/private/x")));
}

TEST_F(FiledDocuments, AMarkTheIndexHasNotReadNudgesTheFileUntilTheIndexAgrees)
{
    const QString indexPath = MdIndex::Store::defaultPath();
    const QString known = makeFile(source, QStringLiteral("known.txt"));   // marked before the index read it
    const QString unseen = makeFile(source, QStringLiteral("unseen.txt")); // marked after
    ASSERT_FALSE(Lumitag::setXAttrMetaData(true, LumitagKeys::Managed, known));
    for (const QString &p : {known, unseen})
        ageFile(p, 86400);
    MdIndex::CrawlRules rules;
    rules.roots = {source};
    MdIndex::Crawler crawler(indexPath, rules);
    ASSERT_TRUE(crawler.openStore(nullptr));
    ASSERT_TRUE(crawler.crawlNames());
    while (crawler.indexContentBatch(64) > 0) {
    }
    ASSERT_FALSE(Lumitag::setXAttrMetaData(true, LumitagKeys::Managed, unseen));
    const QString late = makeFile(source, QStringLiteral("late.txt")); // not in the index at all
    ASSERT_FALSE(Lumitag::setXAttrMetaData(true, LumitagKeys::Managed, late));
    ageFile(late, 86400);
    const qint64 k0 = mtimeSec(known), u0 = mtimeSec(unseen), l0 = mtimeSec(late);

    // The mark already holds everywhere: only the file whose record lacks it is nudged.
    EXPECT_TRUE(FD::setManaged(true, known));
    EXPECT_TRUE(FD::setManaged(true, unseen));
    EXPECT_TRUE(FD::setManaged(true, late));
    EXPECT_EQ(mtimeSec(known), k0);
    EXPECT_EQ(mtimeSec(unseen), u0 + 2);
    EXPECT_EQ(mtimeSec(late), l0);
    EXPECT_TRUE(FD::indexDisagreesWithMark(known, false, indexPath)); // the value counts, not only presence

    // The nudge makes the index read the file again (the event stream reports its folder);
    // afterwards index and file agree and a second marking leaves the time alone.
    crawler.applyChanges({{source, MdIndex::ChangeKind::FolderChanged}});
    EXPECT_FALSE(FD::indexDisagreesWithMark(unseen, true, indexPath)) << "a record waiting for the content pass";
    while (crawler.indexContentBatch(64) > 0) {
    }
    EXPECT_FALSE(FD::indexDisagreesWithMark(unseen, true, indexPath));
    ageFile(unseen, 86400);
    const qint64 u1 = mtimeSec(unseen);
    EXPECT_TRUE(FD::setManaged(true, unseen));
    EXPECT_EQ(mtimeSec(unseen), u1);

    // No index file at all: nothing disagrees.
    EXPECT_FALSE(FD::indexDisagreesWithMark(unseen, false, source + QStringLiteral("/no-index.sqlite3")));
}
