// The favourite-tag row: which tags get buttons, the row layout, "Remove from Recents", the
// on/off state following the field, and the button styles.
#include "platform/Defaults.h"
#include "support/TestSupport.h"
#include "tags/LumitagPrefs.h"
#include "tags/editor/XPTagButton.h"
#include "tags/editor/XPTagsTokenFieldController.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QTest>
#include <QUuid>
#include <gtest/gtest.h>

using L = QStringList;
using C = XPTagsTokenFieldController;

namespace {

class TagButtonsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LumitagPrefs::setPrefsFile(QStringLiteral("test.buttons.") + QUuid::createUuid().toString(QUuid::Id128));
        LumitagPrefs::forgetLastSynchronisation();
        Defaults::standard().setString(QStringLiteral("KPCustomWords"), QString());
        container = std::make_unique<QWidget>();
        container->resize(300, 100);
    }

    void setRecentTags(const L &tags)
    {
        LumitagPrefs::updatePrefsRecentTags({}, tags);
        LumitagPrefs::forgetLastSynchronisation();
    }

    QList<XPTagButton *> buttons() const { return container->findChildren<XPTagButton *>(Qt::FindDirectChildrenOnly); }

    L titles() const
    {
        L out;
        for (XPTagButton *b : buttons())
            out.append(b->text());
        return out;
    }

    static int textWidth(const QString &tag)
    {
        QFont f = QApplication::font();
        f.setPointSize(9);
        return QFontMetrics(f).horizontalAdvance(tag);
    }

    std::unique_ptr<QWidget> container;
};

} // namespace

TEST_F(TagButtonsTest, CustomWordsComeFirstAndCaseInsensitiveDuplicatesOnce)
{
    Defaults::standard().setString(QStringLiteral("KPCustomWords"), QStringLiteral("home, Work"));
    setRecentTags({QStringLiteral("work"), QStringLiteral("travel")});
    C::rebuildFavoriteTagButtons(container.get(), {});
    EXPECT_EQ(titles(), (L{"home", "Work", "travel"}));
}

TEST_F(TagButtonsTest, ButtonsSitInRowsFourteenHighWithThreeBetween)
{
    const L tags{QStringLiteral("alpha"), QStringLiteral("beta"), QStringLiteral("gamma")};
    const int wAlpha = textWidth(tags[0]) + 20;
    const int wBeta = textWidth(tags[1]) + 20;
    const int wGamma = textWidth(tags[2]) + 20;
    // Room for alpha and beta on the first row, not for gamma.
    container->resize(3 + wAlpha + 3 + wBeta + 3 + wGamma / 2, 100);
    const int last = C::rebuildFavoriteTagButtons(container.get(), tags, {});
    const QList<XPTagButton *> b = buttons();
    ASSERT_EQ(b.size(), 3);
    EXPECT_EQ(b[0]->geometry(), QRect(3, 3, wAlpha, 14));
    EXPECT_EQ(b[1]->geometry(), QRect(3 + wAlpha + 3, 3, wBeta, 14));
    EXPECT_EQ(b[2]->geometry(), QRect(3, 3 + 14 + 3, wGamma, 14));
    // The last row's bottom, counted upwards from the container's bottom edge.
    EXPECT_EQ(last, 100 - 3 - 14 - 3 - 14);
}

TEST_F(TagButtonsTest, AButtonIsNeverWiderThanTheContainer)
{
    container->resize(80, 100);
    const QString wide(60, QLatin1Char('W'));
    C::rebuildFavoriteTagButtons(container.get(), {wide, QStringLiteral("x")}, {});
    const QList<XPTagButton *> b = buttons();
    ASSERT_EQ(b.size(), 2);
    EXPECT_EQ(b[0]->width(), 80);
    // The wide button has the first row to itself; the next one starts a row below.
    EXPECT_EQ(b[0]->y(), 3);
    EXPECT_EQ(b[1]->geometry().topLeft(), QPoint(3, 20));
}

TEST_F(TagButtonsTest, AtMostOneHundredButtonsAndFewerWhenRowsRunOut)
{
    L many;
    for (int i = 0; i < 150; ++i)
        many.append(QStringLiteral("t%1").arg(i));
    container->resize(200, 4000);
    EXPECT_GT(C::rebuildFavoriteTagButtons(container.get(), many, {}), 0);
    EXPECT_EQ(buttons().size(), 100);
    EXPECT_EQ(buttons().last()->text(), QStringLiteral("t99"));

    // Two rows' room: the rebuild stops where the third row would start and answers 0.
    container->resize(200, 3 + 14 + 3 + 14 + 3 + 5);
    EXPECT_EQ(C::rebuildFavoriteTagButtons(container.get(), many, {}), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int count = int(buttons().size());
    EXPECT_GT(count, 2);
    EXPECT_LT(count, 100);
    for (XPTagButton *b : buttons())
        EXPECT_LE(b->geometry().bottom(), container->height());
}

TEST_F(TagButtonsTest, RebuildingReplacesTheOldButtons)
{
    C::rebuildFavoriteTagButtons(container.get(), {QStringLiteral("a"), QStringLiteral("b")}, {});
    C::rebuildFavoriteTagButtons(container.get(), {QStringLiteral("c")}, {});
    EXPECT_EQ(titles(), L{"c"});
}

TEST_F(TagButtonsTest, RemoveFromRecentsShowsDashesUntilTheRowIsRebuilt)
{
    Defaults::standard().setString(QStringLiteral("KPCustomWords"), QStringLiteral("home"));
    setRecentTags({QStringLiteral("home"), QStringLiteral("travel")});
    C::rebuildFavoriteTagButtons(container.get(), {});
    ASSERT_EQ(titles(), (L{"home", "travel"}));

    // A custom word: gone from the recent tags, still a custom word, back after a rebuild.
    XPTagButton *home = buttons()[0];
    ASSERT_TRUE(home->contextMenu());
    ASSERT_EQ(home->contextMenu()->actions().size(), 1);
    EXPECT_EQ(home->contextMenu()->actions()[0]->text(), QStringLiteral("Remove from Recents"));
    home->contextMenu()->actions()[0]->trigger();
    EXPECT_EQ(home->text(), XPTagButton::kRemovedTitle);
    EXPECT_TRUE(KelsoTest::waitFor([] {
        LumitagPrefs::forgetLastSynchronisation();
        return LumitagPrefs::recentTags() == L{"travel"};
    }));
    EXPECT_EQ(Defaults::standard().stringForKey(QStringLiteral("KPCustomWords")), QStringLiteral("home"));
    C::rebuildFavoriteTagButtons(container.get(), {});
    EXPECT_EQ(titles(), (L{"home", "travel"}));

    // A recent tag: gone for good after the rebuild.
    buttons()[1]->removeFromRecentsAction();
    EXPECT_EQ(buttons()[1]->text(), QStringLiteral("----"));
    EXPECT_TRUE(KelsoTest::waitFor([] {
        LumitagPrefs::forgetLastSynchronisation();
        return LumitagPrefs::recentTags().isEmpty();
    }));
    C::rebuildFavoriteTagButtons(container.get(), {});
    EXPECT_EQ(titles(), L{"home"});
}

TEST_F(TagButtonsTest, ClickingAButtonAsksTheOwnerAndTheStatesFollowTheTags)
{
    L fieldTags{QStringLiteral("b")};
    container->show();
    C::rebuildFavoriteTagButtons(container.get(), {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("B")},
                                 [&](XPTagButton *button) {
                                     if (fieldTags.contains(button->text()))
                                         fieldTags.removeAll(button->text());
                                     else
                                         fieldTags.append(button->text());
                                     C::updateFavoriteTagButtons(container.get(), fieldTags);
                                 });
    C::updateFavoriteTagButtons(container.get(), fieldTags);
    const QList<XPTagButton *> b = buttons();
    ASSERT_EQ(b.size(), 3);
    EXPECT_FALSE(b[0]->isChecked());
    EXPECT_TRUE(b[1]->isChecked());
    EXPECT_FALSE(b[2]->isChecked()); // exact match only

    QTest::mouseClick(b[1], Qt::LeftButton);
    EXPECT_TRUE(fieldTags.isEmpty());
    EXPECT_FALSE(b[1]->isChecked());
    QTest::mouseClick(b[1], Qt::LeftButton);
    EXPECT_EQ(fieldTags, L{"b"});
    // The keyboard reaches the buttons too.
    b[0]->setFocus();
    QTest::keyClick(b[0], Qt::Key_Space);
    EXPECT_EQ(fieldTags, (L{"b", "a"}));
    EXPECT_TRUE(b[0]->isChecked());
}

TEST_F(TagButtonsTest, TheControllerKeepsItsRowInStepWithTheField)
{
    QWidget window;
    auto *field = new XPTokenField(&window);
    XPTagsTokenFieldController controller(field, 22);
    C::rebuildFavoriteTagButtons(container.get(), {QStringLiteral("x"), QStringLiteral("y")}, {});
    controller.setFavoriteTagsContainerView(container.get());
    controller.setTags({QStringLiteral("y")}, {});
    EXPECT_FALSE(buttons()[0]->isChecked());
    EXPECT_TRUE(buttons()[1]->isChecked());
    field->addTokens({QStringLiteral("x")});
    EXPECT_TRUE(buttons()[0]->isChecked());
    field->removeTokenAt(0); // "y"
    EXPECT_TRUE(buttons()[0]->isChecked());
    EXPECT_FALSE(buttons()[1]->isChecked());
}

TEST_F(TagButtonsTest, StylesHaveTheirDarkAndLightColours)
{
    using B = XPTagButton;
    EXPECT_EQ(B::styleColor(B::TagStyle, true, false), QColor(30, 73, 97));
    EXPECT_EQ(B::styleColor(B::TagStyle, false, false), QColor(208, 235, 253));
    EXPECT_EQ(B::styleColor(B::WhereStyle, true, false), QColor(50, 87, 38));
    EXPECT_EQ(B::styleColor(B::WhereStyle, false, false), QColor(220, 245, 211));
    EXPECT_EQ(B::styleColor(B::SourceStyle, true, false), QColor(99, 65, 24));
    EXPECT_EQ(B::styleColor(B::SourceStyle, false, false), QColor(252, 225, 206));
    EXPECT_NE(B::styleColor(B::GrayTagStyle, true, false), B::styleColor(B::GrayTagStyle, false, false));
    EXPECT_EQ(B::styleColor(B::NotTagStyle, true, false), B::styleColor(B::NotTagStyle, false, false));
    // The heads-up style lights up while hovered or on, lighter under a dark appearance.
    EXPECT_EQ(B::styleColor(B::HeadsUpStyle, false, false), QColor(208, 235, 253));
    const QColor activeLight = B::styleColor(B::HeadsUpStyle, false, true);
    const QColor activeDark = B::styleColor(B::HeadsUpStyle, true, true);
    EXPECT_NE(activeLight, QColor(208, 235, 253));
    EXPECT_GT(activeDark.lightness(), activeLight.lightness());

    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    EXPECT_TRUE(B::isDarkPalette(dark));
    EXPECT_FALSE(B::isDarkPalette(light));
}

TEST_F(TagButtonsTest, SizeToFitIsTheTitleWidthPlusTwenty)
{
    XPTagButton button(QStringLiteral("holiday"), XPTagButton::TagStyle);
    button.resize(10, 17);
    button.sizeToFit();
    EXPECT_EQ(button.width(), QFontMetrics(button.titleFont()).horizontalAdvance(QStringLiteral("holiday")) + 20);
    EXPECT_EQ(button.height(), 17);
}

TEST_F(TagButtonsTest, HoverShowsOnlyOnAnEnabledButton)
{
    XPTagButton button(QStringLiteral("t"), XPTagButton::TagStyle);
    button.setShowHovered(true);
    EXPECT_TRUE(button.showHovered());
    button.setEnabled(false);
    EXPECT_FALSE(button.showHovered());
    button.setShowHovered(true);
    EXPECT_FALSE(button.showHovered());
}

TEST_F(TagButtonsTest, TheRowIsDrawnInTheHeadsUpColoursOffAndOn)
{
    QPalette light = container->palette();
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    container->setPalette(light);
    container->setAutoFillBackground(true);
    container->resize(300, 40);
    C::rebuildFavoriteTagButtons(container.get(), {QStringLiteral("off"), QStringLiteral("on")}, {});
    C::updateFavoriteTagButtons(container.get(), {QStringLiteral("on")});
    const QImage picture = container->grab().toImage();
    if (qEnvironmentVariableIsSet("KELSO_TEST_SAVE_GRABS"))
        picture.save(qEnvironmentVariable("KELSO_TEST_SAVE_GRABS") + QStringLiteral("/tag-buttons.png"));
    const qreal ratio = picture.devicePixelRatio();
    auto colourAt = [&](XPTagButton *b) {
        // Inside the rounded shape, left of the centred title.
        const QPoint p = b->geometry().topLeft() + QPoint(4, 7);
        return QColor(picture.pixel(int(p.x() * ratio), int(p.y() * ratio)));
    };
    const QList<XPTagButton *> b = buttons();
    ASSERT_EQ(b.size(), 2);
    EXPECT_EQ(colourAt(b[0]), XPTagButton::styleColor(XPTagButton::HeadsUpStyle, false, false));
    EXPECT_EQ(colourAt(b[1]), XPTagButton::styleColor(XPTagButton::HeadsUpStyle, false, true));
}

TEST_F(TagButtonsTest, TheHoverIconShowsOnlyWhileHovered)
{
    QPixmap red(6, 6);
    red.fill(Qt::red);
    XPTagButton button(QStringLiteral("where"), XPTagButton::WhereStyle, QIcon(red));
    button.resize(80, 14);
    ASSERT_TRUE(button.hasHoverIcon());
    auto cornerColour = [&] {
        const QImage picture = button.grab().toImage();
        const qreal ratio = picture.devicePixelRatio();
        return QColor(picture.pixel(int(3 * ratio), int(3 * ratio)));
    };
    EXPECT_NE(cornerColour(), QColor(Qt::red));
    button.setShowHovered(true);
    EXPECT_EQ(cornerColour(), QColor(Qt::red));
}
