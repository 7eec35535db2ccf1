#pragma once
// KLDropZoneController: the drop zone's window at the left or right edge of the desktop.
//
// The window is 100 x 300, almost wholly off screen: 2 points of it (20 while the preferences
// window is key) stay on the screen, the title strip of its view. While files are dragged
// anywhere on the desktop towards that edge it slides in, 98 points on screen, so they can be
// dropped on it (KLDropZoneView); it slides back when the pointer leaves or the drag ends.
// Which of the two it should be is KLDropZoneRule's to say, fed by the X11 drag monitor; on
// Wayland there is no global pointer to follow, and the zone only slides in when a drag
// reaches its strip.
//
// Geometry is computed by KLDropZoneGeometry in the upward y axis; this class converts to
// Qt's coordinates where it meets screens and windows. The window stays above the others, on
// every desktop, without a taskbar entry, and never takes the focus. Main thread only.
#include "dropzone/KLDropZoneGeometry.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QRectF>
#include <QStringList>
#include <functional>
#include <memory>

class Defaults;
class KLDropZoneRule;
class KLDropZoneView;
class QPropertyAnimation;
class QTimer;
class QWidget;
class X11DragMonitor;
struct KLServices;

class KLDropZoneController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kSlideMs = 180;

    struct Options {
        Defaults *defaults = nullptr; // none: Defaults::standard()
        // The tag editor (KLServices::openTagEditor); none: KLServices::defaults().
        const KLServices *services = nullptr;
        // A drop on the Cooler target: to the front of the Cooler, the main window forward.
        std::function<void(const QStringList &paths)> coolerDrop;
        // Before either target acts: end the main window's search, so that the panes show their
        // own lists again (where the dropped files now are).
        std::function<void()> clearSearch;
        // The screens in Qt's global coordinates, the main one first; none: the application's.
        std::function<QList<QRectF>()> screens;
        // Follow drags across the desktop (the X11 drag monitor) when the desktop allows it.
        bool followGlobalDrags = true;
        // Whether a compositor runs (slides animate); none: ask the desktop at each slide.
        std::function<bool()> compositorRunning;
    };

    explicit KLDropZoneController(Options options);
    ~KLDropZoneController() override;

    // Whether this desktop lets the zone follow drags anywhere (X11 with XInput 2.2 and
    // XFixes); on Wayland it only answers drags that reach it.
    bool followsGlobalDrags() const { return m_monitor != nullptr; }

    // Frames in the upward axis (see KLDropZoneGeometry) and in Qt's coordinates.
    QRectF offscreenFrame() const;
    QRectF onscreenFrame() const;
    QRect offscreenQtFrame() const;
    QRect onscreenQtFrame() const;
    double screenOverlap() const;
    double defaultDropZoneY() const;
    double dropZoneY() const { return m_dropZoneY; }
    void setDropZoneY(double y) { m_dropZoneY = y; }
    bool leftEdge() const;

    void slideOnscreen();
    // Never hides the window.
    void slideOffscreen();
    bool isOnScreen() const { return m_slidOnscreen; }
    // From a point in Qt's global coordinates to the zone's reference point.
    double distanceFromMouse(const QPoint &globalPos) const;

    // The strip shows 20 points (while the preferences window is key) or 2.
    void slideTitleBarOnscreen();
    void slideTitleBarOffscreen();
    // The preferences window became key (true) or stopped being key (false).
    void setShownForPreferences(bool shown) { shown ? slideTitleBarOnscreen() : slideTitleBarOffscreen(); }

    void writeOutStateWhenQuiting();
    void displayConfigurationDidChange();

    bool dragWasToDropZone() const { return m_dragWasToDropZone; }
    void setDragWasToDropZone(bool to) { m_dragWasToDropZone = to; }

    // What a drop on the view does: the tag editor, or the Cooler. The view calls it.
    void dropFiles(const QStringList &paths, bool onTagTarget);
    // The user drags the zone: the pointer at `globalPos` (Qt), pressed `pressOffset` below
    // and right of the window's top left corner.
    void dragZoneTo(const QPoint &globalPos, const QPoint &pressOffset);

    // Contents already on the drag selection do not count as a new drag (on deactivation).
    void forgetCurrentDrag();
    // The local files of the drag now on the desktop, as the drag monitor read them when it
    // began; empty where there is no monitor or its source did not say.
    QStringList filesOfCurrentDrag() const;
    KLDropZoneRule *rule() const { return m_rule.get(); }

    QWidget *window() const { return m_window; }
    KLDropZoneView *view() const { return m_view; }
    // Whether slides animate (with a compositor) or jump.
    bool animatesSlides() const;

private:
    QList<QRectF> qtScreens() const;
    double mainBottom() const;
    KLDropZoneGeometry::Layout layout() const;
    void moveWindow(const QRect &to, bool animate);
    // A slide runs towards `to` (any slide, for a null rectangle).
    bool slidingTo(const QRect &to) const;
    void settingChanged(const QString &key);
    void watchScreens();
    void startFollowingDrags();

    Options m_options;
    Defaults *m_defaults;
    QWidget *m_window = nullptr;
    KLDropZoneView *m_view = nullptr;
    QPointer<QPropertyAnimation> m_animation;
    QTimer *m_hideLater = nullptr;
    std::unique_ptr<X11DragMonitor> m_monitor;
    std::unique_ptr<KLDropZoneRule> m_rule;
    QPoint m_lastPointer;
    double m_dropZoneY = 0;
    bool m_slidOnscreen = false;
    bool m_dragWasToDropZone = false;
};
