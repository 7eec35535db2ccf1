#pragma once
// When the drop zone slides in and out while something is dragged anywhere on the desktop.
//
// Fed with the global pointer's left-button drags and releases. A drag counts only once the
// drag selection changed owner (a new drag began somewhere) since the last look; from then
// until the button is released:
// - farther than 550 points from the zone (scaled by 0.15 for the small active zone): hide;
// - within 150 points (never scaled) of a zone already shown: stay;
// - else show the zone only when the pointer once went farther than 250 points during this
//   press and is no farther now than three events ago (it comes towards the zone), and only
//   for a drag of 1 to 19 files; otherwise hide.
// The release hides the zone half a second later.
//
// The zone and the drag selection are reached through Hooks, so that the rule runs the same
// against the real window and against a test's fakes. Main thread only.
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

class KLDropZoneRule
{
public:
    static constexpr double kFarDistance = 250;
    static constexpr double kHideDistance = 550;
    static constexpr double kKeepShownDistance = 150;
    static constexpr double kSmallZoneScale = 0.15;
    static constexpr int kMaxFiles = 19;
    static constexpr int kHideAfterReleaseMs = 500;
    static constexpr double kFarAway = 200000000;

    struct Hooks {
        std::function<double()> distanceFromMouse;
        std::function<bool()> isOnScreen;
        std::function<void()> slideOnscreen;
        std::function<void()> slideOffscreen;
        // slideOffscreen after a delay; a later call replaces an earlier one that has not run.
        std::function<void(int ms)> slideOffscreenLater;
        // The drag selection's change count: it changes with each new drag.
        std::function<quint64()> changeCount;
        // The dragged files, or none while the drag's source has not answered yet.
        std::function<std::optional<QStringList>()> draggedFiles;
        std::function<bool()> useSmallActiveZone;
    };

    explicit KLDropZoneRule(Hooks hooks);

    // handleGlobalEvent: the left button went up / moved while held, anywhere on the desktop.
    void leftMouseUp();
    void leftMouseDragged();
    void showDropZoneIfFilesInPasteBoard();
    void hideDropZone();
    // Contents already on the drag selection do not count as a new drag (on deactivation).
    void forgetCurrentDrag();

    bool dragHappening() const { return m_dragHappening; }
    bool wentFar() const { return m_wentFar; }
    // d1 (newest), d2, d3 (oldest).
    const std::array<double, 3> &history() const { return m_history; }

private:
    void push(double d);
    Hooks m_hooks;
    bool m_dragHappening = false;
    quint64 m_changeCount = 0;
    bool m_wentFar = false;
    std::array<double, 3> m_history{kFarAway, kFarAway, kFarAway};
};
