// What the Cooler takes from scripts: only what fits in its 100 places (nothing kept is pushed
// out), arguments that name real files, and a plain listing that keeps one item per line.
#include "cooler/KLCoolerArguments.h"
#include "cooler/KLCoolerCommand.h"
#include "cooler/KLCoolerStore.h"
#include "cooler/KLItemListOps.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <QUrl>
#include <cstdio>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

QString home()
{
    return KelsoTest::home();
}

QList<KLItemPtr> itemsFor(const QStringList &paths)
{
    QList<KLItemPtr> out;
    for (const QString &p : paths)
        out.append(KLItem::create(p));
    return out;
}

QStringList pathsOf(const QList<KLItemPtr> &items)
{
    QStringList out;
    for (const auto &i : items)
        out.append(i->lastKnownPath());
    return out;
}

// What a call writes on one of the standard streams.
class Captured
{
public:
    explicit Captured(FILE *stream) : m_stream(stream), m_fd(fileno(stream))
    {
        m_file.open();
        std::fflush(m_stream);
        m_saved = ::dup(m_fd);
        ::dup2(m_file.handle(), m_fd);
    }
    ~Captured() { restore(); }
    QByteArray text()
    {
        restore();
        QFile f(m_file.fileName());
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(m_stream);
        ::dup2(m_saved, m_fd);
        ::close(m_saved);
        m_saved = -1;
    }
    FILE *m_stream;
    int m_fd;
    int m_saved = -1;
    QTemporaryFile m_file;
};

class CoolerLimitsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Never reach a Kelso that may run on the developer's session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kelso-test-bus");
        QFile::remove(KLCoolerStore::pathForStateFile());
    }
    void TearDown() override { QFile::remove(KLCoolerStore::pathForStateFile()); }
};

TEST_F(CoolerLimitsTest, OnlyNewItemsTakeRoomAndTheRestIsRefusedInOrder)
{
    const QStringList kept = KelsoTest::makeFiles(QStringLiteral("fit-kept"), 98);
    const QStringList fresh = KelsoTest::makeFiles(QStringLiteral("fit-new"), 4);
    const QList<KLItemPtr> list = itemsFor(kept);
    QStringList refused;
    // Two places left: paths already held only move and take none; duplicates count once.
    const QStringList fit = KLItemListOps::pathsThatFit(
        list, {fresh[0], kept[5], fresh[0], fresh[1], fresh[2], kept[7], fresh[3]}, &refused);
    EXPECT_EQ(fit, (QStringList{fresh[0], kept[5], fresh[1], kept[7]}));
    EXPECT_EQ(refused, (QStringList{fresh[2], fresh[3]}));
    EXPECT_EQ(KLItemListOps::pushedOutBy(list, fresh), 2);
    EXPECT_EQ(KLItemListOps::pushedOutBy(list, {fresh[0], fresh[1]}), 0);
    EXPECT_EQ(KLItemListOps::pushedOutBy(itemsFor(kept + fresh.mid(0, 2)), kept), 0);
}

TEST_F(CoolerLimitsTest, TheToolRefusesWhatDoesNotFitAndKeepsEveryKeptItem)
{
    const QString store = KLCoolerStore::pathForStateFile();
    const QStringList kept = KelsoTest::makeFiles(QStringLiteral("tool-kept"), 95);
    ASSERT_EQ(runCoolerCommand(QStringList{QStringLiteral("add")} + kept), 0);
    ASSERT_EQ(KLCoolerStore::read(store).size(), 95);

    const QStringList fresh = KelsoTest::makeFiles(QStringLiteral("tool-new"), 8);
    Captured err(stderr);
    const int status = runCoolerCommand(QStringList{QStringLiteral("add")} + fresh);
    const QByteArray said = err.text();
    EXPECT_EQ(status, 1) << "a partial add is not a success";
    EXPECT_TRUE(said.contains("3 of the 8 files did not fit")) << said.constData();
    EXPECT_TRUE(said.contains(fresh[5].toUtf8())) << "the first one left out is named: " << said.constData();

    // The five that fitted come first in the given order; all 95 kept items are still there.
    const QStringList now = pathsOf(KLCoolerStore::read(store));
    ASSERT_EQ(now.size(), 100);
    EXPECT_EQ(now.mid(0, 5), fresh.mid(0, 5));
    EXPECT_EQ(now.mid(5), kept);

    // Full: a file it holds still moves to the front, and that is a success.
    EXPECT_EQ(runCoolerCommand({QStringLiteral("add"), kept[90]}), 0);
    EXPECT_EQ(pathsOf(KLCoolerStore::read(store)).first(), kept[90]);
}

TEST_F(CoolerLimitsTest, ThePlainListingKeepsEachItemOnOneLine)
{
    const QString folder = home() + QStringLiteral("/plain");
    const QString odd = folder + QStringLiteral("/two\nlines\tand \\ back.txt");
    const QString plain = folder + QStringLiteral("/plain.txt");
    KelsoTest::writeFile(odd);
    KelsoTest::writeFile(plain);
    ASSERT_EQ(runCoolerCommand({QStringLiteral("add"), odd, plain}), 0);

    Captured out(stdout);
    ASSERT_EQ(runCoolerCommand({}), 0);
    const QList<QByteArray> lines = out.text().split('\n');
    ASSERT_EQ(lines.size(), 3) << "two items, two lines (and the empty rest)";
    EXPECT_EQ(lines[2], QByteArray());
    const QByteArray escaped = QFile::encodeName(folder) + "/two\\nlines\\tand \\\\ back.txt";
    EXPECT_EQ(lines[0].split('\t').value(0), escaped);
    EXPECT_EQ(lines[0].split('\t').size(), 2) << "the tab in the name does not add a column";
    EXPECT_EQ(lines[1].split('\t').value(0), QFile::encodeName(plain));

    EXPECT_EQ(KLCoolerCommand::escapeField(QStringLiteral("a\rb\x01"
                                                          "c\x7f")),
              QByteArray("a\\rb\\x01c\\x7f"));
    EXPECT_EQ(KLCoolerCommand::escapeField(QStringLiteral("Café ✓")), QStringLiteral("Café ✓").toUtf8());
}

TEST_F(CoolerLimitsTest, ArgumentsMustBeAbsolutePathsOfExistingFiles)
{
    using KLCoolerArguments::Need;
    const QString file = home() + QStringLiteral("/args/a file.txt");
    KelsoTest::writeFile(file);
    const QString link = home() + QStringLiteral("/args/dangling");
    QFile::remove(link);
    ASSERT_EQ(::symlink("/nonexistent/target", QFile::encodeName(link).constData()), 0);

    // Good ones: a path, a file URI (percent-encoded), a path to clean, a dangling link.
    auto good = KLCoolerArguments::check(
        {file, QUrl::fromLocalFile(file).toString(), home() + QStringLiteral("/args/../args/a file.txt"), link},
        Need::ExistingFile);
    EXPECT_EQ(good.error, QString());
    EXPECT_EQ(good.paths, (QStringList{file, file, file, link}));

    // Each bad kind is refused, naming its position and the argument; nothing passes.
    const struct {
        QString argument;
        const char *says;
    } bad[] = {
        {QString(), "argument 2 is empty"},
        {QStringLiteral("relative/file.txt"), "argument 2 is not an absolute path: 'relative/file.txt'"},
        {QStringLiteral("http://example.org/x"), "argument 2 is not a local file: 'http://example.org/x'"},
        {QStringLiteral("file://otherhost/etc/passwd"), "argument 2 is not a local file"},
        {home() + QStringLiteral("/args/missing.txt"), "argument 2 names no existing file"},
        {QStringLiteral("/") + QString(1 << 20, QLatin1Char('x')), "argument 2 is longer than 4095 bytes: '/xxx"},
    };
    for (const auto &b : bad) {
        const auto checked =
            KLCoolerArguments::check({file, b.argument, QStringLiteral("also-bad")}, Need::ExistingFile);
        EXPECT_TRUE(checked.error.startsWith(QString::fromUtf8(b.says))) << qPrintable(checked.error);
        EXPECT_LT(checked.error.size(), 200) << "a huge argument is cut short in the message";
        EXPECT_TRUE(checked.paths.isEmpty());
    }

    // A removal needs no file, but still an absolute path.
    EXPECT_EQ(KLCoolerArguments::check({home() + QStringLiteral("/gone.txt")}, Need::AbsolutePath).error, QString());
    EXPECT_FALSE(KLCoolerArguments::check({QStringLiteral("gone.txt")}, Need::AbsolutePath).error.isEmpty());

    // At most 10,000 paths in one call.
    const QStringList many(KLCoolerArguments::kMaxPathsPerCall, file);
    EXPECT_EQ(KLCoolerArguments::check(many, Need::ExistingFile).paths.size(), KLCoolerArguments::kMaxPathsPerCall);
    const auto tooMany = KLCoolerArguments::check(many + QStringList{file}, Need::ExistingFile);
    EXPECT_EQ(tooMany.error, QStringLiteral("too many paths in one call: 10001 (at most 10000)"));
    EXPECT_TRUE(tooMany.paths.isEmpty());
}

} // namespace
