// When the zone slides in and out: thresholds, the went-far flag, the three-distance history,
// the small active zone, the file count, and the release.
#include "dropzone/KLDropZoneRule.h"

#include <gtest/gtest.h>

namespace {

// The zone and the drag selection, as the rule sees them.
struct FakeDesktop {
    double distance = 1000;
    bool onScreen = false;
    quint64 changeCount = 0;
    std::optional<QStringList> files = QStringList{QStringLiteral("/home/u/a"), QStringLiteral("/home/u/b")};
    bool small = false;
    int shows = 0;
    int hides = 0;
    int laterMs = -1;

    KLDropZoneRule rule()
    {
        KLDropZoneRule::Hooks h;
        h.distanceFromMouse = [this] { return distance; };
        h.isOnScreen = [this] { return onScreen; };
        h.slideOnscreen = [this] {
            ++shows;
            onScreen = true;
        };
        h.slideOffscreen = [this] {
            ++hides;
            onScreen = false;
        };
        h.slideOffscreenLater = [this](int ms) { laterMs = ms; };
        h.changeCount = [this] { return changeCount; };
        h.draggedFiles = [this] { return files; };
        h.useSmallActiveZone = [this] { return small; };
        return KLDropZoneRule(std::move(h));
    }
};

void moveThrough(KLDropZoneRule &rule, FakeDesktop &desk, std::initializer_list<double> distances)
{
    for (double d : distances) {
        desk.distance = d;
        rule.leftMouseDragged();
    }
}

QStringList files(int n)
{
    QStringList paths;
    for (int i = 0; i < n; ++i)
        paths.append(QStringLiteral("/home/u/f%1").arg(i));
    return paths;
}

} // namespace

TEST(DropZoneRule, MovementWithoutANewDragIsIgnored)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    moveThrough(rule, desk, {900, 600, 400, 200, 100});
    EXPECT_EQ(desk.shows, 0);
    EXPECT_EQ(desk.hides, 0);
    EXPECT_FALSE(rule.dragHappening());
}

TEST(DropZoneRule, ADragThatWentFarAndComesBackShowsTheZone)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    // 900: beyond 550, hidden. 500, 450: nearer than three events ago is not known yet (the
    // history starts far away), so they count as approaching.
    moveThrough(rule, desk, {900});
    EXPECT_TRUE(rule.dragHappening());
    EXPECT_TRUE(rule.wentFar());
    EXPECT_EQ(desk.hides, 1);
    moveThrough(rule, desk, {500});
    EXPECT_EQ(desk.shows, 1);
    EXPECT_TRUE(desk.onScreen);
}

TEST(DropZoneRule, ADragStartingNearTheZoneShowsNothingUntilThePointerOnceWentBeyond250)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {240, 230, 220, 200, 180, 160});
    EXPECT_EQ(desk.shows, 0);
    EXPECT_FALSE(rule.wentFar());
    // 251 is far (not beyond 550): it hides, since d3 was 200 and the pointer moved away.
    moveThrough(rule, desk, {251});
    EXPECT_TRUE(rule.wentFar());
    EXPECT_EQ(desk.shows, 0);
    // Coming back: 245 and 240 are farther than three events ago (180, then 160); 170 is no
    // farther than 251.
    moveThrough(rule, desk, {245, 240, 170});
    EXPECT_EQ(desk.shows, 1);
}

TEST(DropZoneRule, ThePointerMustBeNoFartherThanThreeEventsAgo)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {600, 300, 290, 280});
    ASSERT_EQ(desk.shows, 3);
    desk.onScreen = false;
    const int hidesBefore = desk.hides;
    // d3 is 300 now: 301 is farther, so hidden; 300 is not.
    moveThrough(rule, desk, {301});
    EXPECT_EQ(desk.hides, hidesBefore + 1);
    EXPECT_EQ(rule.history()[0], 301);
    EXPECT_EQ(rule.history()[1], 280);
    EXPECT_EQ(rule.history()[2], 290);
    moveThrough(rule, desk, {290});
    EXPECT_EQ(desk.shows, 4);
}

TEST(DropZoneRule, AShownZoneStaysWithin150PointsWithoutLookingAtTheFiles)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {700, 400});
    ASSERT_TRUE(desk.onScreen);
    const int shows = desk.shows;
    const int hides = desk.hides;
    // Moving away inside 150 points keeps it (no show, no hide), and 149.9 is pushed.
    desk.files = QStringList();
    moveThrough(rule, desk, {100, 140, 149.9});
    EXPECT_EQ(desk.shows, shows);
    EXPECT_EQ(desk.hides, hides);
    EXPECT_EQ(rule.history()[0], 149.9);
    // 150 itself is outside the keep-shown radius: moving away there hides.
    moveThrough(rule, desk, {150});
    EXPECT_EQ(desk.hides, hides + 1);
}

TEST(DropZoneRule, Beyond550PointsTheZoneHides)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {700, 400});
    ASSERT_TRUE(desk.onScreen);
    moveThrough(rule, desk, {550});
    // 550 is not beyond: it goes through the approach test (and is farther than d3? no: d3 is
    // far away still), so it stays shown.
    EXPECT_TRUE(desk.onScreen);
    moveThrough(rule, desk, {550.5});
    EXPECT_FALSE(desk.onScreen);
}

TEST(DropZoneRule, TheSmallActiveZoneScalesTheFarAndHideDistancesButNotTheKeepShownRadius)
{
    FakeDesktop desk;
    desk.small = true;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    // 37.5 is not far; 37.6 is.
    moveThrough(rule, desk, {37.5});
    EXPECT_FALSE(rule.wentFar());
    moveThrough(rule, desk, {37.6});
    EXPECT_TRUE(rule.wentFar());
    EXPECT_TRUE(desk.onScreen);
    // Beyond 82.5 hides; at 82.5 it may show again (coming back from 100 three events ago).
    moveThrough(rule, desk, {82.6});
    EXPECT_FALSE(desk.onScreen);
    moveThrough(rule, desk, {100, 90});
    EXPECT_FALSE(desk.onScreen);
    moveThrough(rule, desk, {82.5});
    EXPECT_TRUE(desk.onScreen);
    // The 150-point keep-shown radius is not scaled: moving away to 80, farther than three
    // events ago (40), keeps the zone (a radius of 22.5 would hide it).
    moveThrough(rule, desk, {50, 40, 30});
    const int hides = desk.hides;
    moveThrough(rule, desk, {80});
    EXPECT_EQ(desk.hides, hides);
    EXPECT_TRUE(desk.onScreen);
}

TEST(DropZoneRule, OneToNineteenFilesShowTheZoneNoneOrTwentyDoNot)
{
    for (int n : {0, 1, 19, 20, 500}) {
        FakeDesktop desk;
        desk.files = files(n);
        KLDropZoneRule rule = desk.rule();
        desk.changeCount = 1;
        moveThrough(rule, desk, {700, 400});
        EXPECT_EQ(desk.onScreen, n >= 1 && n <= 19) << n << " files";
    }
}

TEST(DropZoneRule, ASourceThatHasNotAnsweredYetNeitherShowsNorHidesUntilItDoes)
{
    FakeDesktop desk;
    desk.files.reset();
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {700});
    const int hides = desk.hides;
    moveThrough(rule, desk, {400, 390});
    EXPECT_EQ(desk.shows, 0);
    EXPECT_EQ(desk.hides, hides);
    desk.files = files(2);
    moveThrough(rule, desk, {380});
    EXPECT_EQ(desk.shows, 1);
}

TEST(DropZoneRule, TheReleaseHidesHalfASecondLaterAndEndsTheDrag)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {700, 400});
    rule.leftMouseUp();
    EXPECT_EQ(desk.laterMs, 500);
    EXPECT_FALSE(rule.dragHappening());
    EXPECT_FALSE(rule.wentFar());
    // The same selection after the release is no new drag: movement is ignored again.
    const int shows = desk.shows;
    moveThrough(rule, desk, {700, 400});
    EXPECT_EQ(desk.shows, shows);
    // A release with no drag on plans nothing.
    desk.laterMs = -1;
    rule.leftMouseUp();
    EXPECT_EQ(desk.laterMs, -1);
}

TEST(DropZoneRule, TheWentFarFlagIsClearedByTheReleaseSoTheNextDragStartsAfresh)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 1;
    moveThrough(rule, desk, {700});
    rule.leftMouseUp();
    desk.changeCount = 2;
    desk.onScreen = false;
    moveThrough(rule, desk, {200, 190, 180});
    EXPECT_EQ(desk.shows, 0);
}

TEST(DropZoneRule, ContentsAlreadyOnTheSelectionAtDeactivationAreNoNewDrag)
{
    FakeDesktop desk;
    KLDropZoneRule rule = desk.rule();
    desk.changeCount = 7;
    rule.forgetCurrentDrag();
    moveThrough(rule, desk, {700, 400});
    EXPECT_EQ(desk.shows, 0);
    EXPECT_FALSE(rule.dragHappening());
    desk.changeCount = 8;
    moveThrough(rule, desk, {700, 400});
    EXPECT_EQ(desk.shows, 1);
}
