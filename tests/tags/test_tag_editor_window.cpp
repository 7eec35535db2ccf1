// The tag editor window: what typing, Escape, Return, Tab and the rating control end up
// writing, the preview that arrives late, and the frame kept across a restart.
#include "TagTestUtil.h"

#include "platform/Defaults.h"
#include "tags/Lumitag.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/XPRatingControl.h"
#include "tags/editor/XPTagButton.h"
#include "tags/editor/XPTagEditorController.h"
#include "tags/editor/XPTagSearchController.h"
#include "tags/editor/XPTokenField.h"
#include "util/Paths.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <utime.h>

namespace {

using KelsoTest::waitFor;

QStringList tagsOf(const QString &path)
{
    return Lumitag::getUserTags(path).value_or(QStringList{QStringLiteral("<unreadable>")});
}

QVariant tagTime(const QString &path)
{
    return Lumitag::getXAttrMetaData(LumitagKeys::UserTagTime, path);
}

// An editor whose messages are recorded instead of shown.
struct Editor {
    XPTagEditorController window;
    QList<XPTagEditorRules::FailureReport> reports;
    int beeps = 0;
    Editor()
    {
        XPTagWritePrompts prompts;
        prompts.reportFailures = [this](const XPTagEditorRules::FailureReport &r) { reports.append(r); };
        prompts.confirmMany = [](qsizetype) { return true; };
        window.setWritePrompts(prompts);
        window.setBeeper([this] { ++beeps; });
    }
    QLineEdit *typing() const { return window.tagsTokenField()->lineEdit(); }
};

void settle()
{
    XPTagWriteSession::waitForPendingWrites();
    QCoreApplication::processEvents();
}

TEST(TagEditorWindowTest, EscapeAfterTypingWritesNothing)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("escape"), 2);
    for (const QString &f : files)
        ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Keep")}, f));
    const QVariant before = tagTime(files.first());
    Editor e;
    e.window.editTagsForFilePaths(files);
    ASSERT_TRUE(e.window.isVisible());
    QTest::keyClicks(e.typing(), QStringLiteral("Urgent,Soon"));
    EXPECT_EQ(e.window.tags(), (QStringList{QStringLiteral("Keep"), QStringLiteral("Urgent")}));
    QTest::keyClick(e.typing(), Qt::Key_Escape);
    EXPECT_FALSE(e.window.isVisible());
    settle();
    for (const QString &f : files)
        EXPECT_EQ(tagsOf(f), QStringList{QStringLiteral("Keep")});
    EXPECT_EQ(tagTime(files.first()), before) << "not even the tag time moved";
    // Closing it later does not write what Escape dropped.
    e.window.close();
    settle();
    EXPECT_EQ(tagsOf(files.last()), QStringList{QStringLiteral("Keep")});
}

TEST(TagEditorWindowTest, ReturnEndsAPendingTagThenCommitsAndHides)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("return"), 2);
    Editor e;
    e.window.editTagsForFilePaths(files);
    QTest::keyClicks(e.typing(), QStringLiteral("Urgent,Second Tag"));
    QTest::keyClick(e.typing(), Qt::Key_Return);
    EXPECT_TRUE(e.window.isVisible()) << "the first Return only ends the tag being typed";
    EXPECT_EQ(e.window.tags(), (QStringList{QStringLiteral("Urgent"), QStringLiteral("Second Tag")}));
    QTest::keyClick(e.typing(), Qt::Key_Return);
    EXPECT_FALSE(e.window.isVisible());
    settle();
    for (const QString &f : files)
        EXPECT_EQ(tagsOf(f), (QStringList{QStringLiteral("Urgent"), QStringLiteral("Second Tag")}));
    EXPECT_EQ(LumitagPrefs::recentTags().mid(0, 2),
              (QStringList{QStringLiteral("Urgent"), QStringLiteral("Second Tag")}))
        << "the recent tags start with what was entered";
}

TEST(TagEditorWindowTest, ClosingTheWindowWritesTextStillBeingTyped)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("close"), 1);
    Editor e;
    e.window.editTagsForFilePaths(files);
    QTest::keyClicks(e.typing(), QStringLiteral("Pending"));
    e.window.close();
    EXPECT_FALSE(e.window.isVisible());
    settle();
    EXPECT_EQ(tagsOf(files.first()), QStringList{QStringLiteral("Pending")});
}

TEST(TagEditorWindowTest, ChangingOnlyTheRatingLeavesDifferentTagsAndTheirTimesAlone)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("rating-only"), 3);
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("A")}, files.at(0)));
    ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("B")}, files.at(1)));
    QList<QVariant> times;
    for (const QString &f : files)
        times.append(tagTime(f));
    Editor e;
    e.window.editFiles(files);
    EXPECT_EQ(e.window.tags(), QStringList{});
    QTest::keyClick(e.window.ratingField(), Qt::Key_4);
    EXPECT_TRUE(e.window.needToWriteRatings());
    EXPECT_EQ(e.window.ratingDisplay()->text(), QStringLiteral("rated 4/5"));
    ASSERT_TRUE(e.window.writeCommonTags());
    settle();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Lumitag::getRating(files.at(i)), 4.0);
        EXPECT_EQ(tagTime(files.at(i)), times.at(i));
    }
    EXPECT_EQ(tagsOf(files.at(0)), QStringList{QStringLiteral("A")});
    EXPECT_EQ(tagsOf(files.at(1)), QStringList{QStringLiteral("B")});
    EXPECT_EQ(tagsOf(files.at(2)), QStringList{});
}

TEST(TagEditorWindowTest, DifferentRatingsShowVariousAndStayUnlessTouched)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("various"), 2);
    ASSERT_FALSE(Lumitag::setRating(3, files.at(0)));
    ASSERT_FALSE(Lumitag::setRating(4, files.at(1)));
    Editor e;
    e.window.editFiles(files);
    EXPECT_EQ(e.window.ratingField()->value(), 0);
    EXPECT_EQ(e.window.ratingDisplay()->text(), QStringLiteral("various"));
    e.window.setFieldTags({QStringLiteral("Tagged")});
    ASSERT_TRUE(e.window.writeCommonTags());
    settle();
    EXPECT_EQ(Lumitag::getRating(files.at(0)), 3.0);
    EXPECT_EQ(Lumitag::getRating(files.at(1)), 4.0);

    // Setting the control to 0 on purpose removes every rating.
    e.window.editFiles(files);
    QTest::keyClick(e.window.ratingField(), Qt::Key_0);
    EXPECT_EQ(e.window.ratingDisplay()->text(), QStringLiteral("not rated"));
    ASSERT_TRUE(e.window.writeCommonTags());
    settle();
    EXPECT_EQ(Lumitag::getRating(files.at(0)), 0.0);
    EXPECT_EQ(Lumitag::getRating(files.at(1)), 0.0);
    EXPECT_EQ(tagsOf(files.at(0)), QStringList{QStringLiteral("Tagged")});
}

TEST(TagEditorWindowTest, TabWritesAndAsksTheOwnerToMoveOnAndBeepsAtTheEnd)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("tab"), 2);
    Editor e;
    QList<bool> moves;
    bool canMove = true;
    XPTagEditorController::Delegate delegate;
    delegate.moveToAnotherDocument = [&](bool forward) {
        moves.append(forward);
        if (canMove)
            e.window.editTagsForFilePaths({files.at(forward ? 1 : 0)});
        return canMove;
    };
    e.window.setDelegate(delegate);
    e.window.editTagsForFilePaths({files.at(0)});
    QTest::keyClicks(e.typing(), QStringLiteral("First,"));
    QTest::keyClick(e.typing(), Qt::Key_Tab);
    EXPECT_EQ(moves, QList<bool>{true});
    EXPECT_EQ(e.window.referenceObject(), QStringList{files.at(1)});
    settle();
    EXPECT_EQ(tagsOf(files.at(0)), QStringList{QStringLiteral("First")});

    canMove = false;
    QTest::keyClicks(e.typing(), QStringLiteral("Second,"));
    QTest::keyClick(e.typing(), Qt::Key_Backtab);
    EXPECT_EQ(moves, (QList<bool>{true, false}));
    EXPECT_EQ(e.beeps, 1);
    settle();
    EXPECT_EQ(tagsOf(files.at(1)), QStringList{QStringLiteral("Second")}) << "written even when it cannot move";
}

TEST(TagEditorWindowTest, APreviewIsShownOnlyForTheFileStillBeingEdited)
{
    const QString dir = TagTest::freshFolder(QStringLiteral("preview"));
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString first = dir + QStringLiteral("/first.png");
    const QString second = dir + QStringLiteral("/second.png");
    ASSERT_TRUE(red.save(first));
    ASSERT_TRUE(red.save(second));
    Editor e;
    QSignalSpy shown(&e.window, &XPTagEditorController::previewShown);
    QSignalSpy dropped(&e.window, &XPTagEditorController::previewDropped);
    // The first picture is made while the second file is already asked for.
    e.window.editFiles({first});
    e.window.editFiles({second});
    ASSERT_TRUE(waitFor([&] { return shown.size() == 1; }, 20000));
    EXPECT_EQ(shown.first().first().toString(), second);
    ASSERT_TRUE(waitFor([&] { return dropped.size() == 1; }, 20000));
    EXPECT_EQ(dropped.first().first().toString(), first);
    EXPECT_EQ(e.window.shownPreviewPath(), second);
    EXPECT_FALSE(e.window.imageView()->pixmap().isNull());
}

TEST(TagEditorWindowTest, TheWindowFrameIsKeptForTheNextStart)
{
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("frame"), 1);
    QRect kept;
    {
        Editor e;
        e.window.editTagsForFilePaths(files);
        e.window.setGeometry(120, 90, 470, 300);
        kept = e.window.geometry();
        QTest::keyClick(e.typing(), Qt::Key_Escape);
    }
    EXPECT_FALSE(Defaults::standard().stringForKey(XPTagEditorController::kFrameKey).isEmpty());
    Editor again;
    again.window.editTagsForFilePaths(files);
    EXPECT_EQ(again.window.geometry().size(), kept.size());
    EXPECT_EQ(again.window.geometry().topLeft(), kept.topLeft());
    again.window.close();
}

TEST(TagEditorWindowTest, OldFilesGetTheirModificationTimeNudgedWhenTheSettingIsOn)
{
    Defaults::standard().setBool(QStringLiteral("KPSetModifiyTimeOnTagsChanging"), true);
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("nudge"), 2);
    const time_t now = time(nullptr);
    const time_t twoDaysAgo = now - 2 * 86400;
    const time_t tenMinutesAgo = now - 600;
    utimbuf old{twoDaysAgo, twoDaysAgo};
    utimbuf recent{tenMinutesAgo, tenMinutesAgo};
    ASSERT_EQ(utime(QFile::encodeName(files.at(0)).constData(), &old), 0);
    ASSERT_EQ(utime(QFile::encodeName(files.at(1)).constData(), &recent), 0);
    Editor e;
    e.window.editFiles(files);
    e.window.setFieldTags({QStringLiteral("Nudged")});
    ASSERT_TRUE(e.window.writeCommonTags());
    settle();
    Defaults::standard().removeObjectForKey(QStringLiteral("KPSetModifiyTimeOnTagsChanging"));
    struct stat st {
    };
    ASSERT_EQ(lstat(QFile::encodeName(files.at(0)).constData(), &st), 0);
    EXPECT_EQ(st.st_mtime, twoDaysAgo + 2);
    ASSERT_EQ(lstat(QFile::encodeName(files.at(1)).constData(), &st), 0);
    EXPECT_EQ(st.st_mtime, tenMinutesAgo);
}

} // namespace

namespace {

TEST(RatingControlTest, UnlitStarsAreOutlinesAndKeysReachEveryValue)
{
    XPRatingControl stars;
    stars.resize(stars.sizeHint());
    stars.setValue(2);
    QSignalSpy changed(&stars, &XPRatingControl::ratingChanged);
    EXPECT_EQ(changed.size(), 0) << "the owner's setValue is silent";
    const QImage picture = stars.grab().toImage();
    const int star = (stars.width() - 4) / XPRatingControl::kMaxRating;
    const auto centreOf = [&](int i) { return picture.pixelColor(2 + star * i + star / 2, 2 + star / 2); };
    EXPECT_GT(centreOf(0).red(), 200) << "a lit star is gold";
    EXPECT_LT(centreOf(0).blue(), 120);
    const QColor unlit = centreOf(4);
    const QColor background = stars.palette().color(QPalette::Window);
    EXPECT_LT(std::abs(unlit.lightness() - background.lightness()), 30)
        << "an unlit star is filled: " << qPrintable(unlit.name());

    QTest::keyClick(&stars, Qt::Key_Right);
    EXPECT_EQ(stars.value(), 3);
    QTest::keyClick(&stars, Qt::Key_End);
    EXPECT_EQ(stars.value(), 5);
    QTest::keyClick(&stars, Qt::Key_Right);
    EXPECT_EQ(stars.value(), 5) << "no sixth star";
    QTest::keyClick(&stars, Qt::Key_Home);
    EXPECT_EQ(stars.value(), 0);
    QTest::keyClick(&stars, Qt::Key_Left);
    EXPECT_EQ(stars.value(), 0);
    EXPECT_EQ(changed.size(), 5);
    EXPECT_EQ(stars.accessibleDescription(), QStringLiteral("0 of 5 stars"));
}

} // namespace

namespace {

TEST(TagSearchWindowTest, FavouriteButtonsToggleTagsAndSearchHandsOverTheQuery)
{
    Defaults::standard().setString(QStringLiteral("KPCustomWords"), QStringLiteral("work \"two words\""));
    QStringList queries;
    XPTagSearchController search([&](const QString &q) { queries.append(q); });
    search.resize(420, 220);
    search.show();
    search.rebuildFavoriteTagButtons();
    XPTagButton *twoWords = nullptr;
    for (XPTagButton *b : search.favoriteTagsContainerView()->findChildren<XPTagButton *>())
        if (b->text() == QStringLiteral("two words"))
            twoWords = b;
    ASSERT_NE(twoWords, nullptr) << "no button for a custom word";

    search.searchField()->setText(QStringLiteral("work"));
    twoWords->click();
    EXPECT_EQ(search.tags(), (QStringList{QStringLiteral("work"), QStringLiteral("two words")}));
    EXPECT_EQ(search.searchField()->text(), QStringLiteral("work \"two words\""));
    QTest::keyClick(search.ratingField(), Qt::Key_3);
    search.searchButton()->click();
    EXPECT_EQ(queries, QStringList{QStringLiteral(" tag: work tag: \"two words\" starrating:>=3")});

    // A second click takes the tag out again: the tags are as before, the text in normal form.
    twoWords = nullptr;
    for (XPTagButton *b : search.favoriteTagsContainerView()->findChildren<XPTagButton *>())
        if (b->text() == QStringLiteral("two words"))
            twoWords = b;
    ASSERT_NE(twoWords, nullptr);
    EXPECT_TRUE(twoWords->isChecked()) << "the button shows its tag is in the field";
    twoWords->click();
    EXPECT_EQ(search.tags(), QStringList{QStringLiteral("work")});
    Defaults::standard().removeObjectForKey(QStringLiteral("KPCustomWords"));
}

} // namespace

namespace {

TEST(TagEditorWindowTest, ManyFilesAreReadOffTheMainThreadAndNothingIsWrittenBeforeThey)
{
    const int count = XPTagEditorController::kReadOnMainThreadUpTo + 10;
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("many-read"), count);
    for (const QString &f : files) {
        ASSERT_FALSE(Lumitag::setUserTags(QStringList{QStringLiteral("Shared"), QFileInfo(f).baseName()}, f));
        ASSERT_FALSE(Lumitag::setRating(2, f));
    }
    Editor e;
    e.window.editFiles(files);
    // The answer comes back through the event loop, which has not run yet: the editor is still
    // reading. Left now, it has nothing to write and writes nothing.
    ASSERT_TRUE(e.window.isReadingFiles());
    EXPECT_TRUE(e.window.referenceObject().isEmpty());
    EXPECT_FALSE(e.window.tagsTokenField()->isEnabled());
    EXPECT_EQ(e.window.writeCommonTags(), nullptr);
    EXPECT_FALSE(e.window.isReadingFiles()) << "reset ends the reading";
    // The late answer does not fill the emptied editor.
    QTest::qWait(300);
    EXPECT_TRUE(e.window.referenceObject().isEmpty());
    settle();
    EXPECT_EQ(tagsOf(files.first()), (QStringList{QStringLiteral("Shared"), QStringLiteral("file0")}));

    e.window.editFiles(files);
    ASSERT_TRUE(waitFor([&] { return !e.window.isReadingFiles(); }, 20000));
    EXPECT_EQ(e.window.referenceObject(), files);
    EXPECT_EQ(e.window.tags(), QStringList{QStringLiteral("Shared")});
    EXPECT_EQ(e.window.ratingDisplay()->text(), QStringLiteral("rated 2/5"));
    e.window.setFieldTags({QStringLiteral("Shared"), QStringLiteral("More")});
    ASSERT_TRUE(e.window.writeCommonTags());
    settle();
    // The file's own tag first, then the edited common tags in the editor's order.
    EXPECT_EQ(tagsOf(files.last()),
              (QStringList{QStringLiteral("file%1").arg(count - 1), QStringLiteral("Shared"), QStringLiteral("More")}));
}

} // namespace

TEST(TagEditorWindowTest, CommittingNeverWaitsForTheRecentTagsLockAndLosesNoTag)
{
    // Another Kelso (`kelso tags add`) holds the lock of the recent tags. The window used to wait
    // for it on its own thread, up to 10 s, and then drop the entered tags from the recents.
    const QStringList files = KelsoTest::makeFiles(QStringLiteral("lockheld"), 1);
    const QString lockPath = KLPaths::applicationSupportFolder() + QLatin1Char('/') + LumitagPrefs::prefsDomain() +
                             QStringLiteral(".tags-lock");
    ASSERT_TRUE(QDir().mkpath(KLPaths::applicationSupportFolder()));
    const int held = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    Editor e;
    e.window.editTagsForFilePaths(files);
    QTest::keyClicks(e.typing(), QStringLiteral("Held Lock Tag"));
    QTest::keyClick(e.typing(), Qt::Key_Return);
    QTest::keyClick(e.typing(), Qt::Key_Return);
    EXPECT_FALSE(e.window.isVisible());
    // The window is free while the lock is still held, and the file gets its tag meanwhile.
    EXPECT_TRUE(waitFor([&] { return tagsOf(files.first()) == QStringList{QStringLiteral("Held Lock Tag")}; }));
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_FALSE(LumitagPrefs::recentTags().contains(QStringLiteral("Held Lock Tag")))
        << "the recent tags are changed only under their lock";

    ::flock(held, LOCK_UN);
    ::close(held);
    settle();
    LumitagPrefs::forgetLastSynchronisation();
    EXPECT_TRUE(LumitagPrefs::recentTags().contains(QStringLiteral("Held Lock Tag")))
        << "entered while the lock was held, remembered once it was free";
}
