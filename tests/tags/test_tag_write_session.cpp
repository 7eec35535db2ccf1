// Writing tags to many files from the editor: the question above 20 files, the refusal above
// 150000, the progress window from 11 files with a Stop that works while the writer thread
// runs, and the failure report for files that cannot take tags.
#include "TagTestUtil.h"

#include "fileops/gui/XPProgressController.h"
#include "tags/Lumitag.h"
#include "tags/editor/XPTagWriteSession.h"

#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <gtest/gtest.h>

namespace {

using KelsoTest::waitFor;

QStringList tagsOf(const QString &path)
{
    return Lumitag::getUserTags(path).value_or(QStringList{QStringLiteral("<unreadable>")});
}

struct Recorded {
    QList<qsizetype> confirmed;
    QList<qsizetype> refused;
    QList<XPTagEditorRules::FailureReport> reports;
    bool answer = true;
};

XPTagWritePrompts promptsFor(Recorded &r)
{
    XPTagWritePrompts prompts;
    prompts.confirmMany = [&r](qsizetype n) {
        r.confirmed.append(n);
        return r.answer;
    };
    prompts.refuseMany = [&r](qsizetype n) { r.refused.append(n); };
    prompts.reportFailures = [&r](const XPTagEditorRules::FailureReport &report) { r.reports.append(report); };
    return prompts;
}

// What the session's progress window was when the session finished (the session deletes
// itself, and its window, right after).
struct ProgressAtEnd {
    bool shown = false;
    bool visible = false;
    int total = -1;
};

// Starts the write and waits for its end; answers the result.
std::optional<XPTagWriter::WriteResult> runToEnd(const XPDeltaTagsOperation &change, const XPTagWritePrompts &prompts,
                                                 ProgressAtEnd *progress = nullptr)
{
    XPTagWriteSession *session = XPTagWriteSession::start(change, prompts);
    if (!session)
        return std::nullopt;
    std::optional<XPTagWriter::WriteResult> result;
    QObject::connect(session, &XPTagWriteSession::finished,
                     [&result, session, progress](const XPTagWriter::WriteResult &r) {
                         result = r;
                         if (progress && session->progressWindow()) {
                             progress->shown = true;
                             progress->visible = session->progressWindow()->isVisible();
                             progress->total = session->progressWindow()->totalSoFar();
                         }
                     });
    EXPECT_TRUE(waitFor([&] { return result.has_value(); }, 30000));
    return result;
}

const QStringList kWork{QStringLiteral("Work")};

TEST(TagWriteSessionTest, TwentyFilesAreWrittenWithoutAskingTwentyOneAreAskedFor)
{
    Recorded r;
    const QStringList twenty = KelsoTest::makeFiles(QStringLiteral("gate20"), 20);
    ASSERT_TRUE(runToEnd(XPDeltaTagsOperation(twenty, {}, kWork, std::nullopt), promptsFor(r)));
    EXPECT_TRUE(r.confirmed.isEmpty());
    EXPECT_EQ(tagsOf(twenty.last()), kWork);

    const QStringList twentyOne = KelsoTest::makeFiles(QStringLiteral("gate21"), 21);
    r.answer = false;
    EXPECT_FALSE(runToEnd(XPDeltaTagsOperation(twentyOne, {}, kWork, std::nullopt), promptsFor(r)))
        << "declined: no write starts";
    EXPECT_EQ(r.confirmed, QList<qsizetype>{21});
    for (const QString &path : twentyOne)
        EXPECT_EQ(tagsOf(path), QStringList{}) << qPrintable(path);

    r.answer = true;
    ASSERT_TRUE(runToEnd(XPDeltaTagsOperation(twentyOne, {}, kWork, std::nullopt), promptsFor(r)));
    EXPECT_EQ(r.confirmed, (QList<qsizetype>{21, 21}));
    for (const QString &path : twentyOne)
        EXPECT_EQ(tagsOf(path), kWork) << qPrintable(path);
}

TEST(TagWriteSessionTest, MoreThan150000FilesAreRefusedAndNothingIsWritten)
{
    Recorded r;
    const QStringList real = KelsoTest::makeFiles(QStringLiteral("refuse"), 1);
    QStringList paths = real;
    for (int i = 1; i < 150001; ++i)
        paths.append(QStringLiteral("/nonexistent/kelso/refused%1").arg(i));
    EXPECT_FALSE(runToEnd(XPDeltaTagsOperation(paths, {}, kWork, std::nullopt), promptsFor(r)));
    EXPECT_EQ(r.refused, QList<qsizetype>{150001});
    EXPECT_TRUE(r.confirmed.isEmpty()) << "refused before any question";
    EXPECT_EQ(tagsOf(real.first()), QStringList{});

    // 150000 is asked for, not refused (declined here).
    paths.removeLast();
    r.answer = false;
    EXPECT_FALSE(runToEnd(XPDeltaTagsOperation(paths, {}, kWork, std::nullopt), promptsFor(r)));
    EXPECT_EQ(r.confirmed, QList<qsizetype>{150000});
    EXPECT_EQ(r.refused.size(), 1);
}

TEST(TagWriteSessionTest, TenFilesShowNoProgressWindowElevenDo)
{
    Recorded r;
    ProgressAtEnd ten;
    const QStringList tenFiles = KelsoTest::makeFiles(QStringLiteral("progress10"), 10);
    ASSERT_TRUE(runToEnd(XPDeltaTagsOperation(tenFiles, {}, kWork, std::nullopt), promptsFor(r), &ten));
    EXPECT_FALSE(ten.shown);

    ProgressAtEnd eleven;
    const QStringList elevenFiles = KelsoTest::makeFiles(QStringLiteral("progress11"), 11);
    ASSERT_TRUE(runToEnd(XPDeltaTagsOperation(elevenFiles, {}, kWork, std::nullopt), promptsFor(r), &eleven));
    ASSERT_TRUE(eleven.shown);
    EXPECT_FALSE(eleven.visible) << "closed at the end";
    EXPECT_EQ(eleven.total, 11);
}

TEST(TagWriteSessionTest, StopAfterAHundredOfFiveHundredLeavesTheRestUntouched)
{
    const QStringList paths = KelsoTest::makeFiles(QStringLiteral("stop500"), 500);
    for (const QString &path : paths)
        ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Old")}, path));

    // The writer waits after its 100th file until the user has pressed Stop.
    QSemaphore atHundred;
    QSemaphore goOn;
    Recorded r;
    XPTagWritePrompts prompts = promptsFor(r);
    prompts.afterEachFileOnWriter = [&](int done) {
        if (done == 100) {
            atHundred.release();
            goOn.acquire();
        }
    };
    XPTagWriteSession *session = XPTagWriteSession::start(
        XPDeltaTagsOperation(paths, {QStringLiteral("Old")}, {QStringLiteral("New")}, std::nullopt), prompts);
    ASSERT_NE(session, nullptr);
    std::optional<XPTagWriter::WriteResult> result;
    QObject::connect(session, &XPTagWriteSession::finished,
                     [&result](const XPTagWriter::WriteResult &res) { result = res; });
    XPProgressController *progress = session->progressWindow();
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress->isVisible());

    ASSERT_TRUE(waitFor([&] { return atHundred.available() > 0; }, 30000));
    // While the writer is busy, the main thread keeps the window up to date.
    EXPECT_TRUE(waitFor([&] { return progress->progress()->value() >= 99; }, 5000))
        << "the bar stood at " << progress->progress()->value();
    progress->cancelButton()->click();
    goOn.release();
    ASSERT_TRUE(waitFor([&] { return result.has_value(); }, 30000));

    EXPECT_TRUE(result->stopped);
    EXPECT_EQ(result->processed, 100);
    for (int i = 0; i < 500; ++i) {
        const QStringList expected{i < 100 ? QStringLiteral("New") : QStringLiteral("Old")};
        ASSERT_EQ(tagsOf(paths.at(i)), expected) << "file " << i;
    }
    EXPECT_TRUE(r.reports.isEmpty());
}

TEST(TagWriteSessionTest, FilesThatCannotTakeTagsAreReportedWithTheirReasonAndNothingElseChanges)
{
    const QString dir = TagTest::freshFolder(QStringLiteral("bad-input"));
    const QString good = TagTest::makeFile(dir, QStringLiteral("good.txt"), "good");
    const QString vanished = TagTest::makeFile(dir, QStringLiteral("vanished.txt"));
    const QString locked = TagTest::makeFile(dir, QStringLiteral("locked.txt"), "locked");
    const QString target = TagTest::makeFile(dir, QStringLiteral("target.txt"), "target");
    const QString link = dir + QStringLiteral("/link.txt");
    ASSERT_TRUE(QFile::link(target, link));
    // procfs keeps no user attributes at all.
    const QString noAttributes = QStringLiteral("/proc/self/comm");
    ASSERT_TRUE(QFile::remove(vanished));
    // The tests run as root, where mode bits stop nothing: the immutable flag makes the file
    // read-only for every user.
    TagTest::ImmutableGuard guard(locked);
    ASSERT_TRUE(guard.active) << "cannot make a read-only file here";

    Recorded r;
    const QStringList paths{good, vanished, locked, link, noAttributes};
    const auto result = runToEnd(XPDeltaTagsOperation(paths, {}, kWork, std::nullopt), promptsFor(r));
    ASSERT_TRUE(result);
    EXPECT_EQ(result->failedPaths, (QStringList{vanished, locked, link, noAttributes}));

    ASSERT_EQ(r.reports.size(), 1);
    const XPTagEditorRules::FailureReport &report = r.reports.first();
    ASSERT_EQ(report.nameLines.size(), 4);
    EXPECT_TRUE(report.nameLines.at(0).startsWith(QStringLiteral("vanished.txt (")));
    EXPECT_TRUE(report.nameLines.at(0).contains(QStringLiteral("No such file"))) << qPrintable(report.nameLines.at(0));
    EXPECT_TRUE(report.nameLines.at(1).contains(QStringLiteral("Operation not permitted")))
        << qPrintable(report.nameLines.at(1));
    EXPECT_TRUE(report.nameLines.at(2).startsWith(QStringLiteral("link.txt (")));
    EXPECT_TRUE(report.nameLines.at(3).contains(QStringLiteral("not supported"))) << qPrintable(report.nameLines.at(3));
    EXPECT_EQ(report.title, QStringLiteral("4 files could not be changed"));

    EXPECT_EQ(tagsOf(good), kWork);
    EXPECT_FALSE(QFileInfo::exists(vanished)) << "a vanished file is not made again";
    EXPECT_EQ(tagsOf(target), QStringList{}) << "the link's target is not tagged";
    EXPECT_TRUE(TagTest::getfattrValue(locked, QStringLiteral("user.xdg.tags")).isEmpty());
    QFile content(locked);
    ASSERT_TRUE(content.open(QIODevice::ReadOnly));
    EXPECT_EQ(content.readAll(), QByteArray("locked"));
}

TEST(TagWriteSessionTest, CommitsReachAFileInTheOrderTheyWereMade)
{
    const QStringList paths = KelsoTest::makeFiles(QStringLiteral("order"), 15);
    Recorded r;
    // Two writes started back to back: the second must see the first one's result.
    XPTagWriteSession *first =
        XPTagWriteSession::start(XPDeltaTagsOperation(paths, {}, kWork, std::nullopt), promptsFor(r));
    ASSERT_TRUE(first);
    const auto second =
        runToEnd(XPDeltaTagsOperation(paths, kWork, {QStringLiteral("Work"), QStringLiteral("Late")}, std::nullopt),
                 promptsFor(r));
    ASSERT_TRUE(second);
    XPTagWriteSession::waitForPendingWrites();
    for (const QString &path : paths)
        EXPECT_EQ(tagsOf(path), (QStringList{QStringLiteral("Work"), QStringLiteral("Late")})) << qPrintable(path);
}

} // namespace

namespace {

TEST(TagWriteSessionTest, AStopWhileWaitingForAnEarlierWriteWritesNothing)
{
    const QStringList earlierFiles = KelsoTest::makeFiles(QStringLiteral("queued-a"), 12);
    const QStringList laterFiles = KelsoTest::makeFiles(QStringLiteral("queued-b"), 40);
    QSemaphore release;
    QSemaphore holding;
    Recorded r;
    XPTagWritePrompts holdAtFirst = promptsFor(r);
    holdAtFirst.afterEachFileOnWriter = [&](int done) {
        if (done == 1) {
            holding.release();
            release.acquire();
        }
    };
    XPTagWriteSession *earlier =
        XPTagWriteSession::start(XPDeltaTagsOperation(earlierFiles, {}, kWork, std::nullopt), holdAtFirst);
    ASSERT_TRUE(earlier);
    ASSERT_TRUE(holding.tryAcquire(1, 10000));
    XPTagWriteSession *later =
        XPTagWriteSession::start(XPDeltaTagsOperation(laterFiles, {}, kWork, std::nullopt), promptsFor(r));
    ASSERT_TRUE(later);
    std::optional<XPTagWriter::WriteResult> laterResult;
    QObject::connect(later, &XPTagWriteSession::finished,
                     [&laterResult](const XPTagWriter::WriteResult &res) { laterResult = res; });
    // Stop pressed on the waiting write's window before the writer reaches it.
    ASSERT_NE(later->progressWindow(), nullptr);
    later->progressWindow()->cancelButton()->click();
    release.release();
    ASSERT_TRUE(waitFor([&] { return laterResult.has_value(); }, 30000));
    EXPECT_TRUE(laterResult->stopped);
    EXPECT_EQ(laterResult->processed, 0);
    for (const QString &path : laterFiles)
        ASSERT_EQ(tagsOf(path), QStringList{}) << qPrintable(path);
    XPTagWriteSession::waitForPendingWrites();
    EXPECT_EQ(tagsOf(earlierFiles.last()), kWork) << "the earlier write was not stopped";
}

} // namespace
