// The main window: placement, colours and text styles, count labels, the keyboard move between
// the grids, the Back control and showing/hiding with and without the fade.
#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLRecentSource.h"
#include "platform/Defaults.h"
#include "prefs/KLColours.h"
#include "support/TestSupport.h"
#include "util/Tilde.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Test discovery runs this program at build time without the test's environment; without a
// display Qt would abort, so the offscreen platform is chosen here as well.
const bool g_offscreen = [] {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

QString home()
{
    return KelsoTest::home();
}

using KelsoTest::makeFiles;

class ListSource : public KLRecentSource
{
public:
    QList<KLItemPtr> top;
    QHash<QString, QList<KLItemPtr>> folders;
    QList<KLItemPtr> recentFiles(const QSet<QString> &) override { return top; }
    QList<KLItemPtr> recentFilesInDirectory(const QString &p) override { return folders.value(p); }
    void removeItems(const QList<KLItemPtr> &) override {}
    bool writeState() override { return true; }
    void shutdown() override {}
};

std::unique_ptr<KLMainWindowController> makeController(const QString &name, ListSource **out = nullptr)
{
    auto source = std::make_unique<ListSource>();
    if (out)
        *out = source.get();
    KLMainWindowController::Options options;
    options.recentSource = std::move(source);
    options.coolerStorePath = QStringLiteral("%1/stores/%2.plist").arg(home(), name);
    return std::make_unique<KLMainWindowController>(std::move(options));
}

TEST(MainWindowTest, PlacementIsAFullWidthBandCentredVertically)
{
    const QRectF frame = KLMainWindowController::fullSizeWindowFrame(QRect(0, 0, 1440, 875), 300);
    EXPECT_DOUBLE_EQ(frame.x(), 40);
    EXPECT_DOUBLE_EQ(frame.width(), 1360);
    EXPECT_DOUBLE_EQ(frame.y(), 287.5);
    EXPECT_DOUBLE_EQ(frame.height(), 300);
    // A screen that does not start at the origin (a second monitor, a top panel).
    const QRectF second = KLMainWindowController::fullSizeWindowFrame(QRect(1920, 24, 1280, 1000), 600);
    EXPECT_DOUBLE_EQ(second.x(), 1960);
    EXPECT_DOUBLE_EQ(second.width(), 1200);
    EXPECT_DOUBLE_EQ(second.y(), 24 + 40 + (920 - 600) / 2.0);
    // No screen at all.
    EXPECT_EQ(KLMainWindowController::fullSizeWindowFrame(std::nullopt, 300), QRectF(100, 100, 300, 300));
}

TEST(MainWindowTest, TheWindowIsPlacedOnTheScreen)
{
    auto c = makeController(QStringLiteral("place"));
    c->setWindowFrameForCurrentScreen(false);
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect g = c->window()->geometry();
    EXPECT_EQ(g.x(), area.x() + 40);
    EXPECT_EQ(g.width(), area.width() - 80);
    EXPECT_NEAR(g.center().y(), area.center().y(), 1.0);
    EXPECT_EQ(c->window()->windowTitle(), QStringLiteral("Kelso"));
}

TEST(MainWindowTest, SubtitlesBlendTheTextColourWithTheBackground)
{
    const QColor blended =
        KLMainWindowController::blendedColour(Qt::white, QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f), 0.4);
    EXPECT_NEAR(blended.redF(), 0.6, 0.01);
    EXPECT_NEAR(blended.alphaF(), 1.0, 0.01);

    auto c = makeController(QStringLiteral("colours"));
    KLColours::setColour(Defaults::standard(), QStringLiteral("KLKelsoTextColour"), QColor::fromRgbF(1, 0, 0, 1));
    KLColours::setColour(Defaults::standard(), QStringLiteral("KLKelsoBackgroundColour"), QColor::fromRgbF(0, 0, 1, 1));
    const KLCellTextStyle title = c->kelsoBrowser()->cell()->titleStyle();
    const KLCellTextStyle sub = c->kelsoBrowser()->cell()->subtitleStyle();
    EXPECT_NEAR(title.colour.redF(), 1.0, 0.01);
    EXPECT_NEAR(sub.colour.redF(), 0.6, 0.01);
    EXPECT_NEAR(sub.colour.blueF(), 0.4, 0.01);
    EXPECT_EQ(c->kelsoBrowser()->cell()->highlightedTitleStyle().colour, QColor(Qt::white));
    EXPECT_DOUBLE_EQ(title.font.pointSizeF(), 11.0);
    EXPECT_EQ(c->kelsoView()->backgroundColour(), QColor::fromRgbF(0, 0, 1, 1));
    // The Cooler keeps its own colours.
    EXPECT_NEAR(c->coolerBrowser()->cell()->titleStyle().colour.redF(), 1.0, 0.01);
    EXPECT_NEAR(c->coolerBrowser()->cell()->titleStyle().colour.greenF(), 1.0, 0.01);
    Defaults::standard().removeObjectForKey(QStringLiteral("KLKelsoTextColour"));
    Defaults::standard().removeObjectForKey(QStringLiteral("KLKelsoBackgroundColour"));
}

TEST(MainWindowTest, UpAndDownMoveTheSelectionBetweenTheGrids)
{
    ListSource *source = nullptr;
    auto c = makeController(QStringLiteral("switch"), &source);
    for (const QString &p : makeFiles(QStringLiteral("switch-recent"), 6))
        source->top.append(KLItem::create(p));
    c->coolerDelegate()->addPaths(makeFiles(QStringLiteral("switch-cooler"), 5), 0);
    c->kelsoDelegate()->updateChangedFiles();
    c->kelsoDelegate()->reloadBrowserNow();
    c->coolerDelegate()->reloadBrowserNow();
    c->coolerBrowser()->setFixedWidth(3 * KLImageBrowserCell::kCellWidth + 30);
    c->window()->show();
    QApplication::processEvents();
    ASSERT_EQ(c->coolerBrowser()->numberOfColumns(), 3);

    struct Case {
        int from;
        int expected;
    };
    for (const Case &k : {Case{4, 0}, Case{1, 1}, Case{3, 3}}) {
        c->coolerDelegate()->clearSelection();
        c->kelsoDelegate()->selectIndexes({k.from});
        c->switchPanelFrom(c->kelsoBrowser(), true);
        EXPECT_EQ(c->coolerDelegate()->selectionIndexes(), QList<int>{k.expected}) << "from " << k.from;
        EXPECT_FALSE(c->kelsoDelegate()->hasSelection());
    }
    // Up from the Cooler back to the recent files; the other directions do nothing.
    c->coolerDelegate()->selectIndexes({2});
    c->switchPanelFrom(c->coolerBrowser(), true);
    EXPECT_EQ(c->coolerDelegate()->selectionIndexes(), QList<int>{2});
    c->switchPanelFrom(c->coolerBrowser(), false);
    EXPECT_EQ(c->kelsoDelegate()->selectionIndexes(), QList<int>{2});
    EXPECT_FALSE(c->coolerDelegate()->hasSelection());
    c->switchPanelFrom(c->kelsoBrowser(), false);
    EXPECT_EQ(c->kelsoDelegate()->selectionIndexes(), QList<int>{2});

    // The same through the keys of the grid.
    c->kelsoBrowser()->setFocus();
    QTest::keyClick(c->kelsoBrowser(), Qt::Key_Down);
    EXPECT_EQ(c->coolerDelegate()->selectionIndexes(), QList<int>{2});
}

TEST(MainWindowTest, SelectingInOnePaneClearsTheOther)
{
    ListSource *source = nullptr;
    auto c = makeController(QStringLiteral("exclusive"), &source);
    for (const QString &p : makeFiles(QStringLiteral("exclusive-recent"), 2))
        source->top.append(KLItem::create(p));
    c->coolerDelegate()->addPaths(makeFiles(QStringLiteral("exclusive-cooler"), 2), 0);
    c->kelsoDelegate()->updateChangedFiles();
    c->kelsoDelegate()->reloadBrowserNow();
    c->kelsoDelegate()->selectIndexes({0});
    EXPECT_FALSE(c->coolerDelegate()->hasSelection());
    c->coolerDelegate()->selectIndexes({1});
    EXPECT_FALSE(c->kelsoDelegate()->hasSelection());
}

TEST(MainWindowTest, CountLabelsAndTheBackControlFollowThePanes)
{
    ListSource *source = nullptr;
    auto c = makeController(QStringLiteral("labels"), &source);
    const QStringList inside = makeFiles(QStringLiteral("labels/stack"), 3);
    KLItemPtr stack = KLItem::create(home() + QStringLiteral("/labels/stack"));
    for (const QString &p : inside) {
        stack->addSubItem(KLItem::create(p));
        source->folders[stack->lastKnownPath()].append(KLItem::create(p));
    }
    source->top = {stack};
    c->window()->show();
    c->applicationDidFinishLaunching();
    EXPECT_EQ(c->kelsoCountLabel()->text(), QStringLiteral("1 item"));
    EXPECT_FALSE(c->coolerCountLabel()->isVisible()) << "an empty Cooler shows no count";
    EXPECT_FALSE(c->backButton()->isVisible());
    c->kelsoDelegate()->imageBrowserCellWasDoubleClickedAtIndex(0);
    EXPECT_TRUE(c->backButton()->isVisible());
    EXPECT_EQ(c->kelsoCountLabel()->text(), QStringLiteral("3 items"));
    // The folder is named from the home folder ("~/labels/stack"), as people say it.
    EXPECT_TRUE(c->kelsoExplanation()->text().contains(
        PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(stack->lastKnownPath())))
        << c->kelsoExplanation()->text().toStdString();
    QTest::mouseClick(c->backButton(), Qt::LeftButton);
    EXPECT_FALSE(c->backButton()->isVisible());
    EXPECT_EQ(c->kelsoCountLabel()->text(), QStringLiteral("1 item"));
    c->coolerDelegate()->addPaths(inside, 0);
    EXPECT_TRUE(c->coolerCountLabel()->isVisible());
    EXPECT_EQ(c->coolerCountLabel()->text(), QStringLiteral("3 items"));
}

TEST(MainWindowTest, ShowingAndHidingWithAndWithoutTheFade)
{
    auto c = makeController(QStringLiteral("fade"));
    KLCustomWindow *w = c->window();
    Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);
    c->showWindow(true);
    EXPECT_TRUE(w->isVisible());
    EXPECT_DOUBLE_EQ(w->windowOpacity(), 1.0);
    c->orderOut();
    EXPECT_TRUE(w->isFullyTransparent());

    Defaults::standard().setBool(QStringLiteral("KLFadeIn"), true);
    c->showWindow(true);
    EXPECT_TRUE(w->isVisible());
    EXPECT_LT(w->windowOpacity(), 1.0) << "starts from transparent";
    EXPECT_TRUE(KelsoTest::waitFor([&] { return w->windowOpacity() >= 1.0; }, 5000));
    c->orderOut();
    EXPECT_TRUE(w->isVisible()) << "fading out, still there";
    EXPECT_TRUE(KelsoTest::waitFor([&] { return w->isFullyTransparent(); }, 5000));
    Defaults::standard().setBool(QStringLiteral("KLFadeIn"), false);

    // Closing the window hides the program instead.
    c->showWindow(true);
    w->close();
    EXPECT_FALSE(w->isVisible());
}

TEST(MainWindowTest, TrayAndDockModesChangeTheWindowKind)
{
    auto c = makeController(QStringLiteral("modes"));
    EXPECT_TRUE(c->window()->windowFlags().testFlag(Qt::Tool));
    c->setTrayMode(false);
    EXPECT_FALSE(c->window()->windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(c->window()->windowFlags().testFlag(Qt::FramelessWindowHint)) << "dock mode has a title bar";
    c->setTrayMode(true);
    EXPECT_TRUE(c->window()->windowFlags().testFlag(Qt::Tool));
}

TEST(MainWindowTest, DragsOutJoinTheCoolerOnlyWhenWanted)
{
    auto c = makeController(QStringLiteral("autoadd"));
    const QStringList files = makeFiles(QStringLiteral("autoadd"), 2);
    c->coolerDelegate()->addPaths({files[1]}, 0);
    const QList<QUrl> urls = {QUrl::fromLocalFile(files[0]), QUrl::fromLocalFile(files[1])};
    Defaults::standard().setBool(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), false);
    c->autoAddToCooler(urls);
    EXPECT_EQ(c->coolerDelegate()->numberOfItems(), 1);
    Defaults::standard().setBool(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), true);
    c->autoAddToCooler(urls);
    EXPECT_EQ(c->coolerDelegate()->currentItemPaths(), (QStringList{files[0], files[1]}));
    Defaults::standard().setBool(QStringLiteral("KPAutoAddDragsAndSuchToCooler"), false);
}

} // namespace
