// The command-line tools, run in-process on real files; output captured from stdout/stderr.
#include "TagTestUtil.h"
#include "app/KLToolCommands.h"
#include "tags/Lumitag.h"
#include "tags/LumitagPrefs.h"
#include "tags/XPFiledDocuments.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <cstdio>

using namespace TagTest;
using L = QStringList;

namespace {

struct ToolRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs a registered tool with stdout and stderr sent to files.
ToolRun runTool(const QString &name, const QStringList &args)
{
    ToolRun r;
    const KLToolCommand *tool = KLToolCommands::find(name);
    if (!tool)
        return r;
    QTemporaryFile outFile, errFile;
    if (!outFile.open() || !errFile.open())
        return r;
    std::fflush(stdout);
    std::fflush(stderr);
    const int savedOut = ::dup(1);
    const int savedErr = ::dup(2);
    ::dup2(outFile.handle(), 1);
    ::dup2(errFile.handle(), 2);
    r.status = tool->run(args);
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut, 1);
    ::dup2(savedErr, 2);
    ::close(savedOut);
    ::close(savedErr);
    outFile.seek(0);
    errFile.seek(0);
    r.out = QString::fromUtf8(outFile.readAll());
    r.err = QString::fromUtf8(errFile.readAll());
    return r;
}

L tagsOf(const QString &p)
{
    return Lumitag::getUserTags(p).value_or(L{QStringLiteral("<unreadable>")});
}

} // namespace

class TagCommands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        useTagStore(QStringLiteral("system"));
        dir = freshFolder(QStringLiteral("cli"));
    }
    QString dir;
};

TEST_F(TagCommands, AreRegistered)
{
    for (const char *name : {"tags", "rate", "file", "managed"})
        EXPECT_NE(KLToolCommands::find(QString::fromLatin1(name)), nullptr) << name;
}

TEST_F(TagCommands, SetTagsReadBackAsKdeWritesThem)
{
    const QString a = makeFile(dir, "a.txt");
    const QString b = makeFile(dir, "b.txt");
    const ToolRun set = runTool("tags", {"set", "Red, two words,Caf\u00e9", a, b});
    ASSERT_EQ(set.status, 0) << qPrintable(set.err);
    for (const QString &p : {a, b})
        EXPECT_EQ(getfattrValue(p, "user.xdg.tags"), QStringLiteral("Red,two words,Caf\u00e9").toUtf8());

    const ToolRun list = runTool("tags", {a, b});
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.out, QStringLiteral("Red\ntwo words\nCaf\u00e9\n"));

    // The entered tags became recent tags.
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_TRUE(LumitagPrefs::recentTags().contains(QStringLiteral("two words")));
}

TEST_F(TagCommands, JsonListing)
{
    const QString a = makeFile(dir, "a.txt");
    ASSERT_FALSE(Lumitag::setUserTags(L{"x", "y"}, a));
    ASSERT_FALSE(Lumitag::setRating(2, a));
    const ToolRun r = runTool("tags", {"--json", a});
    ASSERT_EQ(r.status, 0);
    const QJsonArray arr = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(arr.size(), 1);
    const QJsonObject o = arr[0].toObject();
    EXPECT_EQ(o.value("path").toString(), a);
    EXPECT_EQ(o.value("title").toString(), QStringLiteral("a.txt"));
    EXPECT_EQ(o.value("subtitle").toString(), QStringLiteral("x, y"));
    EXPECT_GT(o.value("time").toDouble(), 1.6e9);
    EXPECT_EQ(o.value("tags").toArray().size(), 2);
    EXPECT_EQ(o.value("rating").toDouble(), 2.0);
}

TEST_F(TagCommands, SetMergesAgainstTheCommonTags)
{
    const QString one = makeFile(dir, "one");
    const QString two = makeFile(dir, "two");
    ASSERT_FALSE(Lumitag::setUserTags(L{"A", "B", "C"}, one));
    ASSERT_FALSE(Lumitag::setUserTags(L{"A", "D"}, two));
    ASSERT_EQ(runTool("tags", {"set", "A, E", one, two}).status, 0);
    EXPECT_EQ(getfattrValue(one, "user.xdg.tags"), QByteArray("B,C,A,E"));
    EXPECT_EQ(getfattrValue(two, "user.xdg.tags"), QByteArray("D,A,E"));
}

TEST_F(TagCommands, AddAndRemove)
{
    const QString one = makeFile(dir, "one");
    const QString two = makeFile(dir, "two");
    ASSERT_FALSE(Lumitag::setUserTags(L{"A", "B"}, one));
    ASSERT_FALSE(Lumitag::setUserTags(L{"A"}, two));
    ASSERT_EQ(runTool("tags", {"add", "New", one, two}).status, 0);
    EXPECT_EQ(tagsOf(one), (L{"B", "A", "New"}));
    EXPECT_EQ(tagsOf(two), (L{"A", "New"}));
    // "b" is on one file only: removing still takes it off that file, case-insensitively.
    ASSERT_EQ(runTool("tags", {"remove", "b,new", one, two}).status, 0);
    EXPECT_EQ(tagsOf(one), L{"A"});
    EXPECT_EQ(tagsOf(two), L{"A"});
}

TEST_F(TagCommands, FailedFilesAreListedAndTheOthersWritten)
{
    const QString good = makeFile(dir, "good");
    const QString locked = makeFile(dir, "locked");
    const QString gone = dir + QStringLiteral("/gone");
    const QString target = makeFile(dir, "target");
    const QString link = dir + QStringLiteral("/link");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_FALSE(Lumitag::setUserTags(L{"Keep"}, target));
    ImmutableGuard guard(locked);
    if (!guard.active)
        GTEST_SKIP() << "cannot set the immutable flag here";

    const ToolRun r = runTool("tags", {"set", "T", good, locked, gone, link});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(tagsOf(good), L{"T"});
    EXPECT_EQ(tagsOf(target), L{"Keep"}) << "a link's target is never written";
    EXPECT_TRUE(r.err.contains(QStringLiteral("kelso: ") + locked + QStringLiteral(": errno error: 1,")))
        << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(gone + QStringLiteral(": errno error: 2,")));
    EXPECT_TRUE(r.err.contains(link + QStringLiteral(": errno error: 1,")));
    EXPECT_FALSE(r.err.contains(QStringLiteral("kelso: ") + good + QStringLiteral(":")));
}

TEST_F(TagCommands, ATagWithACommaIsRefusedAndNothingChanges)
{
    const QString a = makeFile(dir, "a");
    ASSERT_FALSE(Lumitag::setUserTags(L{"Keep"}, a));
    const ToolRun r = runTool("tags", {"set", "\"Smith, John\" other", a});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("\"Smith, John\""))) << qPrintable(r.err);
    EXPECT_EQ(tagsOf(a), L{"Keep"});
}

TEST_F(TagCommands, RatingsIncludingKde)
{
    const QString a = makeFile(dir, "a");
    const QString b = makeFile(dir, "b");
    ASSERT_EQ(runTool("rate", {"7", a}).status, 0);
    EXPECT_EQ(Lumitag::getXAttrMetaData(LumitagKeys::StarRating, a).toDouble(), 5.0);
    EXPECT_EQ(getfattrValue(a, "user.baloo.rating"), QByteArray("10"));
    // 0 removes both; a file that had no rating is not an error.
    const ToolRun zero = runTool("rate", {"0", a, b});
    EXPECT_EQ(zero.status, 0) << qPrintable(zero.err);
    EXPECT_TRUE(getfattrValue(a, "user.baloo.rating").isEmpty());
    EXPECT_FALSE(Lumitag::getXAttrMetaData(LumitagKeys::StarRating, a).isValid());

    const ToolRun gone = runTool("rate", {"3", dir + QStringLiteral("/gone"), b});
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(Lumitag::getRating(b), 3.0);
}

TEST_F(TagCommands, UsageErrors)
{
    EXPECT_EQ(runTool("tags", {}).status, 2);
    EXPECT_EQ(runTool("tags", {"set", "x"}).status, 2);
    EXPECT_EQ(runTool("rate", {"many", makeFile(dir, "f")}).status, 2);
    EXPECT_EQ(runTool("managed", {"maybe", makeFile(dir, "g")}).status, 2);
    EXPECT_EQ(runTool("file", {}).status, 2);
}

TEST_F(TagCommands, FilingAndManagedMarks)
{
    Defaults::standard().setValue(XPFiledDocuments::kFiledDocumentsPathKey, dir + QStringLiteral("/Filed"));
    XPFiledDocuments::forgetRoot();
    const QString report = makeFile(dir, "Report.pdf");
    const QString folder = dir + QStringLiteral("/Folder");
    QDir().mkpath(folder);
    const ToolRun r = runTool("file", {report, folder});
    EXPECT_EQ(r.status, 1) << "the folder could not be filed";
    const QString where = r.out.trimmed();
    EXPECT_TRUE(where.startsWith(dir + QStringLiteral("/Filed/"))) << qPrintable(r.out);
    EXPECT_TRUE(where.endsWith(QStringLiteral("/Report.pdf")));
    EXPECT_TRUE(QFile::exists(where));
    EXPECT_TRUE(r.err.contains(folder));
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);

    const QString f = makeFile(dir, "m");
    EXPECT_EQ(runTool("managed", {"on", f}).status, 0);
    EXPECT_EQ(XPFiledDocuments::managedMark(f), std::optional<bool>(true));
    EXPECT_EQ(runTool("managed", {"off", f}).status, 0);
    EXPECT_EQ(XPFiledDocuments::managedMark(f), std::optional<bool>(false));
    const ToolRun bad = runTool("managed", {"on", dir + QStringLiteral("/nope")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("errno error: 2"))) << qPrintable(bad.err);
}

TEST_F(TagCommands, FilingReportsEachFileWhoseManagedMarkCouldNotBeWritten)
{
    Defaults::standard().setValue(XPFiledDocuments::kFiledDocumentsPathKey, dir + QStringLiteral("/Filed"));
    XPFiledDocuments::forgetRoot();
    const QString plain = makeFile(dir, "Plain.txt");
    const QString target = makeFile(dir, "target.txt");
    const QString link = dir + QStringLiteral("/Link.txt");
    ASSERT_TRUE(QFile::link(target, link)); // a link keeps no user attributes on Linux
    const ToolRun r = runTool("file", {plain, link});
    Defaults::standard().removeObjectForKey(XPFiledDocuments::kFiledDocumentsPathKey);
    EXPECT_EQ(r.status, 1) << "a file without its mark is not done";
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(r.out);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("/Plain.txt")));
    EXPECT_EQ(XPFiledDocuments::managedMark(lines[0]), std::optional<bool>(true));
    EXPECT_TRUE(QFileInfo(lines[1]).isSymLink()) << "the link was filed all the same";
    EXPECT_TRUE(r.err.contains(link + QStringLiteral(": filed as ") + lines[1])) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("managed mark"))) << qPrintable(r.err);
    EXPECT_FALSE(r.err.contains(plain)) << "only the file that failed is reported";
}
