// The tag token field and its controller: separators, the limits on new tokens, paste and
// copy, completions, keys and what a screen reader is told.
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "tags/LumitagPrefs.h"
#include "tags/TagTextFormat.h"
#include "tags/editor/XPTagButton.h"
#include "tags/editor/XPTagsTokenFieldController.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

using L = QStringList;

namespace {

class TokenFieldTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // Recent tags of this test only.
        LumitagPrefs::setPrefsFile(QStringLiteral("test.tags.") + QUuid::createUuid().toString(QUuid::Id128));
        LumitagPrefs::forgetLastSynchronisation();
        Defaults::standard().setBool(QStringLiteral("KPUseCommas"), true);
        Defaults::standard().setBool(QStringLiteral("XPSkipTagAutoComplete"), false);
        Defaults::standard().setString(QStringLiteral("KPCustomWords"), QString());
        window = std::make_unique<QWidget>();
        window->resize(400, 120);
        field = new XPTokenField(window.get());
        field->setGeometry(10, 10, 380, 60);
        controller = std::make_unique<XPTagsTokenFieldController>(field, 22);
        controller->setBeeper([this] { ++beeps; });
        controller->setScreenCountProvider([this] { return screens; });
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    void TearDown() override
    {
        controller.reset();
        window.reset();
    }

    void setRecentTags(const L &tags)
    {
        LumitagPrefs::updatePrefsRecentTags({}, tags);
        LumitagPrefs::forgetLastSynchronisation();
    }

    std::unique_ptr<QWidget> window;
    XPTokenField *field = nullptr;
    std::unique_ptr<XPTagsTokenFieldController> controller;
    int beeps = 0;
    int screens = 1;
};

// `count` distinct tags joined by commas, the last one padded so the text is `length` long.
QString commaTextOfLength(int count, int length)
{
    L tags;
    for (int i = 0; i < count; ++i)
        tags.append(QStringLiteral("tag%1-abc").arg(i, 3, 10, QLatin1Char('0')));
    QString text = tags.join(QLatin1Char(','));
    text += QString(length - text.size(), QLatin1Char('x'));
    return text;
}

} // namespace

TEST_F(TokenFieldTest, PasteUpTo511CharactersAddsTheTagsAnd512IsRefusedWithABeep)
{
    // 46 tags of 10 characters and their commas make 505 characters; the last tag is padded.
    const QString text511 = commaTextOfLength(46, 511);
    ASSERT_EQ(text511.size(), 511);
    field->pasteText(text511);
    EXPECT_EQ(beeps, 0);
    ASSERT_EQ(controller->tags().size(), 46);
    EXPECT_EQ(controller->tags().first(), QStringLiteral("tag000-abc"));
    EXPECT_TRUE(controller->tags().last().endsWith(QStringLiteral("xxx")));

    controller->setTags({}, {});
    field->pasteText(commaTextOfLength(46, 512));
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(controller->tags().isEmpty());
}

TEST_F(TokenFieldTest, PastedTextGoesThroughTheSameSplittingAsTypedTags)
{
    Defaults::standard().setBool(QStringLiteral("KPUseCommas"), false);
    field->pasteText(QStringLiteral("alpha \"two words\" beta"));
    EXPECT_EQ(controller->tags(), (L{"alpha", "two words", "beta"}));
}

TEST_F(TokenFieldTest, FiftyTagsAtOnceAreAddedAndFiftyOneAreRefusedWhole)
{
    L fifty;
    for (int i = 0; i < 50; ++i)
        fifty.append(QStringLiteral("t%1").arg(i));
    EXPECT_EQ(field->addTokens(fifty).size(), 50);
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(controller->tags().size(), 50);

    controller->setTags({QStringLiteral("kept")}, {});
    L fiftyOne = fifty;
    fiftyOne.append(QStringLiteral("one more"));
    EXPECT_TRUE(field->addTokens(fiftyOne).isEmpty());
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(controller->tags(), L{"kept"});
}

TEST_F(TokenFieldTest, ATagOf200CharactersIsAcceptedAnd201IsRefused)
{
    const QString t200(200, QLatin1Char('a'));
    EXPECT_EQ(controller->filterNewTokens({t200}), L{t200});
    EXPECT_EQ(beeps, 0);
    const QString t201(201, QLatin1Char('b'));
    EXPECT_TRUE(controller->filterNewTokens({QStringLiteral("fine"), t201}).isEmpty());
    EXPECT_EQ(beeps, 1);
}

TEST_F(TokenFieldTest, NewTokensTurnPercent20IntoBlanksAndJoinQuotedSpans)
{
    EXPECT_EQ(controller->filterNewTokens({QStringLiteral("New%20York")}), L{"New York"});
    EXPECT_EQ(controller->filterNewTokens({QStringLiteral("\"two"), QStringLiteral("words\""), QStringLiteral("x")}),
              (L{"two words", "x"}));
    // A string that closes its own quote does not swallow the ones after it.
    EXPECT_EQ(controller->filterNewTokens({QStringLiteral("\"a b\""), QStringLiteral("c")}), (L{"a b", "c"}));
    // Nothing but quotes and blanks gives no tag (and no beep).
    EXPECT_TRUE(controller->filterNewTokens({QStringLiteral("\"  \"")}).isEmpty());
    EXPECT_EQ(controller->filterNewTokens({XPTagText::kRejectedPasteTooBig}), L{});
    EXPECT_EQ(beeps, 1);
}

TEST_F(TokenFieldTest, WithoutCommasAnOpenQuoteKeepsBlanksInsideTheToken)
{
    Defaults::standard().setBool(QStringLiteral("KPUseCommas"), false);
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("\"two words"));
    EXPECT_TRUE(controller->tags().isEmpty());
    EXPECT_EQ(field->pendingText(), QStringLiteral("\"two words"));
    QTest::keyClicks(field->lineEdit(), QStringLiteral("\" next "));
    EXPECT_EQ(controller->tags(), (L{"two words", "next"}));
    EXPECT_TRUE(field->pendingText().isEmpty());
    // Without a quote a blank ends the token.
    QTest::keyClicks(field->lineEdit(), QStringLiteral("a b"));
    EXPECT_EQ(controller->tags(), (L{"two words", "next", "a"}));
    EXPECT_EQ(field->pendingText(), QStringLiteral("b"));
}

TEST_F(TokenFieldTest, OpenQuoteSeparatorsFollowTheTypedText)
{
    Defaults::standard().setBool(QStringLiteral("KPUseCommas"), false);
    EXPECT_FALSE(controller->isTokenSeparator(QLatin1Char(' '), QStringLiteral("\"two")));
    EXPECT_TRUE(controller->isTokenSeparator(QLatin1Char('\n'), QStringLiteral("\"two")));
    EXPECT_TRUE(controller->isTokenSeparator(QLatin1Char(' '), QStringLiteral("\"two\"")));
    // A lone quote is open, not closed.
    EXPECT_FALSE(controller->isTokenSeparator(QLatin1Char(' '), QStringLiteral("\"")));
    EXPECT_TRUE(controller->isTokenSeparator(QLatin1Char('\t'), QStringLiteral("two")));
    Defaults::standard().setBool(QStringLiteral("KPUseCommas"), true);
    EXPECT_FALSE(controller->isTokenSeparator(QLatin1Char(' '), QStringLiteral("two")));
    EXPECT_TRUE(controller->isTokenSeparator(QLatin1Char(','), QStringLiteral("two")));
    EXPECT_TRUE(controller->isTokenSeparator(QLatin1Char('\n'), QStringLiteral("two")));
}

TEST_F(TokenFieldTest, WithCommasTypingNewYorkCommaGivesOneTag)
{
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("new york,"));
    EXPECT_EQ(controller->tags(), L{"new york"});
}

TEST_F(TokenFieldTest, ARefusedTypedTagStaysInTheTextForCorrection)
{
    field->lineEdit()->setFocus();
    const QString longTag(201, QLatin1Char('z'));
    field->setPendingText(longTag);
    QTest::keyClicks(field->lineEdit(), QStringLiteral(","));
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(controller->tags().isEmpty());
    EXPECT_EQ(field->pendingText(), longTag);
}

TEST_F(TokenFieldTest, ChoosingABlankCompletionWithoutCommasInsertsPercent20AndGivesTheTag)
{
    Defaults::standard().setBool(QStringLiteral("KPUseCommas"), false);
    setRecentTags({QStringLiteral("New York"), QStringLiteral("news")});
    EXPECT_EQ(controller->completions(QStringLiteral("new")), (L{"New%20York", "news"}));
    // A quote typed first keeps the blank and the quote.
    EXPECT_EQ(controller->completions(QStringLiteral("\"new y")), L{"\"New York"});
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("new"));
    EXPECT_EQ(field->visibleCompletions(), (L{"New%20York", "news"}));
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(controller->tags(), L{"New York"});
    EXPECT_FALSE(field->completionsVisible());
}

TEST_F(TokenFieldTest, TheTextBeingTypedDoesNotHideItsOwnCompletionButTokensAreNotOfferedAgain)
{
    setRecentTags({QStringLiteral("work"), QStringLiteral("workshop"), QStringLiteral("home")});
    controller->setTags({QStringLiteral("workshop")}, {});
    EXPECT_EQ(controller->completions(QStringLiteral("work")), L{"work"});
    EXPECT_EQ(controller->completions(QStringLiteral("WOR")), L{"work"});
    EXPECT_TRUE(controller->completions(QStringLiteral("x")).isEmpty());
    EXPECT_TRUE(controller->completions(QStringLiteral("\"")).isEmpty());
}

TEST_F(TokenFieldTest, WithTwoScreensTheCompletionsArePaddedOrCutToSixteen)
{
    L many;
    for (int i = 0; i < 20; ++i)
        many.append(QStringLiteral("p%1").arg(i, 2, 10, QLatin1Char('0')));
    setRecentTags({QStringLiteral("alpha"), QStringLiteral("alps"), QStringLiteral("altitude")});
    controller->setCandidateProvider([many] { return many; });
    controller->setTags({}, {});

    EXPECT_EQ(controller->completions(QStringLiteral("al")).size(), 3);
    screens = 2;
    const L padded = controller->completions(QStringLiteral("al"));
    ASSERT_EQ(padded.size(), 16);
    EXPECT_EQ(padded.mid(0, 3), (L{"alpha", "alps", "altitude"}));
    EXPECT_EQ(padded.count(QString()), 13);
    const L cut = controller->completions(QStringLiteral("p"));
    ASSERT_EQ(cut.size(), 16);
    EXPECT_EQ(cut.first(), QStringLiteral("p00"));
    EXPECT_EQ(cut.last(), QStringLiteral("p15"));
    // The popup shows only the real entries.
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("al"));
    EXPECT_EQ(field->visibleCompletions().size(), 3);
}

TEST_F(TokenFieldTest, CandidatesAreCustomWordsThenRecentTagsThenTheOwnersWithoutDuplicates)
{
    Defaults::standard().setString(QStringLiteral("KPCustomWords"), QStringLiteral("home, Work"));
    setRecentTags({QStringLiteral("work"), QStringLiteral("travel")});
    controller->setCandidateProvider([] { return L{QStringLiteral("TRAVEL"), QStringLiteral("zoo")}; });
    controller->setTags({}, {});
    EXPECT_EQ(controller->autoCompleteCandidates(), (L{"home", "Work", "travel", "zoo"}));
    EXPECT_EQ(XPTagsTokenFieldController::favoriteTags(), (L{"home", "Work", "travel"}));
}

TEST_F(TokenFieldTest, SkippingAutoCompleteOffersNothing)
{
    setRecentTags({QStringLiteral("work")});
    Defaults::standard().setBool(QStringLiteral("XPSkipTagAutoComplete"), true);
    controller->setTags({}, {});
    EXPECT_TRUE(controller->completions(QStringLiteral("w")).isEmpty());
    EXPECT_TRUE(controller->autoCompleteCandidates().isEmpty());
}

TEST_F(TokenFieldTest, TheCandidateCacheIsDroppedWhenTheFieldIsLoaded)
{
    controller->setTags({}, {});
    EXPECT_TRUE(controller->completions(QStringLiteral("fr")).isEmpty());
    setRecentTags({QStringLiteral("fresh")});
    EXPECT_TRUE(controller->completions(QStringLiteral("fr")).isEmpty()); // cached
    controller->setTags({}, {});
    EXPECT_EQ(controller->completions(QStringLiteral("fr")), L{"fresh"});
}

TEST_F(TokenFieldTest, CopyGivesCommaBlankJoinedTags)
{
    controller->setTags({QStringLiteral("alpha"), QStringLiteral("two words"), QStringLiteral("beta")}, {});
    field->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("alpha, two words, beta"));
    // Only the chosen chip when one has the focus.
    field->chipAt(1)->setFocus();
    field->copy();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("two words"));
}

TEST_F(TokenFieldTest, ClipboardKeysCopyCutAndPasteTokens)
{
    controller->setTags({QStringLiteral("a"), QStringLiteral("b")}, {});
    field->lineEdit()->setFocus();
    QTest::keyClick(field->lineEdit(), Qt::Key_Left);
    ASSERT_TRUE(field->chipAt(1)->hasFocus());
    QTest::keyClick(field->chipAt(1), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(controller->tags(), L{"a"});
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("b"));
    field->lineEdit()->setFocus();
    QTest::keyClick(field->lineEdit(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(controller->tags(), (L{"a", "b"}));
}

TEST_F(TokenFieldTest, KeysWalkAndRemoveChipsWithoutAMouse)
{
    controller->setTags({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, {});
    field->lineEdit()->setFocus();
    QTest::keyClick(field->lineEdit(), Qt::Key_Backspace);
    ASSERT_TRUE(field->chipAt(2)->hasFocus());
    QTest::keyClick(field->chipAt(2), Qt::Key_Left);
    ASSERT_TRUE(field->chipAt(1)->hasFocus());
    QTest::keyClick(field->chipAt(1), Qt::Key_Delete);
    EXPECT_EQ(controller->tags(), (L{"a", "c"}));
    // Select all, then remove everything.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    EXPECT_TRUE(controller->tags().isEmpty());
    EXPECT_TRUE(field->lineEdit()->hasFocus());
}

TEST_F(TokenFieldTest, ReturnOnAChipPutsItsTagBackIntoTheText)
{
    controller->setTags({QStringLiteral("two words"), QStringLiteral("b")}, {});
    field->chipAt(0)->setFocus();
    QTest::keyClick(field->chipAt(0), Qt::Key_Return);
    EXPECT_EQ(controller->tags(), L{"b"});
    EXPECT_EQ(field->pendingText(), QStringLiteral("\"two words\""));
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(controller->tags(), (L{"b", "two words"}));
}

TEST_F(TokenFieldTest, ReturnEndsAPendingTokenAndOnlyThenReportsReturn)
{
    QSignalSpy returns(controller.get(), &XPTagsTokenFieldController::returnPressed);
    QSignalSpy changes(controller.get(), &XPTagsTokenFieldController::tagsChanged);
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("pending"));
    EXPECT_TRUE(controller->hasPendingText());
    QTest::keyClick(field->lineEdit(), Qt::Key_Escape); // closes the completion popup only if shown
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(controller->tags(), L{"pending"});
    EXPECT_EQ(returns.count(), 0);
    EXPECT_GE(changes.count(), 1);
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(returns.count(), 1);
}

TEST_F(TokenFieldTest, CommitPendingTextSaysWhetherThereWasAToken)
{
    EXPECT_FALSE(controller->commitPendingText());
    field->setPendingText(QStringLiteral("late"));
    EXPECT_TRUE(controller->commitPendingText());
    EXPECT_EQ(controller->tags(), L{"late"});
    EXPECT_FALSE(controller->hasPendingText());
}

TEST_F(TokenFieldTest, EscapeTabAndBacktabAreReportedToTheOwner)
{
    QSignalSpy escapes(controller.get(), &XPTagsTokenFieldController::escapePressed);
    QSignalSpy tabs(controller.get(), &XPTagsTokenFieldController::tabPressed);
    QSignalSpy backtabs(controller.get(), &XPTagsTokenFieldController::backtabPressed);
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("x"));
    QTest::keyClick(field->lineEdit(), Qt::Key_Tab);
    EXPECT_EQ(tabs.count(), 1);
    // Tab ended the pending token first.
    EXPECT_EQ(controller->tags(), L{"x"});
    QTest::keyClick(field->lineEdit(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(backtabs.count(), 1);
    QTest::keyClick(field->lineEdit(), Qt::Key_Escape);
    EXPECT_EQ(escapes.count(), 1);
}

TEST_F(TokenFieldTest, WithoutAnOwnerForTabTheFocusMovesOn)
{
    auto *other = new QLineEdit(window.get());
    other->setGeometry(10, 80, 100, 20);
    other->show();
    QWidget::setTabOrder(field, other);
    field->lineEdit()->setFocus();
    QTest::keyClick(field->lineEdit(), Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus());
}

TEST_F(TokenFieldTest, AScreenReaderGetsEachTagAndTheListOfTags)
{
    controller->setTags({QStringLiteral("Urgent"), QStringLiteral("two words")}, {});
    EXPECT_FALSE(field->accessibleName().isEmpty());
    ASSERT_EQ(field->chipCount(), 2);
    EXPECT_EQ(field->chipAt(0)->accessibleName(), QStringLiteral("Urgent"));
    EXPECT_EQ(field->chipAt(1)->accessibleName(), QStringLiteral("two words"));
    EXPECT_EQ(field->accessibleDescription(), QStringLiteral("Urgent, two words"));
    EXPECT_FALSE(field->lineEdit()->accessibleName().isEmpty());
}

TEST_F(TokenFieldTest, LoadingAndResettingKeepWhatIsEdited)
{
    controller->setTags({QStringLiteral("\"quoted\""), QStringLiteral("b")}, {QStringLiteral("/x/a.txt")});
    EXPECT_EQ(controller->tags(), (L{"quoted", "b"}));
    EXPECT_EQ(controller->originalTags(), (L{"\"quoted\"", "b"}));
    EXPECT_EQ(controller->referenceObject(), L{"/x/a.txt"});
    controller->reset();
    EXPECT_TRUE(controller->tags().isEmpty());
    EXPECT_TRUE(controller->originalTags().isEmpty());
    EXPECT_TRUE(controller->referenceObject().isEmpty());
}

TEST_F(TokenFieldTest, EnteringAndLeavingAreReportedOnceWhateverMovesInside)
{
    auto *other = new QLineEdit(window.get());
    other->setGeometry(10, 80, 100, 20);
    other->show();
    other->setFocus();
    controller->setTags({QStringLiteral("a"), QStringLiteral("b")}, {});
    QSignalSpy entered(controller.get(), &XPTagsTokenFieldController::didBecomeFirstResponder);
    QSignalSpy left(controller.get(), &XPTagsTokenFieldController::didResignFirstResponder);
    field->setFocus();
    ASSERT_TRUE(field->lineEdit()->hasFocus());
    QTest::keyClick(field->lineEdit(), Qt::Key_Left);
    QTest::keyClick(field->chipAt(1), Qt::Key_Left);
    QTest::keyClick(field->chipAt(0), Qt::Key_End);
    EXPECT_TRUE(field->lineEdit()->hasFocus());
    EXPECT_EQ(entered.count(), 1);
    EXPECT_EQ(left.count(), 0);
    other->setFocus();
    EXPECT_EQ(left.count(), 1);
    field->setFocus();
    EXPECT_EQ(entered.count(), 2);
}

TEST_F(TokenFieldTest, LeavingTheFieldEndsThePendingToken)
{
    auto *other = new QLineEdit(window.get());
    other->setGeometry(10, 80, 100, 20);
    other->show();
    QSignalSpy left(controller.get(), &XPTagsTokenFieldController::didResignFirstResponder);
    field->lineEdit()->setFocus();
    QTest::keyClicks(field->lineEdit(), QStringLiteral("half"));
    other->setFocus();
    EXPECT_EQ(controller->tags(), L{"half"});
    EXPECT_EQ(left.count(), 1);
}

TEST_F(TokenFieldTest, ChipsAreDrawnInTheTagColourAndTheFocusedOneHighlighted)
{
    QPalette light = window->palette();
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    light.setColor(QPalette::Base, Qt::white);
    window->setPalette(light);
    controller->setTags({QStringLiteral("Urgent"), QStringLiteral("two words"), QStringLiteral("home")}, {});
    field->setPendingText(QStringLiteral("typing"));
    field->chipAt(2)->setFocus();
    const QImage picture = field->grab().toImage();
    if (qEnvironmentVariableIsSet("KELSO_TEST_SAVE_GRABS"))
        picture.save(qEnvironmentVariable("KELSO_TEST_SAVE_GRABS") + QStringLiteral("/token-field.png"));
    const qreal ratio = picture.devicePixelRatio();
    auto colourAt = [&](int chip) {
        const QRect g = field->chipAt(chip)->geometry();
        const QPoint p(g.left() + 4, g.center().y());
        return QColor(picture.pixel(int(p.x() * ratio), int(p.y() * ratio)));
    };
    EXPECT_EQ(colourAt(0), XPTagButton::styleColor(XPTagButton::TagStyle, false, false));
    EXPECT_EQ(colourAt(2), light.color(QPalette::Highlight));
    // The chips sit in order on one row, before the text.
    EXPECT_LT(field->chipAt(0)->x(), field->chipAt(1)->x());
    EXPECT_LT(field->chipAt(2)->geometry().right(), field->lineEdit()->x());
}
