// The drop zone's window and view, offscreen on one 1440 x 900 screen: where the window goes,
// what drops do, dragging the zone across (and its height kept over a restart), the settings
// it follows, its drawing in light and dark palettes; and the reader of dragged uri-lists.
#include "browser/KLServices.h"
#include "dropzone/KLDropZoneController.h"
#include "dropzone/KLDropZoneView.h"
#include "platform/Defaults.h"
#include "platform/x11/X11DragMonitor.h"

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

class DropZoneTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        openDefaults();
        services.tagEditorOpener = [this](const QStringList &paths) { tagged.append(paths); };
    }

    // The settings file as a start of the program finds it.
    void openDefaults()
    {
        defaults = std::make_unique<Defaults>(dir.filePath(QStringLiteral("settings.plist")));
        defaults->registerDefaults({{QStringLiteral("KPShowDropZone2"), true},
                                    {QStringLiteral("KPDropZoneLeftEdge"), false},
                                    {QStringLiteral("KPDropZoneOverlapWithScreen"), false}});
    }

    std::unique_ptr<KLDropZoneController> makeZone()
    {
        KLDropZoneController::Options o;
        o.defaults = defaults.get();
        o.services = &services;
        o.coolerDrop = [this](const QStringList &paths) { cooled.append(paths); };
        o.clearSearch = [this] { ++searchesCleared; };
        o.screens = [] { return QList<QRectF>{QRectF(0, 0, 1440, 900)}; };
        return std::make_unique<KLDropZoneController>(std::move(o));
    }

    static void drop(QWidget *view, const QPoint &at, QMimeData *mime)
    {
        QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        QDropEvent dropped(QPointF(at), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &dropped);
        EXPECT_TRUE(dropped.isAccepted());
        // Never a move: the source would delete the files it gave.
        EXPECT_EQ(dropped.dropAction(), Qt::CopyAction);
    }

    static QMimeData *filesMime(const QStringList &paths)
    {
        auto *mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls.append(QUrl::fromLocalFile(p));
        mime->setUrls(urls);
        return mime;
    }

    QTemporaryDir dir;
    std::unique_ptr<Defaults> defaults;
    KLServices services;
    QList<QStringList> tagged;
    QList<QStringList> cooled;
    int searchesCleared = 0;
};

const QStringList kThree = {QStringLiteral("/home/u/a b.txt"), QStringLiteral("/home/u/c.jpg"),
                            QStringLiteral("/home/u/d")};

} // namespace

TEST_F(DropZoneTest, TheWindowStartsHiddenAtTheRightEdgeAndSlidesToNinetyEightPoints)
{
    auto zone = makeZone();
    EXPECT_TRUE(zone->window()->isVisible());
    EXPECT_EQ(zone->window()->geometry(), QRect(1438, 300, 100, 300));
    EXPECT_FALSE(zone->isOnScreen());
    zone->slideOnscreen();
    EXPECT_TRUE(zone->isOnScreen());
    EXPECT_EQ(zone->window()->geometry(), QRect(1342, 300, 100, 300));
    zone->slideOffscreen();
    EXPECT_FALSE(zone->isOnScreen());
    EXPECT_EQ(zone->window()->geometry(), QRect(1438, 300, 100, 300));
    // A tool window that takes no focus and has no taskbar entry.
    const Qt::WindowFlags flags = zone->window()->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(zone->window()->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(DropZoneTest, TheSettingsMoveTheZoneAtOnceAndHideOrShowItsWindow)
{
    auto zone = makeZone();
    defaults->setBool(QStringLiteral("KPDropZoneLeftEdge"), true);
    EXPECT_EQ(zone->window()->geometry(), QRect(-98, 300, 100, 300));
    // The strip follows to the inner side.
    EXPECT_EQ(zone->view()->stripRect(), QRect(80, 0, 20, 300));
    EXPECT_EQ(zone->view()->tagRect(), QRect(0, 0, 80, 150));
    defaults->setBool(QStringLiteral("KPDropZoneLeftEdge"), false);
    zone->slideTitleBarOnscreen();
    EXPECT_TRUE(defaults->boolForKey(QStringLiteral("KPDropZoneOverlapWithScreen")));
    EXPECT_EQ(zone->window()->geometry(), QRect(1420, 300, 100, 300));
    zone->setShownForPreferences(false);
    EXPECT_EQ(zone->window()->geometry(), QRect(1438, 300, 100, 300));
    defaults->setBool(QStringLiteral("KPShowDropZone2"), false);
    EXPECT_FALSE(zone->window()->isVisible());
    // Sliding in does not bring back a window the user switched off.
    zone->slideOnscreen();
    EXPECT_FALSE(zone->window()->isVisible());
    defaults->setBool(QStringLiteral("KPShowDropZone2"), true);
    EXPECT_TRUE(zone->window()->isVisible());
}

TEST_F(DropZoneTest, FilesDroppedOnTheUpperHalfGoToTheTagEditorAndOnTheLowerHalfOrStripToTheCooler)
{
    auto zone = makeZone();
    zone->slideOnscreen();
    QWidget *view = zone->view();
    ASSERT_EQ(view->size(), QSize(100, 300));
    ASSERT_EQ(zone->view()->tagRect(), QRect(20, 0, 80, 150));

    std::unique_ptr<QMimeData> mime(filesMime(kThree));
    drop(view, QPoint(60, 40), mime.get());
    ASSERT_EQ(tagged.size(), 1);
    EXPECT_EQ(tagged[0], kThree);
    EXPECT_TRUE(cooled.isEmpty());
    EXPECT_EQ(searchesCleared, 1); // the panes show their lists again
    EXPECT_TRUE(zone->dragWasToDropZone());
    EXPECT_FALSE(zone->isOnScreen());

    drop(view, QPoint(60, 149), mime.get());
    EXPECT_EQ(tagged.size(), 2);
    drop(view, QPoint(60, 150), mime.get());
    ASSERT_EQ(cooled.size(), 1);
    EXPECT_EQ(cooled[0], kThree);
    drop(view, QPoint(5, 40), mime.get()); // the strip
    EXPECT_EQ(cooled.size(), 2);
    EXPECT_EQ(tagged.size(), 2);
    EXPECT_EQ(searchesCleared, 4);
}

TEST_F(DropZoneTest, ADroppedFileUrlNamingLocalhostIsALocalFile)
{
    auto zone = makeZone();
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl(QStringLiteral("file://localhost/home/u/caf%C3%A9.txt")),
                   QUrl(QStringLiteral("file://otherhost/home/u/remote.txt"))});
    drop(zone->view(), QPoint(60, 200), mime.get());
    ASSERT_EQ(cooled.size(), 1);
    EXPECT_EQ(cooled[0], QStringList{QString::fromUtf8("/home/u/café.txt")});
}

TEST_F(DropZoneTest, ANewScreenLayoutPutsTheZoneAtItsHiddenFrameAtOnce)
{
    QList<QRectF> screens{QRectF(0, 0, 1440, 900)};
    KLDropZoneController::Options o;
    o.defaults = defaults.get();
    o.services = &services;
    o.screens = [&screens] { return screens; };
    KLDropZoneController zone(std::move(o));
    zone.slideOnscreen();
    ASSERT_EQ(zone.window()->geometry(), QRect(1342, 300, 100, 300));
    // A second screen to the right, taller and lower.
    screens.append(QRectF(1440, 0, 1920, 1200));
    zone.displayConfigurationDidChange();
    EXPECT_FALSE(zone.isOnScreen());
    // Its kept height (300 up from the main screen's bottom at 900) is 300 down in Qt's axis.
    EXPECT_EQ(zone.window()->geometry(), QRect(3358, 300, 100, 300));
}

TEST_F(DropZoneTest, SlidesAreSmoothWithACompositorAndInstantWithout)
{
    bool compositor = true;
    KLDropZoneController::Options o;
    o.defaults = defaults.get();
    o.screens = [] { return QList<QRectF>{QRectF(0, 0, 1440, 900)}; };
    o.compositorRunning = [&compositor] { return compositor; };
    KLDropZoneController zone(std::move(o));
    QWidget *window = zone.window();

    zone.slideOnscreen();
    EXPECT_TRUE(zone.isOnScreen());
    // Under way: neither where it was nor where it goes, and moving inwards only.
    QList<int> seen;
    QElapsedTimer clock;
    clock.start();
    while (window->x() != 1342 && clock.elapsed() < 3000) {
        seen.append(window->x());
        QTest::qWait(10);
    }
    EXPECT_EQ(window->x(), 1342);
    EXPECT_GE(clock.elapsed(), KLDropZoneController::kSlideMs / 2);
    const bool between = std::any_of(seen.begin(), seen.end(), [](int x) { return x > 1342 && x < 1438; });
    EXPECT_TRUE(between) << "no position between the two frames was seen";
    EXPECT_TRUE(std::is_sorted(seen.rbegin(), seen.rend()));
    // A second slide in while one runs or is done does not start over.
    zone.slideOnscreen();
    EXPECT_EQ(window->x(), 1342);

    compositor = false;
    zone.slideOffscreen();
    EXPECT_EQ(window->x(), 1438);
    zone.slideOnscreen();
    EXPECT_EQ(window->x(), 1342);
}

TEST_F(DropZoneTest, WithoutAGlobalPointerADragThatLeavesTheZoneTakesItBack)
{
    // Offscreen, as on Wayland, there is no drag monitor: only the drag that reaches the zone
    // brings it in, and only its leaving takes it out again.
    auto zone = makeZone();
    ASSERT_FALSE(zone->followsGlobalDrags());
    std::unique_ptr<QMimeData> mime(filesMime(kThree));
    QDragEnterEvent enter(QPoint(1, 100), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone->view(), &enter);
    EXPECT_TRUE(zone->isOnScreen());
    QDragLeaveEvent leave;
    QApplication::sendEvent(zone->view(), &leave);
    EXPECT_FALSE(zone->isOnScreen());
    EXPECT_EQ(zone->window()->geometry(), QRect(1438, 300, 100, 300));
    EXPECT_TRUE(tagged.isEmpty());
    EXPECT_TRUE(cooled.isEmpty());
}

TEST_F(DropZoneTest, ADropWithoutLocalFilesOnlyHidesTheZone)
{
    auto zone = makeZone();
    zone->slideOnscreen();
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl(QStringLiteral("https://example.org/a.pdf"))});
    drop(zone->view(), QPoint(60, 40), mime.get());
    EXPECT_TRUE(tagged.isEmpty());
    EXPECT_TRUE(cooled.isEmpty());
    EXPECT_EQ(searchesCleared, 0); // nothing dropped, the search stays
    EXPECT_FALSE(zone->isOnScreen());
    // Plain text is not even taken.
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("words"));
    QDragEnterEvent enter(QPoint(60, 40), Qt::CopyAction, text.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(zone->view(), &enter);
    EXPECT_FALSE(enter.isAccepted());
    EXPECT_FALSE(zone->isOnScreen());
}

TEST_F(DropZoneTest, DraggingTheStripToTheLeftHalfMovesTheZoneThereAndItsHeightSurvivesARestart)
{
    {
        auto zone = makeZone();
        QWidget *view = zone->view();
        // Pressed on the 2 visible points at the right edge, 150 below the window's top.
        const QPointF pressAt(1439, 450);
        QMouseEvent press(QEvent::MouseButtonPress, pressAt - QPointF(1438, 300), pressAt, Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &press);
        // Still nearer the right: stays there, following the pointer up and down.
        const QPointF nearRight(900, 400);
        QMouseEvent move1(QEvent::MouseMove, QPointF(), nearRight, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move1);
        EXPECT_EQ(zone->window()->geometry(), QRect(1438, 250, 100, 300));
        // Past the middle: the left edge.
        const QPointF nearLeft(300, 330);
        QMouseEvent move2(QEvent::MouseMove, QPointF(), nearLeft, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move2);
        EXPECT_TRUE(defaults->boolForKey(QStringLiteral("KPDropZoneLeftEdge")));
        EXPECT_EQ(zone->window()->geometry(), QRect(-98, 180, 100, 300));
        // The upward axis: 900 - 180 - 300.
        EXPECT_EQ(zone->dropZoneY(), 420);
        // Exactly in the middle: the right side wins.
        const QPointF middle(720, 330);
        QMouseEvent move3(QEvent::MouseMove, QPointF(), middle, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move3);
        EXPECT_FALSE(defaults->boolForKey(QStringLiteral("KPDropZoneLeftEdge")));
        QApplication::sendEvent(view, &move2);
        zone->writeOutStateWhenQuiting();
        ASSERT_TRUE(defaults->synchronize());
    }
    openDefaults();
    auto zone = makeZone();
    EXPECT_TRUE(zone->leftEdge());
    EXPECT_EQ(zone->window()->geometry(), QRect(-98, 180, 100, 300));
}

TEST_F(DropZoneTest, AStoredHeightBelowTheScreenIsReplacedByTheCentredOne)
{
    defaults->setDouble(QStringLiteral("KPDropZoneY"), -5000);
    auto zone = makeZone();
    EXPECT_EQ(zone->window()->geometry(), QRect(1438, 300, 100, 300));
}

TEST_F(DropZoneTest, TheTargetUnderTheDragIsOutlinedInAColourThatStandsOutInLightAndDarkPalettes)
{
    auto zone = makeZone();
    KLDropZoneView *view = zone->view();
    std::unique_ptr<QMimeData> mime(filesMime(kThree));
    QDragEnterEvent enter(QPoint(60, 40), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &enter);
    ASSERT_TRUE(enter.isAccepted());

    auto closeTo = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 60;
    };
    // Pixels on the left side of an outline (inset 5 from the target, 3 wide).
    auto outlineHas = [&](const QImage &image, const QRect &target, const QColor &colour) {
        for (int y = target.top() + 20; y < target.bottom() - 20; ++y) {
            for (int x = target.left() + 4; x <= target.left() + 6; ++x) {
                if (closeTo(image.pixelColor(x, y), colour))
                    return true;
            }
        }
        return false;
    };
    QPalette light = view->palette();
    light.setColor(QPalette::Highlight, QColor(48, 140, 198));
    QPalette dark = view->palette();
    dark.setColor(QPalette::Highlight, QColor(20, 40, 90));
    for (const QPalette &palette : {light, dark}) {
        view->setPalette(palette);
        const QColor highlight = view->highlightColour();
        // Readable on the zone's dark fill.
        EXPECT_GE(highlight.lightness(), 140);
        EXPECT_NE(highlight, view->plainColour());
        const QImage image = view->grab().toImage();
        EXPECT_TRUE(outlineHas(image, view->tagRect(), highlight));
        EXPECT_FALSE(outlineHas(image, view->coolRect(), highlight));
    }
}

TEST(DraggedUriList, OnlyThisMachinesFileUrlsCountWhateverTheLineEnds)
{
    const QByteArray list = "# a comment\r\n"
                            "file:///home/u/a%20b.txt\r\n"
                            "\r\n"
                            "https://example.org/x.pdf\n"
                            "file://localhost/home/u/caf%C3%A9\n"
                            "file://otherhost/home/u/remote\n"
                            "file:///home/u/last";
    EXPECT_EQ(X11DragMonitor::filesFromUriList(list),
              (QStringList{QStringLiteral("/home/u/a b.txt"), QString::fromUtf8("/home/u/café"),
                           QStringLiteral("/home/u/last")}));
    EXPECT_TRUE(X11DragMonitor::filesFromUriList("").isEmpty());
    EXPECT_TRUE(X11DragMonitor::filesFromUriList("just some words\nand more").isEmpty());
    EXPECT_TRUE(X11DragMonitor::filesFromUriList(QByteArray("\0\0\0", 3)).isEmpty());
}
