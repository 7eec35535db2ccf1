// The crawler on a real folder tree: what it indexes and leaves out, content, live changes
// (create, rename, delete, attributes), files that vanished between two walks, and its thread.
#include "platform/Xattr.h"
#include "platform/mdindex/MdCrawler.h"
#include "platform/mdindex/MdSearch.h"
#include "platform/thumbnailer/ChildProcesses.h"
#include "platform/thumbnailer/DecoderWorkers.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QUrl>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace MdIndex;

namespace {

class MdCrawlerTest : public ::testing::Test
{
protected:
    QTemporaryDir tmp{KelsoTest::home() + QStringLiteral("/crawl-XXXXXX")};
    QString root = tmp.path() + QStringLiteral("/tree");
    QString db = tmp.path() + QStringLiteral("/index.sqlite3");

    void SetUp() override
    {
        KelsoTest::writeFile(root + QStringLiteral("/docs/Plan.txt"), "the harvest schedule for autumn");
        KelsoTest::writeFile(root + QStringLiteral("/docs/deep/a/b/Notes.md"), "# meeting notes");
        KelsoTest::writeFile(root + QStringLiteral("/photo.jpg"), QByteArray("\xff\xd8\xff\xe0", 4));
        KelsoTest::writeFile(root + QStringLiteral("/.hidden/secret.txt"), "harvest");
        KelsoTest::writeFile(root + QStringLiteral("/.dotfile"), "harvest");
        KelsoTest::writeFile(root + QStringLiteral("/build/out.o"), "x");
        KelsoTest::writeFile(root + QStringLiteral("/cache.tmp"), "x");
        // A name that is not UTF-8.
        const QByteArray bad = QFile::encodeName(root) + "/bad\xff.txt";
        FILE *f = fopen(bad.constData(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    CrawlRules rules() const
    {
        CrawlRules r;
        r.roots = {root};
        r.excludedFolders = {root + QStringLiteral("/build")};
        r.excludedNamePatterns = {QStringLiteral("*.tmp")};
        return r;
    }
    static QStringList paths(Store &store, const QString &query)
    {
        Searcher s(store);
        SearchResult r = s.run(query, SearchOptions{{}, 0, nullptr});
        EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        QStringList out;
        for (const FileRecord &f : r.items)
            out.append(f.path);
        out.sort();
        return out;
    }
    QStringList all(Store &store) { return paths(store, QStringLiteral("kMDItemFSName == \"*\"")); }
    QString p(const char *rel) const { return root + QLatin1Char('/') + QLatin1String(rel); }
};

} // namespace

TEST_F(MdCrawlerTest, NamesPassIndexesTheTreeAndLeavesOutHiddenExcludedAndNonUtf8Names)
{
    Crawler c(db, rules());
    QString error;
    ASSERT_TRUE(c.openStore(&error)) << error.toStdString();
    ASSERT_TRUE(c.crawlNames());
    EXPECT_EQ(all(c.store()), (QStringList{root, p("docs"), p("docs/Plan.txt"), p("docs/deep"), p("docs/deep/a"),
                                           p("docs/deep/a/b"), p("docs/deep/a/b/Notes.md"), p("photo.jpg")}));
    const CrawlProgress progress = c.progress();
    EXPECT_TRUE(progress.namesDone);
    EXPECT_EQ(progress.files, 7);
    EXPECT_EQ(progress.skippedNames, 1);
    const FileRecord plan = *c.store().byPath(p("docs/Plan.txt"));
    EXPECT_EQ(plan.size, 31);
    EXPECT_EQ(plan.parent, c.store().byPath(p("docs"))->id);
    EXPECT_NEAR(double(plan.modifiedMs), double(QFileInfo(p("docs/Plan.txt")).lastModified().toMSecsSinceEpoch()),
                1000.0);
    EXPECT_TRUE(c.store().nameTrigramsReady());
    EXPECT_EQ(Crawler::storedProgress(c.store()).files, 7);
}

TEST_F(MdCrawlerTest, ContentPassAddsTypeTagsRatingAndText)
{
    int err = 0;
    ASSERT_TRUE(Xattr::set(p("photo.jpg"), QStringLiteral("xdg.tags"), "Holiday,Red", &err)) << err;
    ASSERT_TRUE(Xattr::set(p("photo.jpg"), QStringLiteral("baloo.rating"), "8", &err)) << err;
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    int rounds = 0;
    while (c.indexContentBatch(3) > 0)
        ++rounds;
    EXPECT_GE(rounds, 3); // batches of three over eight entries
    EXPECT_TRUE(c.store().pendingContent(10).isEmpty());
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemTextContent == \"harvest*\"cdw")),
              QStringList{p("docs/Plan.txt")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemContentTypeTree == \"public.image\"")),
              QStringList{p("photo.jpg")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemContentTypeTree == \"public.folder\" && kMDItemFSName == \"a\"")),
              QStringList{p("docs/deep/a")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("tag: red starrating:>=4")), QStringList{p("photo.jpg")});
    const FileRecord jpg = *c.store().byPath(p("photo.jpg"));
    EXPECT_EQ(jpg.contentType, QStringLiteral("public.jpeg"));
    EXPECT_EQ(jpg.mimeType, QStringLiteral("image/jpeg"));
}

TEST_F(MdCrawlerTest, LiveChangesCreateRenameDeleteAndAttributes)
{
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    // Rename: the old path goes, the new one comes.
    ASSERT_TRUE(QFile::rename(p("docs/Plan.txt"), p("docs/Harvest Plan.txt")));
    c.applyChanges({{p("docs/Plan.txt"), ChangeKind::Removed}, {p("docs/Harvest Plan.txt"), ChangeKind::Created}});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemDisplayName == \"*plan*\"cd")),
              QStringList{p("docs/Harvest Plan.txt")});
    // A folder moved in brings its contents; hidden and excluded paths stay out.
    KelsoTest::writeFile(tmp.path() + QStringLiteral("/outside/inner/file.txt"));
    ASSERT_TRUE(QDir().rename(tmp.path() + QStringLiteral("/outside"), p("moved")));
    KelsoTest::writeFile(p(".hidden/new.txt"));
    KelsoTest::writeFile(p("build/new.o"));
    c.applyChanges({{p("moved"), ChangeKind::Created},
                    {p(".hidden/new.txt"), ChangeKind::Created},
                    {p("build/new.o"), ChangeKind::Created},
                    {tmp.path() + QStringLiteral("/elsewhere"), ChangeKind::Created}});
    EXPECT_TRUE(c.store().byPath(p("moved/inner/file.txt")).has_value());
    EXPECT_FALSE(c.store().byPath(p(".hidden/new.txt")).has_value());
    EXPECT_FALSE(c.store().byPath(p("build/new.o")).has_value());
    // Deleting a folder removes it and everything below; a "modified" record for a vanished
    // file removes it too.
    ASSERT_TRUE(QDir(p("docs/deep")).removeRecursively());
    ASSERT_TRUE(QFile::remove(p("photo.jpg")));
    c.applyChanges({{p("docs/deep"), ChangeKind::Removed}, {p("photo.jpg"), ChangeKind::Modified}});
    EXPECT_EQ(all(c.store()), (QStringList{root, p("docs"), p("docs/Harvest Plan.txt"), p("moved"), p("moved/inner"),
                                           p("moved/inner/file.txt")}));
    // Attributes and opens.
    int err = 0;
    ASSERT_TRUE(Xattr::set(p("moved/inner/file.txt"), QStringLiteral("xdg.tags"), "Green", &err));
    c.applyChanges(
        {{p("moved/inner/file.txt"), ChangeKind::AttributesChanged}, {p("docs/Harvest Plan.txt"), ChangeKind::Opened}});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemUserTags == \"green\"c")),
              QStringList{p("moved/inner/file.txt")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemLastUsedDate > $time.now(-60)")),
              QStringList{p("docs/Harvest Plan.txt")});
}

TEST_F(MdCrawlerTest, ASecondWalkDropsWhatVanishedAndKeepsIds)
{
    {
        Crawler c(db, rules());
        ASSERT_TRUE(c.openStore(nullptr));
        ASSERT_TRUE(c.crawlNames());
    }
    ASSERT_TRUE(QDir(p("docs/deep")).removeRecursively());
    KelsoTest::writeFile(p("docs/new.txt"));
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    const qint64 planId = c.store().byPath(p("docs/Plan.txt"))->id;
    ASSERT_TRUE(c.crawlNames());
    EXPECT_EQ(all(c.store()), (QStringList{root, p("docs"), p("docs/Plan.txt"), p("docs/new.txt"), p("photo.jpg")}));
    EXPECT_EQ(c.store().byPath(p("docs/Plan.txt"))->id, planId);
    EXPECT_EQ(c.progress().removed, 4);
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemDisplayName == \"*notes*\"cd")), QStringList());
}

TEST_F(MdCrawlerTest, ThreadCrawlsPausesForTheUserAndAppliesQueuedChanges)
{
    std::atomic<bool> userActive{true};
    Crawler c(db, rules());
    c.setUserActiveHook([&] { return userActive.load(); });
    c.start();
    ASSERT_TRUE(KelsoTest::waitFor([&] { return c.progress().namesDone; }, 20000));
    usleep(300 * 1000);
    EXPECT_EQ(c.progress().contentDone, 0); // paused while the user is active
    userActive = false;
    ASSERT_TRUE(KelsoTest::waitFor([&] { return c.progress().contentDone == 8; }, 20000)) << c.progress().contentDone;
    KelsoTest::writeFile(p("queued.txt"));
    c.enqueue({{p("queued.txt"), ChangeKind::Created}});
    Store reader;
    ASSERT_TRUE(reader.open(db, Store::Mode::ReadOnly, nullptr));
    EXPECT_TRUE(KelsoTest::waitFor([&] { return reader.byPath(p("queued.txt")).has_value(); }, 20000));
    c.stop();
    EXPECT_TRUE(c.progress().error.isEmpty());
}

TEST_F(MdCrawlerTest, LastUsedDatesComeFromTheDesktopsRecordOfOpens)
{
    const QString xbel = tmp.path() + QStringLiteral("/recently-used.xbel");
    const QByteArray planUrl = QUrl::fromLocalFile(p("docs/Plan.txt")).toEncoded();
    KelsoTest::writeFile(xbel, "<?xml version=\"1.0\"?>\n<xbel version=\"1.0\">\n"
                               "<bookmark href=\"" +
                                   planUrl +
                                   "\" added=\"2026-01-01T10:00:00Z\""
                                   " modified=\"2026-01-02T10:00:00Z\" visited=\"2026-01-03T10:00:00.5Z\"/>\n"
                                   "<bookmark href=\"https://example.org/x\" visited=\"2026-01-03T10:00:00Z\"/>\n"
                                   "<bookmark href=\"file:///nowhere/gone.txt\" visited=\"2026-01-03T10:00:00Z\"/>\n"
                                   "</xbel>\n");
    CrawlRules r = rules();
    r.recentlyUsedFile = xbel;
    Crawler c(db, r);
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    c.importRecentlyUsed(xbel);
    const qint64 want = QDateTime(QDate(2026, 1, 3), QTime(10, 0, 0, 500), Qt::UTC).toMSecsSinceEpoch();
    EXPECT_EQ(c.store().byPath(p("docs/Plan.txt"))->lastUsedMs, want);
    EXPECT_EQ(c.store().byPath(p("photo.jpg"))->lastUsedMs, 0);
    // A change of the record is read again; a damaged record loses nothing already there.
    KelsoTest::writeFile(xbel, "<xbel><bookmark href=\"" + QUrl::fromLocalFile(p("photo.jpg")).toEncoded() +
                                   "\" visited=\"2026-02-01T00:00:00Z\"/><bookmark href=");
    c.applyChanges({{xbel, ChangeKind::Modified}});
    EXPECT_GT(c.store().byPath(p("photo.jpg"))->lastUsedMs, 0);
    EXPECT_EQ(c.store().byPath(p("docs/Plan.txt"))->lastUsedMs, want);
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemLastUsedDate > $time.now")), QStringList());
}

// The first walk into an empty index has nothing stale to remove; a later walk through the
// same connection still must.
TEST_F(MdCrawlerTest, AWalkAfterTheFirstThroughTheSameConnectionDropsWhatVanished)
{
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    EXPECT_TRUE(c.store().byPath(p("docs/Plan.txt")));
    ASSERT_TRUE(QFile::remove(p("docs/Plan.txt")));
    ASSERT_TRUE(c.crawlNames());
    EXPECT_FALSE(c.store().byPath(p("docs/Plan.txt")));
    EXPECT_EQ(c.progress().removed, 1);
    EXPECT_TRUE(c.store().byPath(p("photo.jpg")));
}

TEST_F(MdCrawlerTest, AFirstWalkCutShortLeavesAnIndexThatStillTakesUpdates)
{
    {
        Crawler c(db, rules());
        ASSERT_TRUE(c.openStore(nullptr));
        ASSERT_TRUE(c.store().begin());
        ASSERT_TRUE(c.store().beginBulkInsert()); // as a first walk does, then stops before its end
        FileRecord r;
        r.path = r.name = r.displayName = p("photo.jpg");
        ASSERT_NE(c.store().upsertStat(r, 1), 0);
        ASSERT_NE(c.store().upsertStat(r, 1), 0); // overlapping roots list a path twice
        ASSERT_TRUE(c.store().commit());
    }
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    EXPECT_EQ(c.store().count(), 1);
    ASSERT_TRUE(c.crawlNames());
    c.applyChanges({{p("photo.jpg"), ChangeKind::Modified}});
    EXPECT_EQ(all(c.store()).count(p("photo.jpg")), 1);
    EXPECT_EQ(c.store().count(), 8);
}

TEST_F(MdCrawlerTest, NestedRootsAreWalkedOnce)
{
    CrawlRules r = rules();
    r.roots = {root, p("docs"), root + QStringLiteral("/")};
    Crawler c(db, r);
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    EXPECT_EQ(c.store().count(), 8);
    EXPECT_EQ(c.progress().files, 7);
}

TEST_F(MdCrawlerTest, AFolderRecordBringsItsListingInLineWithTheDisk)
{
    // Siblings whose names sort between a folder and its contents ("a-b" < "a/x").
    KelsoTest::writeFile(p("list/a/x.txt"));
    KelsoTest::writeFile(p("list/a-b"));
    KelsoTest::writeFile(p("list/a0"));
    KelsoTest::writeFile(p("list/keep.txt"));
    KelsoTest::writeFile(p("list/gone.txt"));
    KelsoTest::writeFile(p("list/oldsub/y.txt"));
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    QStringList children;
    for (const FileRecord &child : c.store().directChildren(p("list")))
        children.append(child.path);
    EXPECT_EQ(children, (QStringList{p("list/a"), p("list/a-b"), p("list/a0"), p("list/gone.txt"), p("list/keep.txt"),
                                     p("list/oldsub")}));

    // The record names only the folder: new, vanished and moved-in entries are found by listing.
    ASSERT_TRUE(QFile::remove(p("list/gone.txt")));
    ASSERT_TRUE(QDir(p("list/oldsub")).removeRecursively());
    KelsoTest::writeFile(p("list/new.txt"));
    KelsoTest::writeFile(p("list/.hidden-new"));
    KelsoTest::writeFile(tmp.path() + QStringLiteral("/outside/inner/deep.txt"));
    ASSERT_TRUE(QDir().rename(tmp.path() + QStringLiteral("/outside"), p("list/movedin")));
    c.applyChanges({{p("list"), ChangeKind::FolderChanged}});
    EXPECT_EQ(
        paths(c.store(), QStringLiteral("kMDItemPath == \"") + p("list") + QStringLiteral("/*\"")),
        (QStringList{p("list/a"), p("list/a-b"), p("list/a/x.txt"), p("list/a0"), p("list/keep.txt"), p("list/movedin"),
                     p("list/movedin/inner"), p("list/movedin/inner/deep.txt"), p("list/new.txt")}));

    // An attribute record re-reads the tags of the folder's entries.
    int err = 0;
    ASSERT_TRUE(Xattr::set(p("list/keep.txt"), QStringLiteral("xdg.tags"), "Amber", &err));
    c.applyChanges({{p("list"), ChangeKind::FolderChanged}});
    EXPECT_TRUE(paths(c.store(), QStringLiteral("kMDItemUserTags == \"amber\"c")).isEmpty());
    c.applyChanges({{p("list"), ChangeKind::FolderAttributesChanged}});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemUserTags == \"amber\"c")), QStringList{p("list/keep.txt")});

    // A folder that vanished goes with everything below it.
    ASSERT_TRUE(QDir(p("list")).removeRecursively());
    c.applyChanges({{p("list"), ChangeKind::FolderChanged}});
    EXPECT_FALSE(c.store().byPath(p("list/a/x.txt")).has_value());
    EXPECT_FALSE(c.store().byPath(p("list")).has_value());
}

namespace {
// A one-page PDF whose page shows `words` in a standard font (no embedded font needed).
QByteArray pdfWithText(const QByteArray &words)
{
    const QByteArray stream = "BT /F1 24 Tf 72 700 Td (" + words + ") Tj ET";
    QList<QByteArray> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                 "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
                                 "/Resources << /Font << /F1 5 0 R >> >> >>",
                                 "<< /Length " + QByteArray::number(stream.size()) + " >>\nstream\n" + stream +
                                     "\nendstream",
                                 "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype o : offsets)
        pdf += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}
} // namespace

TEST_F(MdCrawlerTest, PdfTextIsIndexedWithinTheCapAndADamagedPdfCostsOnlyItsOwnText)
{
    KelsoTest::writeFile(p("papers/moon.pdf"), pdfWithText("harvest moon rising"));
    KelsoTest::writeFile(p("papers/broken.pdf"), "%PDF-1.4\nthis is not a PDF at all");
    KelsoTest::writeFile(p("papers/after.txt"), "written after the broken one");
    CrawlRules r = rules();
    r.textCapBytes = 12; // "harvest moon"
    Crawler c(db, r);
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    while (c.indexContentBatch(64) > 0) {
    }
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemTextContent == \"moon*\"cdw")),
              QStringList{p("papers/moon.pdf")});
    // Beyond the cap.
    EXPECT_TRUE(paths(c.store(), QStringLiteral("kMDItemTextContent == \"rising*\"cdw")).isEmpty());
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemContentTypeTree == \"com.adobe.pdf\"")),
              (QStringList{p("papers/broken.pdf"), p("papers/moon.pdf")}));
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemTextContent == \"written*\"cdw")),
              QStringList{p("papers/after.txt")});
}

TEST_F(MdCrawlerTest, AFirstWalkKeepsNamesAsBytesAndFindsThemFolded)
{
    // p() reads its text as Latin-1: these names are UTF-8.
    auto u = [this](const char *rel) { return root + QLatin1Char('/') + QString::fromUtf8(rel); };
    KelsoTest::writeFile(u("names/Café Crème.txt"));
    KelsoTest::writeFile(u("names/MIXED Case.md"));
    KelsoTest::writeFile(u("names/sub/ÆRØ.txt"));
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    const std::optional<FileRecord> cafe = c.store().byPath(u("names/Café Crème.txt"));
    ASSERT_TRUE(cafe.has_value());
    EXPECT_EQ(cafe->name, QStringLiteral("Café Crème.txt"));
    EXPECT_EQ(cafe->parent, c.store().byPath(p("names"))->id);
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemDisplayName == \"*cafe creme*\"cd")),
              QStringList{u("names/Café Crème.txt")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemDisplayName == \"*mixed c*\"cd")),
              QStringList{u("names/MIXED Case.md")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemDisplayName == \"*ærø*\"cd")),
              QStringList{u("names/sub/ÆRØ.txt")});
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemFSName == \"mixed*\"")), QStringList{});
}

TEST_F(MdCrawlerTest, APdfWhoseExtractorLoopsIsCutOffAtTheTimeLimitAndTheBatchGoesOn)
{
    // A text extractor that never answers: it greets as a decoder does, then spins.
    const QString worker = tmp.path() + QStringLiteral("/looping-worker.sh");
    KelsoTest::writeFile(worker, "#!/bin/sh\nprintf 'KLWR' >&3\nwhile :; do :; done\n");
    ASSERT_TRUE(QFile::setPermissions(worker, QFile::ReadOwner | QFile::ExeOwner));
    // Workers kept from earlier jobs would be reused: they go first.
    DecoderWorkers::stopAll();
    ChildProcesses::resumeForTesting();
    DecoderWorkers::setProgram(QFile::encodeName(worker));
    ChildProcesses::setJobTimeLimitMs(1500);
    struct Restore {
        ~Restore()
        {
            DecoderWorkers::stopAll();
            ChildProcesses::resumeForTesting();
            DecoderWorkers::setProgram("/proc/self/exe");
            ChildProcesses::setJobTimeLimitMs(4000);
        }
    } restore;

    KelsoTest::writeFile(p("papers/loop.pdf"), pdfWithText("never read"));
    KelsoTest::writeFile(p("papers/after.txt"), "written after the looping one");
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    QElapsedTimer t;
    t.start();
    while (c.indexContentBatch(64) > 0) {
    }
    const qint64 ms = t.elapsed();
    EXPECT_GE(ms, 1400) << "the extractor did not run into the limit";
    EXPECT_LT(ms, 1500 + 5000); // the limit, plus starting a worker on a busy machine
    EXPECT_TRUE(c.store().pendingContent(10).isEmpty());
    // The PDF is indexed by name and type, without text; the files after it got theirs.
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemContentTypeTree == \"com.adobe.pdf\"")),
              QStringList{p("papers/loop.pdf")});
    EXPECT_TRUE(paths(c.store(), QStringLiteral("kMDItemTextContent == \"never*\"cdw")).isEmpty());
    EXPECT_EQ(paths(c.store(), QStringLiteral("kMDItemTextContent == \"written*\"cdw")),
              QStringList{p("papers/after.txt")});
    // The spinning worker was killed, not left behind.
    EXPECT_TRUE(KelsoTest::waitFor([] { return DecoderWorkers::workerPids().isEmpty(); }, 2000));
}

TEST_F(MdCrawlerTest, AFolderRecordLeavesOutNamesThatAreNotUtf8AndKeepsTheOthersAsTheyAre)
{
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    const qint64 before = c.store().count();
    // A new folder arrives holding a name that is not UTF-8 beside one that is; then another
    // such name appears in a folder the index knows.
    const QByteArray folder = QFile::encodeName(p("arrived"));
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    for (const QByteArray &name : {QByteArray("/caf\xe9.txt"), QByteArray("/ok \xc3\xa9.txt")}) {
        FILE *f = fopen((folder + name).constData(), "w");
        ASSERT_NE(f, nullptr);
        fclose(f);
    }
    FILE *f = fopen((QFile::encodeName(p("docs")) + "/r\xe9sum\xe9.txt").constData(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    c.applyChanges({{p("arrived"), ChangeKind::Created},
                    {p("docs"), ChangeKind::FolderChanged},
                    {root, ChangeKind::FolderChanged}});
    EXPECT_EQ(c.store().count(), before + 2); // the folder and "ok é.txt"
    EXPECT_TRUE(c.store().byPath(p("arrived") + QStringLiteral("/ok \u00e9.txt")).has_value());
    // Nothing was stored under a name the bytes were turned into.
    for (const QString &mangled :
         {p("arrived") + QStringLiteral("/caf\u00e9.txt"), p("arrived") + QStringLiteral("/caf\ufffd.txt"),
          p("docs") + QStringLiteral("/r\u00e9sum\u00e9.txt"), p("docs") + QStringLiteral("/r\ufffdsum\ufffd.txt"),
          p("bad\ufffd.txt")})
        EXPECT_FALSE(c.store().byPath(mangled).has_value()) << mangled.toStdString();
    EXPECT_TRUE(paths(c.store(), QStringLiteral("kMDItemFSName == \"*sum*\"")).isEmpty());
}

TEST_F(MdCrawlerTest, AFirstWalkWritesWithoutTheLogAndLeavesTheIndexInWalMode)
{
    const QString wal = db + QStringLiteral("-wal");
    {
        Crawler c(db, rules());
        ASSERT_TRUE(c.openStore(nullptr));
        ASSERT_TRUE(c.crawlNames());
        // Back in WAL mode: the next write goes to the log, and a reader sees the walk.
        c.applyChanges({{p("photo.jpg"), ChangeKind::Modified}});
        EXPECT_TRUE(QFile::exists(wal));
        Store reader;
        ASSERT_TRUE(reader.open(db, Store::Mode::ReadOnly, nullptr));
        EXPECT_EQ(all(reader).size(), 8); // the root and its seven entries
        // Only an empty index is written that way.
        EXPECT_FALSE(c.store().setFirstWalkJournal(true));
    }
    // A walk cut short by a crash leaves the rollback journal behind: opening again restores WAL.
    QFile::remove(db);
    QFile::remove(wal);
    QFile::remove(db + QStringLiteral("-shm"));
    {
        Store s;
        ASSERT_TRUE(s.open(db, Store::Mode::ReadWrite, nullptr));
        ASSERT_TRUE(s.setFirstWalkJournal(true));
        EXPECT_FALSE(QFile::exists(wal));
        ASSERT_TRUE(s.begin());
        FileRecord r;
        r.path = p("photo.jpg");
        r.name = r.displayName = QStringLiteral("photo.jpg");
        ASSERT_NE(s.upsertStat(r, 1), 0);
        ASSERT_TRUE(s.commit());
    }
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    EXPECT_TRUE(QFile::exists(wal));
    EXPECT_EQ(all(c.store()).size(), 8);
}

TEST_F(MdCrawlerTest, AFirstWalkWithAReaderOpenCompletesAndTheReaderSeesIt)
{
    {
        Store init; // the schema, as the app's first open makes it
        ASSERT_TRUE(init.open(db, Store::Mode::ReadWrite, nullptr));
    }
    Store reader;
    ASSERT_TRUE(reader.open(db, Store::Mode::ReadOnly, nullptr));
    EXPECT_TRUE(all(reader).isEmpty());
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    EXPECT_EQ(all(reader).size(), 8); // the root and its seven entries
    EXPECT_EQ(paths(reader, QStringLiteral("kMDItemDisplayName == \"*plan*\"cd")), QStringList{p("docs/Plan.txt")});
}

TEST_F(MdCrawlerTest, AStopDuringTheFirstWalkReturnsPromptlyAndTheIndexStaysReadableAndResumable)
{
    constexpr int kFolders = 200, kFilesEach = 100;
    for (int f = 0; f < kFolders; ++f) {
        const QString folder = root + QStringLiteral("/many/f%1").arg(f);
        ASSERT_TRUE(QDir().mkpath(folder));
        for (int i = 0; i < kFilesEach; ++i) {
            QFile file(folder + QStringLiteral("/item%1.txt").arg(i));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    }
    {
        Crawler c(db, rules());
        c.start();
        ASSERT_TRUE(KelsoTest::waitFor([&] { return c.progress().files > 0 || c.progress().namesDone; }, 20000));
        QElapsedTimer stopping;
        stopping.start();
        c.stop();
        EXPECT_LT(stopping.elapsed(), 5000); // a hang, not a speed target
        EXPECT_TRUE(c.progress().error.isEmpty());
        Store reader;
        ASSERT_TRUE(reader.open(db, Store::Mode::ReadOnly, nullptr));
        EXPECT_TRUE(reader.byPath(root).has_value());
        EXPECT_LE(reader.count(), 8 + 1 + kFolders + kFolders * kFilesEach);
    }
    Crawler again(db, rules());
    ASSERT_TRUE(again.openStore(nullptr));
    EXPECT_FALSE(again.store().wasRebuilt());
    ASSERT_TRUE(again.crawlNames());
    EXPECT_EQ(again.store().count(), 8 + 1 + kFolders + kFolders * kFilesEach);
    EXPECT_TRUE(again.store().byPath(p("many/f199/item99.txt")).has_value());
    const auto folder = again.store().byPath(p("many/f7"));
    ASSERT_TRUE(folder.has_value());
    EXPECT_EQ(again.store().byPath(p("many/f7/item3.txt"))->parent, folder->id);
}

TEST_F(MdCrawlerTest, AFirstWalkLinksEveryEntryToItsFolderAcrossSeveralRoots)
{
    KelsoTest::writeFile(tmp.path() + QStringLiteral("/second/inner/leaf.txt"), "x");
    CrawlRules r = rules();
    r.roots.append(tmp.path() + QStringLiteral("/second"));
    Crawler c(db, r);
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    for (const QString &path : {p("docs/deep/a/b/Notes.md"), tmp.path() + QStringLiteral("/second/inner/leaf.txt")}) {
        const auto entry = c.store().byPath(path);
        ASSERT_TRUE(entry.has_value()) << path.toStdString();
        const auto folder = c.store().byPath(QFileInfo(path).absolutePath());
        ASSERT_TRUE(folder.has_value()) << path.toStdString();
        EXPECT_EQ(entry->parent, folder->id) << path.toStdString();
    }
    EXPECT_EQ(c.store().byPath(tmp.path() + QStringLiteral("/second"))->parent, 0);
}

TEST_F(MdCrawlerTest, AFirstWalkOnSeveralThreadsLinksEveryRowToItsFolderAndCountsWhatItWrote)
{
    int folders = 5; // those of SetUp read: the root, docs, docs/deep, a and b (build is left out)
    for (int a = 0; a < 30; ++a)
        for (int b = 0; b < 4; ++b) {
            for (int i = 0; i < 15; ++i)
                KelsoTest::writeFile(root + QStringLiteral("/many/%1/%2/item %3.txt").arg(a).arg(b).arg(i));
            folders += a == 0 && b == 0 ? 3 : b == 0 ? 2 : 1;
        }
    // Empty folders hand over no entries: they are counted all the same.
    for (int e = 0; e < 5; ++e)
        ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/zz empty %1").arg(e)));
    folders += 5;
    Crawler c(db, rules());
    ASSERT_TRUE(c.openStore(nullptr));
    ASSERT_TRUE(c.crawlNames());
    QHash<qint64, QString> pathOf;
    QHash<qint64, qint64> parentOf;
    ASSERT_TRUE(c.store().forEachRecord([&](const FileRecord &r) {
        pathOf.insert(r.id, r.path);
        parentOf.insert(r.id, r.parent);
        return true;
    }));
    const int expected = 8 + 1 + 30 + 30 * 4 + 30 * 4 * 15 + 5;
    EXPECT_EQ(pathOf.size(), expected);
    for (auto it = parentOf.cbegin(); it != parentOf.cend(); ++it) {
        const QString path = pathOf.value(it.key());
        if (path == root)
            EXPECT_EQ(it.value(), 0);
        else
            ASSERT_EQ(pathOf.value(it.value()), QFileInfo(path).path()) << path.toStdString();
    }
    const CrawlProgress progress = c.progress();
    EXPECT_EQ(progress.files, expected - 1); // the root's own row is not counted
    EXPECT_EQ(progress.folders, folders);
    EXPECT_EQ(progress.skippedNames, 1);
}

TEST_F(MdCrawlerTest, ALaterWalkWritesOnlyWhatChangedAndCatchesEveryKindOfChange)
{
    for (int i = 0; i < 300; ++i)
        KelsoTest::writeFile(root + QStringLiteral("/bulk/%1/file %2.txt").arg(i % 10).arg(i));
    KelsoTest::writeFile(p("grows.txt"), "short");
    KelsoTest::writeFile(p("touched.txt"), "same");
    KelsoTest::writeFile(p("becomes-folder"), "a file first");
    KelsoTest::writeFile(p("becomes-file/inner/deep.txt"));
    KelsoTest::writeFile(p("soon-excluded/x.txt"));
    KelsoTest::writeFile(tmp.path() + QStringLiteral("/second/leaf.txt"));
    CrawlRules r = rules();
    r.roots.append(tmp.path() + QStringLiteral("/second"));
    {
        Crawler c(db, r);
        ASSERT_TRUE(c.openStore(nullptr));
        ASSERT_TRUE(c.crawlNames());
        while (c.indexContentBatch(500) > 0) {
        }
    }
    const qint64 entries = [&] {
        Store s;
        EXPECT_TRUE(s.open(db, Store::Mode::ReadOnly, nullptr));
        return s.count();
    }();
    ASSERT_GT(entries, 300);

    // Nothing changed: the walk sees every entry and writes next to none (its progress and the
    // roots' own rows), where writing every row again would cost one change per entry.
    {
        Crawler c(db, r);
        ASSERT_TRUE(c.openStore(nullptr));
        const qint64 before = c.store().dataVersion() & 0xffffffff;
        ASSERT_TRUE(c.crawlNames());
        const qint64 changes = (c.store().dataVersion() & 0xffffffff) - before;
        EXPECT_LT(changes, 40) << "rows written by a walk over an unchanged tree";
        EXPECT_EQ(c.progress().files, entries - 2); // the roots' own rows are not counted
        EXPECT_EQ(c.progress().removed, 0);
        EXPECT_EQ(c.store().count(), entries);
    }

    // Every kind of change while Kelso was not running.
    KelsoTest::writeFile(p("grows.txt"), "a good deal longer than before");
    const QDateTime later = QDateTime::currentDateTime().addSecs(60);
    {
        QFile touched(p("touched.txt"));
        ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touched.setFileTime(later, QFileDevice::FileModificationTime));
    }
    ASSERT_TRUE(QFile::remove(p("becomes-folder")));
    KelsoTest::writeFile(p("becomes-folder/now inside.txt"));
    ASSERT_TRUE(QDir(p("becomes-file")).removeRecursively());
    KelsoTest::writeFile(p("becomes-file"), "a file now");
    KelsoTest::writeFile(p("bulk/7/late arrival.txt"));
    ASSERT_TRUE(QFile::remove(root + QStringLiteral("/bulk/3/file 13.txt")));
    ASSERT_TRUE(QDir(tmp.path() + QStringLiteral("/second")).removeRecursively());
    r.excludedFolders.append(p("soon-excluded"));
    Crawler c(db, r);
    ASSERT_TRUE(c.openStore(nullptr));
    const qint64 planId = c.store().byPath(p("docs/Plan.txt"))->id;
    ASSERT_TRUE(c.crawlNames());
    Store &s = c.store();
    EXPECT_EQ(s.byPath(p("grows.txt"))->size, 30);
    EXPECT_TRUE(s.byPath(p("grows.txt"))->contentPending);
    EXPECT_EQ(s.byPath(p("touched.txt"))->modifiedMs / 1000, later.toMSecsSinceEpoch() / 1000);
    EXPECT_TRUE(s.byPath(p("touched.txt"))->contentPending);
    EXPECT_FALSE(s.byPath(p("docs/Plan.txt"))->contentPending);
    EXPECT_EQ(s.byPath(p("docs/Plan.txt"))->id, planId);
    ASSERT_TRUE(s.byPath(p("becomes-folder")).has_value());
    EXPECT_TRUE(s.byPath(p("becomes-folder"))->isFolder);
    ASSERT_TRUE(s.byPath(p("becomes-folder/now inside.txt")).has_value());
    EXPECT_EQ(s.byPath(p("becomes-folder/now inside.txt"))->parent, s.byPath(p("becomes-folder"))->id);
    EXPECT_FALSE(s.byPath(p("becomes-file"))->isFolder);
    EXPECT_FALSE(s.byPath(p("becomes-file/inner")).has_value());
    EXPECT_FALSE(s.byPath(p("becomes-file/inner/deep.txt")).has_value());
    EXPECT_TRUE(s.byPath(p("bulk/7/late arrival.txt")).has_value());
    EXPECT_FALSE(s.byPath(p("bulk/3/file 13.txt")).has_value());
    EXPECT_FALSE(s.byPath(p("soon-excluded")).has_value());
    EXPECT_FALSE(s.byPath(p("soon-excluded/x.txt")).has_value());
    EXPECT_FALSE(s.byPath(tmp.path() + QStringLiteral("/second")).has_value());
    EXPECT_FALSE(s.byPath(tmp.path() + QStringLiteral("/second/leaf.txt")).has_value());
    // Gone: file 13; the old folder becomes-file with inner and its file; soon-excluded and its
    // file; the second root and its file; the old file row of becomes-folder.
    EXPECT_EQ(c.progress().removed, 1 + 3 + 2 + 2 + 1);
    EXPECT_EQ(s.count(), entries - 1 - 2 - 2 - 2 + 1 + 1); // + the late arrival, + now inside
}
