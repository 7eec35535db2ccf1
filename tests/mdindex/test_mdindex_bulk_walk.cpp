// The first walk's readers on several threads: every entry handed over once, ids in the order
// they are handed over, each folder's id known to its entries, rules applied, and a prompt end
// on a stop or when the writer gives up.
#include "platform/mdindex/MdBulkWalk.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace MdIndex;

namespace {

class BulkWalkTest : public ::testing::Test
{
protected:
    QTemporaryDir tmp{KelsoTest::home() + QStringLiteral("/bulkwalk-XXXXXX")};
    QString root = tmp.path() + QStringLiteral("/tree");
    static constexpr qint64 kRootId = 7;

    // Three levels of folders, files at every level, some empty folders.
    void makeTree(int top, int filesEach)
    {
        for (int a = 0; a < top; ++a)
            for (int b = 0; b < 3; ++b) {
                const QString folder = root + QStringLiteral("/f%1/g%2").arg(a).arg(b);
                for (int i = 0; i < filesEach; ++i)
                    KelsoTest::writeFile(folder + QStringLiteral("/file %1.txt").arg(i));
                ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/empty")));
            }
    }
    static BulkWalk::Rules noRules(const std::atomic<bool> *stop = nullptr)
    {
        BulkWalk::Rules rules;
        rules.excludedFolder = [](const QString &) { return false; };
        rules.stop = stop;
        return rules;
    }
    struct Walked {
        QHash<qint64, QString> pathOf; // id -> path, the root included
        QList<qint64> ids;             // in the order handed over
        int batches = 0, skipped = 0, largestBatch = 0;
        QString fault;
    };
    Walked walk(const BulkWalk::Rules &rules, int walkers)
    {
        Walked w;
        w.pathOf.insert(kRootId, root);
        BulkWalk walker(rules, walkers);
        walker.start(root.toUtf8(), kRootId);
        FolderBatch batch;
        while (walker.next(&batch)) {
            ++w.batches;
            w.largestBatch = std::max(w.largestBatch, int(batch.entries.size()));
            w.skipped += batch.skippedNames;
            const QString folder = w.pathOf.value(batch.parentId);
            if (folder.isEmpty() && w.fault.isEmpty())
                w.fault = QStringLiteral("entries of folder %1 came before the folder").arg(batch.parentId);
            for (size_t i = 0; i < batch.entries.size(); ++i) {
                const BulkEntry &e = batch.entries[i];
                const QString path = QString::fromUtf8(batch.paths.mid(e.pathStart, e.pathEnd - e.pathStart));
                const QString name = QString::fromUtf8(batch.paths.mid(e.nameStart, e.pathEnd - e.nameStart));
                if (path != folder + QLatin1Char('/') + name && w.fault.isEmpty())
                    w.fault = path + QStringLiteral(" handed over with folder ") + folder;
                if (e.isFolder != (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink()))
                    w.fault = path + QStringLiteral(": wrong kind");
                const qint64 id = batch.firstId + qint64(i);
                if (w.pathOf.contains(id) && w.fault.isEmpty())
                    w.fault = QStringLiteral("id %1 given twice").arg(id);
                w.pathOf.insert(id, path);
                w.ids.append(id);
            }
        }
        return w;
    }
    // A folder's entries in listing order, then each subfolder's, recursively: the order of the
    // rows (and so of the content pass) before the walk took several threads.
    static QStringList recursiveOrder(const QString &folder)
    {
        QStringList out, subfolders;
        DIR *dir = opendir(QFile::encodeName(folder).constData());
        EXPECT_NE(dir, nullptr);
        while (const dirent *d = dir ? readdir(dir) : nullptr) {
            if (d->d_name[0] == '.')
                continue;
            const QString path = folder + QLatin1Char('/') + QFile::decodeName(d->d_name);
            out.append(path);
            if (QFileInfo(path).isDir())
                subfolders.append(path);
        }
        if (dir)
            closedir(dir);
        for (const QString &sub : std::as_const(subfolders))
            out += recursiveOrder(sub);
        return out;
    }
    QStringList order(const Walked &w) const
    {
        QStringList out;
        for (qint64 id : w.ids)
            out.append(w.pathOf.value(id));
        return out;
    }
    QSet<QString> onDisk() const
    {
        QSet<QString> paths{root};
        QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            paths.insert(it.next());
        return paths;
    }
};

} // namespace

TEST_F(BulkWalkTest, EveryEntryIsHandedOverOnceAfterItsFolderWithIdsInOrder)
{
    makeTree(12, 20);
    // Not walked into: a link to a folder is an entry of its own (and not a folder).
    ASSERT_EQ(symlink(qPrintable(root + QStringLiteral("/f1")), qPrintable(root + QStringLiteral("/link"))), 0);
    for (int walkers : {1, 2, 4}) {
        SCOPED_TRACE(walkers);
        const Walked w = walk(noRules(), walkers);
        EXPECT_TRUE(w.fault.isEmpty()) << w.fault.toStdString();
        const QList<QString> walked = w.pathOf.values();
        EXPECT_EQ(QSet<QString>(walked.begin(), walked.end()), onDisk());
        EXPECT_EQ(w.pathOf.size(), walked.size());
        // Ids follow the root's, with no gap, in the order the writer gets them: each insert appends.
        for (int i = 0; i < w.ids.size(); ++i)
            ASSERT_EQ(w.ids[i], kRootId + 1 + i) << "at entry " << i;
    }
}

TEST_F(BulkWalkTest, OneWalkerGivesTheOrderOfARecursiveWalk)
{
    makeTree(4, 3);
    const QStringList expected = recursiveOrder(root);
    const Walked w = walk(noRules(), 1);
    ASSERT_TRUE(w.fault.isEmpty()) << w.fault.toStdString();
    EXPECT_EQ(order(w), expected);
}

TEST_F(BulkWalkTest, AHugeFolderGoesOverInPiecesAndKeepsTheOrder)
{
    const QString big = root + QStringLiteral("/big");
    for (int i = 0; i < 9000; ++i)
        KelsoTest::writeFile(big + QStringLiteral("/f%1").arg(i));
    for (int i = 0; i < 3; ++i)
        KelsoTest::writeFile(big + QStringLiteral("/sub%1/inside.txt").arg(i));
    const Walked one = walk(noRules(), 1);
    ASSERT_TRUE(one.fault.isEmpty()) << one.fault.toStdString();
    EXPECT_GE(one.batches, 1 + 3 + 3); // the root, the big folder in three pieces, its subfolders
    EXPECT_LE(one.largestBatch, 4096);
    EXPECT_EQ(order(one), recursiveOrder(root));
    const Walked two = walk(noRules(), 2);
    ASSERT_TRUE(two.fault.isEmpty()) << two.fault.toStdString();
    EXPECT_EQ(two.ids.size(), 1 + 9000 + 6);
}

TEST_F(BulkWalkTest, RulesLeaveOutFoldersNamesHiddenEntriesAndNamesThatAreNotUtf8)
{
    makeTree(2, 3);
    KelsoTest::writeFile(root + QStringLiteral("/skip/inner/deep.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/.hidden/secret.txt"));
    KelsoTest::writeFile(root + QStringLiteral("/scratch.tmp"));
    const QByteArray bad = QFile::encodeName(root) + "/f0/bad\xff.txt";
    FILE *f = fopen(bad.constData(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    QStringList foldersAsked;
    BulkWalk::Rules rules;
    rules.excludedFolder = [&](const QString &path) { return path.endsWith(QStringLiteral("/skip")); };
    rules.excludedName = [](const QString &name) { return name.endsWith(QStringLiteral(".tmp")); };
    const Walked w = walk(rules, 2);
    ASSERT_TRUE(w.fault.isEmpty()) << w.fault.toStdString();
    EXPECT_EQ(w.skipped, 1);
    for (const QString &path : w.pathOf)
        EXPECT_FALSE(path.contains(QStringLiteral("skip")) || path.contains(QStringLiteral("hidden")) ||
                     path.endsWith(QStringLiteral(".tmp")) || path.contains(QStringLiteral("bad")))
            << path.toStdString();
    EXPECT_TRUE(w.pathOf.values().contains(root + QStringLiteral("/f1/g2/file 2.txt")));
}

TEST_F(BulkWalkTest, AnUnreadableOrVanishedRootEndsTheWalkWithNothing)
{
    const Walked w = walk(noRules(), 2); // the tree folder was never made
    EXPECT_TRUE(w.ids.isEmpty());
    EXPECT_EQ(w.batches, 0);
}

TEST_F(BulkWalkTest, AStopOrTheWritersCancelEndsTheWalkPromptly)
{
    makeTree(60, 60);
    for (bool byCancel : {true, false}) {
        SCOPED_TRACE(byCancel);
        std::atomic<bool> stop{false};
        QElapsedTimer timer;
        int batches = 0;
        {
            BulkWalk walker(noRules(&stop), 2);
            walker.start(root.toUtf8(), kRootId);
            FolderBatch batch;
            ASSERT_TRUE(walker.next(&batch));
            timer.start();
            if (byCancel)
                walker.cancel();
            else
                stop = true;
            while (walker.next(&batch))
                ++batches;
        } // joins the walkers
        EXPECT_EQ(batches, 0);
        EXPECT_LT(timer.elapsed(), 5000); // a hang, not a speed target
    }
}
