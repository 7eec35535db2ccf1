// The metadata index against plocate on one generated tree, side by side in one run:
//   - the names-and-stat crawl against updatedb (alternating runs, medians, ratio);
//   - the first 100 name matches per query class (rare word, common word, one letter,
//     ignoring case) and the full count, against plocate -l 100 / -c / -i;
//   - the index's size on disk and this process's resident memory with the index open;
//   - the content pass's throughput against bare inserts of the same text.
// Usage: mdindex_bench [--files N] [--work DIR] [--tree DIR] [--keep]
//        mdindex_bench crawl DB TREE    (the names walk alone, to time as a whole process)
//        mdindex_bench recrawl DB TREE  (a later walk, into the filled index DB: each start's)
//        mdindex_bench query DB TEXT    (one query three times, for profiling)
// Everything a run writes goes into its work folder: the databases, plocate's output and, unless
// --tree names another place, the tree (DIR/tree). The default work folder is new for each run
// (under the home folder: the crawler leaves /tmp and the other system roots out), so that two
// runs never share files. The databases go afterwards; the tree and the work folder go too unless
// --keep (a kept tree with the same file count is reused by the next run naming it).
// plocate's figures include its process start; Kelso's are in-process, as the program searches
// its own index.
#include "platform/mdindex/MdCrawler.h"
#include "platform/mdindex/MdSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;
void benchContent(const QString &work); // mdindex_bench_content.cpp
using namespace MdIndex;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

QString outFile; // plocate's output, inside the run's work folder

// Runs a program, its output to /dev/null (or into *out), and answers the wall time in ms.
double runProgram(const QStringList &args, QByteArray *out = nullptr)
{
    std::vector<QByteArray> bytes;
    for (const QString &a : args)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out ? QFile::encodeName(outFile).constData() : "/dev/null",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const auto t = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = msSince(t);
    posix_spawn_file_actions_destroy(&fa);
    if (out) {
        QFile f(outFile);
        f.open(QIODevice::ReadOnly);
        *out = f.readAll();
    }
    return ms;
}

double crawlOnce(const QString &db, const QString &tree, bool buildTrigrams)
{
    for (const char *s : {"", "-wal", "-shm"})
        QFile::remove(db + QLatin1String(s));
    CrawlRules rules;
    rules.roots = {tree};
    Crawler c(db, rules);
    const auto t = Clock::now();
    QString error;
    if (!c.openStore(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        std::exit(1);
    }
    if (!buildTrigrams)
        c.store().setMeta(QStringLiteral("name_trigrams"), QStringLiteral("1")); // skip the one-off build
    c.crawlNames();
    return msSince(t);
}

// 1000 entries a folder, names of two or three words from a made-up vocabulary; "report" in
// about one name in twenty, "zanzibar" in one in 100,000.
void makeTree(const QString &tree, int files)
{
    const char *syl[] = {"ka", "lo", "mi", "ten", "sor", "vel", "dra", "pim", "qu", "nex", "bo", "ra", "tu", "fen"};
    const char *ext[] = {".txt", ".jpg", ".pdf", ".md", ".png", ".cpp", ".docx", ""};
    auto word = [&](quint32 n) {
        QString w;
        for (int i = 0; i < 3; ++i, n /= 14)
            w += QLatin1String(syl[n % 14]);
        return w;
    };
    for (int i = 0; i < files; ++i) {
        const QString folder = QStringLiteral("%1/d%2/e%3").arg(tree).arg(i / 100000).arg(i / 1000 % 100);
        if (i % 1000 == 0)
            QDir().mkpath(folder);
        const quint32 h = quint32(i) * 2654435761u;
        QString name = word(h) + QLatin1Char('_') + word(h >> 12);
        if (h % 20 == 0)
            name += (h % 40 == 0) ? QStringLiteral(" Report") : QStringLiteral("_report");
        if (i % 100000 == 77)
            name += QStringLiteral("_zanzibar");
        name += QString::number(i) + QLatin1String(ext[h % 8]);
        QFile f(folder + QLatin1Char('/') + name);
        f.open(QIODevice::WriteOnly);
    }
}

qint64 residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

qint64 fileSize(const QString &p)
{
    return QFileInfo(p).size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("crawl") && args.size() == 3) {
        std::printf("%.0f ms\n", crawlOnce(args[1], args[2], false));
        return 0;
    }
    if (args.value(0) == QLatin1String("recrawl") && args.size() == 3) {
        CrawlRules rules;
        rules.roots = {args[2]};
        Crawler c(args[1], rules);
        const auto t = Clock::now();
        if (!c.openStore(nullptr) || !c.crawlNames())
            return 1;
        std::printf("%.0f ms\n", msSince(t));
        return 0;
    }
    if (args.value(0) == QLatin1String("query") && args.size() == 3) { // for profiling one query
        Store store;
        store.open(args[1], Store::Mode::ReadOnly, nullptr);
        Searcher searcher(store);
        for (int i = 0; i < 3; ++i) {
            const auto t = Clock::now();
            const qsizetype n = searcher.run(args[2], SearchOptions{}).items.size();
            std::printf("%lld found in %.2f ms\n", qlonglong(n), msSince(t));
        }
        return 0;
    }
    int files = 200000;
    QString top =
        QStringLiteral("%1/kelso-mdindex-bench.%2").arg(QDir::homePath()).arg(QCoreApplication::applicationPid());
    QString tree;
    bool keep = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--files"))
            files = args.value(++i).toInt();
        else if (args[i] == QLatin1String("--work"))
            top = QFileInfo(args.value(++i)).absoluteFilePath();
        else if (args[i] == QLatin1String("--tree"))
            tree = QFileInfo(args.value(++i)).absoluteFilePath();
        else if (args[i] == QLatin1String("--keep"))
            keep = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", qPrintable(args[i]));
            return 2;
        }
    }
    if (tree.isEmpty())
        tree = top + QStringLiteral("/tree");
    if (Crawler::isSystemPath(tree)) {
        std::fprintf(stderr, "%s lies in a system folder the crawler leaves out; pick --work or --tree elsewhere\n",
                     qPrintable(tree));
        return 2;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("plocate")).isEmpty()) {
        std::printf("plocate is not installed (scripts/install-deps.sh brings it): benchmark skipped\n");
        return 0;
    }
    const QString work = top + QStringLiteral("/db");
    QDir().mkpath(work);
    outFile = work + QStringLiteral("/plocate-out");
    const QString db = work + QStringLiteral("/index.sqlite3"), locateDb = work + QStringLiteral("/plocate.db");
    const QString marker = tree + QStringLiteral("/.count");
    QFile m(marker);
    if (!m.open(QIODevice::ReadOnly) || m.readAll().toInt() != files) {
        QDir(tree).removeRecursively();
        const auto t = Clock::now();
        makeTree(tree, files);
        QFile w(marker);
        w.open(QIODevice::WriteOnly);
        w.write(QByteArray::number(files));
        std::printf("tree of %d files made in %.1f s\n", files, msSince(t) / 1000);
    }

    std::printf("\n== names and stat of %d files (median of 3, alternating)\n", files);
    std::vector<double> ours, theirs;
    for (int i = 0; i < 3; ++i) {
        theirs.push_back(
            runProgram({QStringLiteral("updatedb"), QStringLiteral("-o"), locateDb, QStringLiteral("-U"), tree}));
        ours.push_back(crawlOnce(db, tree, false));
    }
    std::printf("kelso crawl %.0f ms, updatedb %.0f ms, ratio %.2f\n", median(ours), median(theirs),
                median(ours) / median(theirs));
    Store store;
    store.open(db, Store::Mode::ReadWrite, nullptr);
    store.setMeta(QStringLiteral("name_trigrams"), QStringLiteral("0"));
    auto t = Clock::now();
    store.buildNameTrigrams();
    std::printf("name trigram table built afterwards in %.0f ms (once per index)\n", msSince(t));
    store.close();
    store.open(db, Store::Mode::ReadOnly, nullptr);
    const qint64 rssOpen = residentKb();

    struct Case {
        const char *label, *query, *plocateTerm;
        bool ignoreCase;
    };
    const Case cases[] = {
        {"rare word", "kMDItemDisplayName == \"*zanzibar*\"", "zanzibar", false},
        {"common word", "kMDItemDisplayName == \"*report*\"", "report", false},
        {"one letter", "kMDItemDisplayName == \"*q*\"", "q", false},
        {"ignoring case", "kMDItemDisplayName == \"*REPORT*\"cd", "REPORT", true},
        {"two letters, rare", "kMDItemDisplayName == \"*zz*\"cd", "zz", true},
        {"one letter, word start (the bar's form)", "kMDItemDisplayName == \"q*\"cdw", "q", true},
    };
    Searcher searcher(store);
    t = Clock::now();
    searcher.run(QStringLiteral("kMDItemDisplayName == \"x*\"cdw"), SearchOptions{});
    std::printf("in-memory name table loaded in %.0f ms (first short query only)\n", msSince(t));
    std::printf("\n== first 100 name matches, median of 7 (plocate: whole process)\n");
    for (const Case &c : cases) {
        std::vector<double> k, p;
        qsizetype found = 0;
        for (int i = 0; i < 7; ++i) {
            QStringList cmd{QStringLiteral("plocate"), QStringLiteral("-d"), locateDb, QStringLiteral("-l"),
                            QStringLiteral("100")};
            if (c.ignoreCase)
                cmd << QStringLiteral("-i");
            p.push_back(runProgram(cmd << QString::fromLatin1(c.plocateTerm)));
            const auto s = Clock::now();
            found = searcher.run(QString::fromLatin1(c.query), SearchOptions{{}, 100, nullptr}).items.size();
            k.push_back(msSince(s));
        }
        std::printf("%-42s kelso %7.2f ms (%3lld found)  plocate %7.2f ms  ratio %.3f\n", c.label, median(k),
                    qlonglong(found), median(p), median(k) / median(p));
    }
    // Counts that respect case need the names as stored too: loaded once, on the first such count.
    t = Clock::now();
    searcher.count(*parseQuery(QStringLiteral("kMDItemDisplayName == \"*x*\"")).root, SearchOptions{});
    std::printf("names as stored loaded in %.0f ms (first count that respects case only)\n", msSince(t));
    std::printf("\n== full count, median of 3\n");
    for (const Case &c : cases) {
        std::vector<double> k, p;
        qsizetype oursFound = 0;
        QByteArray theirsText;
        for (int i = 0; i < 3; ++i) {
            QStringList cmd{QStringLiteral("plocate"), QStringLiteral("-d"), locateDb, QStringLiteral("-c")};
            if (c.ignoreCase)
                cmd << QStringLiteral("-i");
            p.push_back(runProgram(cmd << QString::fromLatin1(c.plocateTerm), &theirsText));
            const auto s = Clock::now();
            oursFound = searcher.count(*parseQuery(QString::fromLatin1(c.query)).root, SearchOptions{});
            k.push_back(msSince(s));
        }
        std::printf("%-42s kelso %8.1f ms (%7lld)  plocate %7.1f ms (%7s)  ratio %.2f\n", c.label, median(k),
                    qlonglong(oursFound), median(p), theirsText.trimmed().constData(), median(k) / median(p));
    }
    std::printf("\n== size and memory\n");
    std::printf("index %.1f MB (+wal %.1f MB), plocate db %.1f MB\n", fileSize(db) / 1e6,
                fileSize(db + QStringLiteral("-wal")) / 1e6, fileSize(locateDb) / 1e6);
    std::printf("resident: %lld KB with the index open, %lld KB after the searches (name table included)\n",
                qlonglong(rssOpen), qlonglong(residentKb()));
    store.close();
    benchContent(work);
    QDir(work).removeRecursively();
    if (!keep) {
        QDir(tree).removeRecursively();
        QDir().rmdir(top); // only when nothing else is left in it
    }
    return 0;
}
