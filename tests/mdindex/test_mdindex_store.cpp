// The index database and searches against a real index in a temporary folder: rebuilding a
// damaged or outdated file, name queries of every class through both name sources, content,
// tags, scope, maximum count and cancelling.
#include "platform/mdindex/MdCrawler.h"
#include "platform/mdindex/MdSearch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace MdIndex;

namespace {

QStringList names(const SearchResult &r)
{
    QStringList out;
    for (const FileRecord &f : r.items)
        out.append(f.name);
    out.sort();
    return out;
}

class MdStoreTest : public ::testing::Test
{
protected:
    QTemporaryDir dir{KelsoTest::home() + QStringLiteral("/idx-XXXXXX")};
    QString dbPath = dir.path() + QStringLiteral("/index.sqlite3");
    Store store;

    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(store.open(dbPath, Store::Mode::ReadWrite, &error)) << error.toStdString();
    }
    qint64 add(const QString &path, const QString &text = QString(), const QStringList &tags = {}, double rating = 0)
    {
        FileRecord r;
        r.path = path;
        r.name = r.displayName = path.section(QLatin1Char('/'), -1);
        r.size = 10;
        r.modifiedMs = 1000;
        r.id = store.upsertStat(r, 1);
        r.tags = tags;
        r.rating = rating;
        EXPECT_NE(r.id, 0);
        EXPECT_TRUE(store.updateDetails(r));
        if (!text.isEmpty()) {
            EXPECT_TRUE(store.setText(r.id, text));
        }
        return r.id;
    }
    void fillNames()
    {
        ASSERT_TRUE(store.begin());
        add(QStringLiteral("/h/Annual Report.pdf"), QStringLiteral("quarterly figures and margins"));
        add(QStringLiteral("/h/report-draft.txt"), QStringLiteral("nothing here"));
        add(QStringLiteral("/h/Café.txt"), QString(), {QStringLiteral("Blue")}, 4);
        add(QStringLiteral("/h/sub/x.txt"), QStringLiteral("the margin notes"));
        add(QStringLiteral("/h/sub/zq.bin"));
        add(QStringLiteral("/h/sub/ZQ upper"));
        ASSERT_TRUE(store.commit());
    }
    SearchResult search(const QString &q, int max = 100, QStringList scopes = {})
    {
        Searcher s(store);
        SearchOptions o;
        o.maxCount = max;
        o.scopes = scopes;
        return s.run(q, o);
    }
    void expectNameClasses()
    {
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"*report*\"cd"))),
                  (QStringList{QStringLiteral("Annual Report.pdf"), QStringLiteral("report-draft.txt")}));
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"*Report*\""))),
                  QStringList{QStringLiteral("Annual Report.pdf")});
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"*cafe*\"cd"))),
                  QStringList{QStringLiteral("Café.txt")});
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"zq*\"cdw"))),
                  (QStringList{QStringLiteral("ZQ upper"), QStringLiteral("zq.bin")}));
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"zq*\"w"))),
                  QStringList{QStringLiteral("zq.bin")});
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"u*\"cdw"))),
                  QStringList{QStringLiteral("ZQ upper")});
        EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"x*\"cdw"))),
                  QStringList{QStringLiteral("x.txt")});
    }
};

} // namespace

TEST_F(MdStoreTest, NameQueriesOfEveryClassGiveTheSameBeforeAndAfterTheTrigramTable)
{
    fillNames();
    ASSERT_FALSE(store.nameTrigramsReady());
    expectNameClasses();
    ASSERT_TRUE(store.buildNameTrigrams());
    ASSERT_TRUE(store.nameTrigramsReady());
    expectNameClasses();
    // The triggers keep the trigram table in step with later writes.
    ASSERT_TRUE(store.begin());
    add(QStringLiteral("/h/Later Report"));
    EXPECT_EQ(store.removeTree(QStringLiteral("/h/report-draft.txt")), 1);
    ASSERT_TRUE(store.commit());
    EXPECT_EQ(names(search(QStringLiteral("kMDItemDisplayName == \"*report*\"cd"))),
              (QStringList{QStringLiteral("Annual Report.pdf"), QStringLiteral("Later Report")}));
}

TEST_F(MdStoreTest, ContentTagsRatingAndTheSearchBarsContentQuery)
{
    fillNames();
    const QString content = QStringLiteral("( * == \"margin*\"cdw || kMDItemTextContent == \"margin*\"cdw )");
    EXPECT_EQ(names(search(content)), (QStringList{QStringLiteral("Annual Report.pdf"), QStringLiteral("x.txt")}));
    EXPECT_EQ(names(search(QStringLiteral("kMDItemTextContent == \"quarter*\"cdw"))),
              QStringList{QStringLiteral("Annual Report.pdf")});
    EXPECT_TRUE(search(QStringLiteral("kMDItemTextContent == \"quarterl\"cdw")).items.isEmpty()); // whole word
    EXPECT_EQ(names(search(QStringLiteral("tag: blue starrating:>=4"))), QStringList{QStringLiteral("Café.txt")});
    EXPECT_TRUE(search(QStringLiteral("tag: blue starrating:>=4.5")).items.isEmpty());
    // Replacing a file's text drops the old words.
    const qint64 id = store.byPath(QStringLiteral("/h/sub/x.txt"))->id;
    ASSERT_TRUE(store.setText(id, QStringLiteral("other words")));
    EXPECT_EQ(names(search(content)), QStringList{QStringLiteral("Annual Report.pdf")});
    // Removing a file drops its text.
    store.removeTree(QStringLiteral("/h/Annual Report.pdf"));
    EXPECT_TRUE(search(QStringLiteral("kMDItemTextContent == \"quarter*\"cdw")).items.isEmpty());
}

TEST_F(MdStoreTest, ScopeMaximumCountAndCancel)
{
    fillNames();
    EXPECT_EQ(names(search(QStringLiteral("kMDItemFSName == \"*\""), 100, {QStringLiteral("/h/sub")})),
              (QStringList{QStringLiteral("ZQ upper"), QStringLiteral("x.txt"), QStringLiteral("zq.bin")}));
    EXPECT_TRUE(search(QStringLiteral("kMDItemFSName == \"*\""), 100, {QStringLiteral("/h/su")}).items.isEmpty());
    EXPECT_EQ(search(QStringLiteral("kMDItemFSName == \"*\""), 2).items.size(), 2);
    EXPECT_EQ(search(QStringLiteral("kMDItemFSName == \"*t*\"c"), 1).items.size(), 1);
    std::atomic<bool> cancel{true};
    Searcher s(store);
    SearchOptions o;
    o.cancel = &cancel;
    const SearchResult r = s.run(QStringLiteral("kMDItemFSName == \"*\""), o);
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(r.items.isEmpty());
    const SearchResult bad = s.run(QStringLiteral("kMDItemFSName == "), o);
    EXPECT_FALSE(bad.error.isEmpty());
    EXPECT_TRUE(bad.items.isEmpty());
}

TEST_F(MdStoreTest, RemovingAFolderRemovesWhatIsBelowItOnly)
{
    fillNames();
    ASSERT_TRUE(store.begin());
    add(QStringLiteral("/h/sub2"));
    add(QStringLiteral("/h/sub2/y"));
    ASSERT_TRUE(store.commit());
    EXPECT_EQ(store.removeTree(QStringLiteral("/h/sub")), 3);
    EXPECT_TRUE(store.byPath(QStringLiteral("/h/sub2/y")).has_value());
    EXPECT_EQ(store.count(), 5);
}

TEST_F(MdStoreTest, APersistedIndexOpensAgainWithItsRows)
{
    fillNames();
    store.close();
    Store again;
    QString error;
    ASSERT_TRUE(again.open(dbPath, Store::Mode::ReadOnly, &error)) << error.toStdString();
    EXPECT_FALSE(again.wasRebuilt());
    EXPECT_EQ(again.count(), 6);
}

TEST_F(MdStoreTest, GarbageTruncatedOrOutdatedFilesAreRebuiltNeverACrash)
{
    fillNames();
    store.close();
    auto reopen = [&](const char *what) {
        Store s;
        QString error;
        EXPECT_TRUE(s.open(dbPath, Store::Mode::ReadWrite, &error)) << what << error.toStdString();
        EXPECT_TRUE(s.wasRebuilt()) << what;
        EXPECT_EQ(s.count(), 0) << what;
        EXPECT_TRUE(s.meta(QStringLiteral("schema")) == QLatin1String("3")) << what;
        FileRecord r;
        r.path = r.name = r.displayName = QStringLiteral("/n");
        EXPECT_NE(s.upsertStat(r, 1), 0) << what;
    };
    // Truncated to half.
    {
        Store s;
        ASSERT_TRUE(s.open(dbPath, Store::Mode::ReadWrite, nullptr));
        ASSERT_TRUE(s.begin());
        for (int i = 0; i < 2000; ++i) {
            FileRecord r;
            r.path = QStringLiteral("/bulk/%1").arg(i);
            r.name = r.displayName = QString::number(i);
            s.upsertStat(r, 1);
        }
        ASSERT_TRUE(s.commit());
        s.close();
        QFile f(dbPath);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_GT(f.size(), 8192);
        ASSERT_TRUE(f.resize(f.size() / 2));
    }
    reopen("truncated");
    // Garbage.
    {
        QFile::remove(dbPath + QStringLiteral("-wal"));
        QFile f(dbPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(10000, 'g'));
    }
    {
        Store ro;
        QString error;
        EXPECT_FALSE(ro.open(dbPath, Store::Mode::ReadOnly, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    reopen("garbage");
    // Another schema version.
    {
        Store s;
        ASSERT_TRUE(s.open(dbPath, Store::Mode::ReadWrite, nullptr));
        ASSERT_TRUE(s.setMeta(QStringLiteral("schema"), QStringLiteral("0")));
    }
    reopen("old version");
    // The layout before display names equal to the file name were left out: every row had one.
    {
        Store s;
        ASSERT_TRUE(s.open(dbPath, Store::Mode::ReadWrite, nullptr));
        ASSERT_TRUE(s.setMeta(QStringLiteral("schema"), QStringLiteral("2")));
    }
    reopen("previous layout");
}

// The display name is stored only where it differs from the file name; every reader gets it back
// either way, from a first walk's rows and from single updates, after a reopen too.
TEST_F(MdStoreTest, DisplayNamesComeBackWhetherOrNotTheyWereStored)
{
    const QString root = dir.path() + QStringLiteral("/walked");
    KelsoTest::writeFile(root + QStringLiteral("/Walked Name.txt"));
    {
        Crawler c(dir.path() + QStringLiteral("/walk.sqlite3"), CrawlRules{{root}, {}, {}, 1024, {}});
        QString error;
        ASSERT_TRUE(c.openStore(&error)) << error.toStdString();
        ASSERT_TRUE(c.crawlNames());
        const auto walked = c.store().byPath(root + QStringLiteral("/Walked Name.txt"));
        ASSERT_TRUE(walked);
        EXPECT_EQ(walked->displayName, QStringLiteral("Walked Name.txt"));
        EXPECT_EQ(walked->name, QStringLiteral("Walked Name.txt"));
    }
    fillNames();
    ASSERT_TRUE(store.begin());
    FileRecord r;
    r.path = QStringLiteral("/h/viewer.desktop");
    r.name = QStringLiteral("viewer.desktop");
    r.displayName = QStringLiteral("Photo Viewer");
    ASSERT_NE(store.upsertStat(r, 1), 0);
    ASSERT_TRUE(store.commit());
    store.close();
    Store again;
    ASSERT_TRUE(again.open(dbPath, Store::Mode::ReadOnly, nullptr));
    EXPECT_EQ(again.byPath(QStringLiteral("/h/viewer.desktop"))->displayName, QStringLiteral("Photo Viewer"));
    EXPECT_EQ(again.byPath(QStringLiteral("/h/Café.txt"))->displayName, QStringLiteral("Café.txt"));
    QStringList displayNames;
    again.forEachRecord([&displayNames](const FileRecord &f) {
        displayNames.append(f.displayName);
        return true;
    });
    EXPECT_EQ(displayNames.size(), 7);
    EXPECT_FALSE(displayNames.contains(QString()));
    Searcher s(again);
    EXPECT_EQ(names(s.run(QStringLiteral("kMDItemDisplayName == \"*report*\"cd"), SearchOptions{})),
              (QStringList{QStringLiteral("Annual Report.pdf"), QStringLiteral("report-draft.txt")}));
    EXPECT_EQ(s.count(*parseQuery(QStringLiteral("kMDItemDisplayName == \"*Viewer*\"")).root, SearchOptions{}), 1);
}

// A process killed while it checkpoints leaves the database file shorter than its header says:
// the checkpoint copies the log's pages in page order, page 1 (with the new page count) first.
// The log still holds every page, so SQLite reads the index whole; it must not be thrown away.
TEST_F(MdStoreTest, AnIndexKilledInTheMiddleOfACheckpointKeepsItsRows)
{
    ASSERT_TRUE(store.begin());
    for (int i = 0; i < 2000; ++i) {
        FileRecord r;
        r.path = QStringLiteral("/grown/%1").arg(i);
        r.name = r.displayName = QString::number(i);
        ASSERT_NE(store.upsertStat(r, 1), 0);
    }
    ASSERT_TRUE(store.commit());
    // What the disk holds at a kill: the files as they are while the connection is open.
    const QString killed = dir.path() + QStringLiteral("/killed.sqlite3");
    ASSERT_TRUE(QFile::copy(dbPath, killed));
    ASSERT_TRUE(QFile::copy(dbPath + QStringLiteral("-wal"), killed + QStringLiteral("-wal")));
    store.close();

    QFile wal(killed + QStringLiteral("-wal"));
    ASSERT_TRUE(wal.open(QIODevice::ReadOnly));
    const QByteArray log = wal.readAll();
    ASSERT_GT(log.size(), 32);
    auto be32 = [](const char *p) {
        return (quint32(uchar(p[0])) << 24) | (quint32(uchar(p[1])) << 16) | (quint32(uchar(p[2])) << 8) |
               quint32(uchar(p[3]));
    };
    const qsizetype pageSize = be32(log.constData() + 8);
    QByteArray firstPage;
    for (qsizetype at = 32; at + 24 + pageSize <= log.size(); at += 24 + pageSize) {
        if (be32(log.constData() + at) == 1)
            firstPage = log.mid(at + 24, pageSize);
    }
    ASSERT_EQ(firstPage.size(), pageSize);
    QFile db(killed);
    ASSERT_TRUE(db.open(QIODevice::ReadWrite));
    ASSERT_EQ(db.write(firstPage), pageSize);
    // The state looked for: the header counts more pages than the file has.
    ASSERT_LT(db.size(), qint64(be32(firstPage.constData() + 28)) * pageSize);
    db.close();

    Store again;
    QString error;
    ASSERT_TRUE(again.open(killed, Store::Mode::ReadWrite, &error)) << error.toStdString();
    EXPECT_FALSE(again.wasRebuilt());
    EXPECT_EQ(again.count(), 2000);
    EXPECT_TRUE(again.byPath(QStringLiteral("/grown/1999")).has_value());
}

TEST_F(MdStoreTest, OneSearcherSeesWritesMadeBetweenItsShortQueries)
{
    fillNames();
    ASSERT_TRUE(store.buildNameTrigrams());
    Searcher s(store);
    const QString oneLetter = QStringLiteral("kMDItemDisplayName == \"k*\"cdw");
    EXPECT_TRUE(s.run(oneLetter, SearchOptions{}).items.isEmpty());
    ASSERT_TRUE(store.begin());
    add(QStringLiteral("/h/Kite"));
    ASSERT_TRUE(store.commit());
    ASSERT_EQ(s.run(oneLetter, SearchOptions{}).items.size(), 1);
    // A write through another connection (as the crawler's) is seen as well.
    Store writer;
    ASSERT_TRUE(writer.open(dbPath, Store::Mode::ReadWrite, nullptr));
    FileRecord r;
    r.path = QStringLiteral("/h/kayak");
    r.name = r.displayName = QStringLiteral("kayak");
    ASSERT_NE(writer.upsertStat(r, 1), 0);
    EXPECT_EQ(s.run(oneLetter, SearchOptions{}).items.size(), 2);
    store.removeTree(QStringLiteral("/h/Kite"));
    EXPECT_EQ(s.run(oneLetter, SearchOptions{}).items.size(), 1);
}

TEST_F(MdStoreTest, CountsAgreeWithTheFullSearchOnEveryPath)
{
    fillNames();
    ASSERT_TRUE(store.begin());
    for (int i = 0; i < 300; ++i)
        add(QStringLiteral("/h/bulk/Résumé %1 %2")
                .arg(i)
                .arg(i % 3 ? QStringLiteral("draft") : QStringLiteral("final")));
    ASSERT_TRUE(store.commit());
    const char *queries[] = {"kMDItemDisplayName == \"*resume*\"cd", "kMDItemDisplayName == \"*final*\"cd",
                             "kMDItemDisplayName == \"*t*\"cd",      "kMDItemDisplayName == \"*1?*\"cd",
                             "kMDItemDisplayName == \"r*\"cd",       "kMDItemDisplayName == \"*Résumé*\"",
                             "kMDItemDisplayName == \"d*\"cdw",      "kMDItemFSName == \"*zz*\"cd"};
    for (bool trigrams : {false, true}) {
        if (trigrams) {
            ASSERT_TRUE(store.buildNameTrigrams());
        }
        for (const char *q : queries) {
            Searcher s(store);
            const ParsedQuery parsed = parseQuery(QString::fromUtf8(q));
            ASSERT_TRUE(parsed.ok());
            SearchOptions all;
            all.maxCount = 0;
            const qsizetype full = s.run(*parsed.root, all).items.size();
            EXPECT_EQ(s.count(*parsed.root, SearchOptions{}), full) << q << " trigrams " << trigrams;
        }
    }
    Searcher s(store);
    EXPECT_EQ(s.count(*parseQuery(QStringLiteral("kMDItemDisplayName == \"*final*\"cd")).root, SearchOptions{}), 100);
}

TEST_F(MdStoreTest, CountsOfNamesThatRespectCaseAccentsOrWordStartsAgreeWithTheFullSearch)
{
    fillNames();
    ASSERT_TRUE(store.begin());
    add(QStringLiteral("/h/camelCaseReport.md"));
    add(QStringLiteral("/h/REPORT final"));
    add(QStringLiteral("/h/résumé Report"));
    add(QStringLiteral("/h/Resume q"));
    ASSERT_TRUE(store.commit());
    const char *queries[] = {"kMDItemDisplayName == \"*Report*\"",
                             "kMDItemDisplayName == \"*report*\"",
                             "kMDItemDisplayName == \"*REPORT*\"c",
                             "kMDItemDisplayName == \"*resume*\"c",
                             "kMDItemDisplayName == \"*resume*\"d",
                             "kMDItemDisplayName == \"*Resume*\"d",
                             "kMDItemDisplayName == \"*é*\"",
                             "kMDItemDisplayName == \"r*\"cdw",
                             "kMDItemDisplayName == \"case*\"w",
                             "kMDItemDisplayName == \"case*\"cdw",
                             "kMDItemDisplayName == \"*R?P*\"",
                             "kMDItemDisplayName == \"*\"",
                             "kMDItemFSName == \"*q\"",
                             "kMDItemFSName == \"zq.bin\"",
                             "kMDItemDisplayName == \"*e*\"cd",
                             "kMDItemDisplayName == \"*rt*\"cd"};
    Searcher s(store);
    for (int round = 0; round < 3; ++round) {
        if (round == 2) { // rare literals through the trigram table, the rest through the scan
            ASSERT_TRUE(store.buildNameTrigrams());
        }
        for (const char *q : queries) {
            const ParsedQuery parsed = parseQuery(QString::fromUtf8(q));
            ASSERT_TRUE(parsed.ok()) << q;
            SearchOptions all;
            all.maxCount = 0;
            const qsizetype full = s.run(*parsed.root, all).items.size();
            EXPECT_EQ(s.count(*parsed.root, SearchOptions{}), full) << q << " round " << round;
        }
        // The same searcher counts a later write (its name table is reloaded).
        ASSERT_TRUE(store.begin());
        add(QStringLiteral("/h/Quarterly Report é"));
        ASSERT_TRUE(store.commit());
    }
    const auto count = [&s](const char *q) { return s.count(*parseQuery(QString::fromUtf8(q)).root, SearchOptions{}); };
    EXPECT_EQ(count("kMDItemDisplayName == \"*Report*\""), 4);
    EXPECT_EQ(count("kMDItemDisplayName == \"Case*\"w"), 1); // the camelCase word start
    EXPECT_EQ(count("kMDItemDisplayName == \"case*\"w"), 0);
    EXPECT_EQ(count("kMDItemDisplayName == \"*\""), 11);
    EXPECT_EQ(count("kMDItemDisplayName == \"*esum*\"d"), 2);
    EXPECT_EQ(count("kMDItemDisplayName == \"*esum*\"cd"), 2);
    EXPECT_EQ(count("kMDItemDisplayName == \"*Resume*\"d"), 1);
}

TEST_F(MdStoreTest, CountsByDisplayNameUseTheDisplayNameWhereItDiffersFromTheFileName)
{
    fillNames();
    ASSERT_TRUE(store.begin());
    FileRecord r;
    r.path = QStringLiteral("/h/app.desktop");
    r.name = QStringLiteral("app.desktop");
    r.displayName = QStringLiteral("Photo Viewer");
    ASSERT_NE(store.upsertStat(r, 1), 0);
    ASSERT_TRUE(store.commit());
    Searcher s(store);
    const auto count = [&s](const char *q) { return s.count(*parseQuery(QString::fromUtf8(q)).root, SearchOptions{}); };
    EXPECT_EQ(count("kMDItemDisplayName == \"*Viewer*\""), 1);
    EXPECT_EQ(count("kMDItemDisplayName == \"*viewer*\"cd"), 1);
    EXPECT_EQ(count("kMDItemDisplayName == \"*desktop*\""), 0);
}
