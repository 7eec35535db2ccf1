// Where the drop zone sits: the worked examples of a 1440 x 900 screen, the y clamps, two
// screens side by side, and the conversion between Qt's axis and the upward one.
#include "dropzone/KLDropZoneGeometry.h"

#include <gtest/gtest.h>

using namespace KLDropZoneGeometry;

namespace {

Layout oneScreen(bool left = false, double overlap = 2)
{
    Layout l;
    l.screens = {QRectF(0, 0, 1440, 900)};
    l.leftEdge = left;
    l.overlap = overlap;
    return l;
}

} // namespace

TEST(DropZoneGeometry, OneScreenAtTheRightEdgeHidesAllButTwoPointsAndShowsNinetyEight)
{
    const Layout l = oneScreen();
    const double y = defaultDropZoneY(l);
    EXPECT_EQ(y, 300);
    EXPECT_EQ(offscreenFrame(l, y), QRectF(1438, 300, 100, 300));
    EXPECT_EQ(onscreenFrame(l, y), QRectF(1342, 300, 100, 300));
}

TEST(DropZoneGeometry, LeftEdgeMirrorsTheFrames)
{
    const Layout l = oneScreen(true);
    EXPECT_EQ(offscreenFrame(l, 300).x(), -98);
    EXPECT_EQ(onscreenFrame(l, 300).x(), -2);
}

TEST(DropZoneGeometry, TheWiderOverlapShowsTwentyPointsHiddenButTheSameShownFrame)
{
    const Layout right = oneScreen(false, 20);
    EXPECT_EQ(offscreenFrame(right, 300).x(), 1420);
    EXPECT_EQ(onscreenFrame(right, 300).x(), 1342);
    const Layout left = oneScreen(true, 20);
    EXPECT_EQ(offscreenFrame(left, 300).x(), -80);
    EXPECT_EQ(onscreenFrame(left, 300).x(), -2);
}

TEST(DropZoneGeometry, AZoneWhollyBelowTheScreenIsCentredAndOneBarelyAboveItsBottomIsRaisedToTenPoints)
{
    const Layout l = oneScreen();
    // Wholly below: the top (y + 300) under the screen's bottom edge.
    EXPECT_EQ(offscreenFrame(l, -301).y(), 300);
    // Exactly at the bottom edge counts as touching, not below: raised to reach 10 points up.
    EXPECT_EQ(offscreenFrame(l, -300).y(), -290);
    EXPECT_EQ(offscreenFrame(l, -295).y(), -290);
    // Ten points above the bottom already: kept.
    EXPECT_EQ(offscreenFrame(l, -290).y(), -290);
    EXPECT_EQ(offscreenFrame(l, -200).y(), -200);
}

TEST(DropZoneGeometry, AZoneDraggedAboveTheTopKeepsTenPointsOnTheScreen)
{
    const Layout l = oneScreen();
    EXPECT_EQ(offscreenFrame(l, 890).y(), 890);
    EXPECT_EQ(offscreenFrame(l, 895).y(), 890);
    EXPECT_EQ(offscreenFrame(l, 5000).y(), 890);
}

TEST(DropZoneGeometry, TheShownZoneIsClampedToTheScreensHeightOnePointBeyondEachEdge)
{
    const Layout l = oneScreen();
    // Below the bottom edge: one point under it.
    EXPECT_EQ(onscreenFrame(l, -100).y(), -1);
    EXPECT_EQ(onscreenFrame(l, 0).y(), 0);
    // Above the top: its top one point over the screen's.
    EXPECT_EQ(onscreenFrame(l, 700).y(), 601);
    EXPECT_EQ(onscreenFrame(l, 600).y(), 600);
    EXPECT_EQ(onscreenFrame(l, 601).y(), 601);
}

TEST(DropZoneGeometry, FramesAreTruncatedToWholePoints)
{
    const Layout l = oneScreen();
    EXPECT_EQ(offscreenFrame(l, 300.9).y(), 300);
    Layout odd = oneScreen();
    odd.screens = {QRectF(0.5, 0, 1439.7, 901)};
    EXPECT_EQ(offscreenFrame(odd, defaultDropZoneY(odd)), QRectF(1438, 300, 100, 300));
}

TEST(DropZoneGeometry, TwoScreensSideBySideUseTheOuterEdges)
{
    Layout l;
    // The main screen on the right, a smaller one to its left and lower down.
    l.screens = {QRectF(0, 0, 1440, 900), QRectF(-1280, -200, 1280, 1024)};
    l.leftEdge = false;
    EXPECT_EQ(edgeScreen(l), QRectF(0, 0, 1440, 900));
    EXPECT_EQ(offscreenFrame(l, defaultDropZoneY(l)).x(), 1438);
    l.leftEdge = true;
    EXPECT_EQ(edgeScreen(l), QRectF(-1280, -200, 1280, 1024));
    // Centred on the left screen: (1024 - 300) / 2 - 200.
    EXPECT_EQ(defaultDropZoneY(l), 162);
    const QRectF hidden = offscreenFrame(l, defaultDropZoneY(l));
    EXPECT_EQ(hidden, QRectF(-1378, 162, 100, 300));
    EXPECT_EQ(onscreenFrame(l, defaultDropZoneY(l)).x(), -1282);
    // The y clamps follow the edge screen, not the main one.
    EXPECT_EQ(offscreenFrame(l, -495).y(), -490);
    EXPECT_EQ(offscreenFrame(l, -600).y(), 162); // wholly below the left screen
    EXPECT_EQ(onscreenFrame(l, -490).y(), -201);
}

TEST(DropZoneGeometry, ScreensOfEqualOriginLetTheFirstWinAndNoScreenGivesAZeroFrame)
{
    Layout l;
    l.screens = {QRectF(0, 0, 800, 600), QRectF(0, 600, 1024, 768)};
    EXPECT_EQ(edgeScreen(l), QRectF(0, 0, 800, 600));
    l.leftEdge = true;
    EXPECT_EQ(edgeScreen(l), QRectF(0, 0, 800, 600));
    Layout none;
    EXPECT_EQ(edgeScreen(none), QRectF());
    EXPECT_EQ(offscreenFrame(none, defaultDropZoneY(none)), QRectF(-2, -150, 100, 300));
}

TEST(DropZoneGeometry, QtsDownwardAxisConvertsAtTheMainScreensBottom)
{
    // Qt: the main screen's top at 0; a zone 300 high with its top at 100.
    EXPECT_EQ(fromQt(QRectF(1438, 100, 100, 300), 900), QRectF(1438, 500, 100, 300));
    EXPECT_EQ(toQt(QRectF(1438, 500, 100, 300), 900), QRectF(1438, 100, 100, 300));
    EXPECT_EQ(pointFromQt(QPointF(10, 0), 900), QPointF(10, 900));
    // A second screen above the main one in Qt (negative y) is above it in the upward axis.
    const QList<QRectF> up = screensFromQt({QRectF(0, 0, 1440, 900), QRectF(0, -1080, 1920, 1080)});
    ASSERT_EQ(up.size(), 2);
    EXPECT_EQ(up[0], QRectF(0, 0, 1440, 900));
    EXPECT_EQ(up[1], QRectF(0, 900, 1920, 1080));
}

TEST(DropZoneGeometry, DistanceIsMeasuredToTheHiddenFramesInnerEdgeAtHalfHeight)
{
    const QRectF hidden(1438, 300, 100, 300);
    EXPECT_DOUBLE_EQ(distanceFrom(QPointF(1438, 450), hidden), 0);
    EXPECT_DOUBLE_EQ(distanceFrom(QPointF(1138, 450), hidden), 300);
    EXPECT_DOUBLE_EQ(distanceFrom(QPointF(1438 - 300, 450 + 400), hidden), 500);
}
