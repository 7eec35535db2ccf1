#include "dropzone/KLDropZoneController.h"

#include "browser/KLServices.h"
#include "dropzone/KLDropZoneRule.h"
#include "dropzone/KLDropZoneView.h"
#include "platform/Defaults.h"
#include "platform/x11/X11Compositor.h"
#include "platform/x11/X11DragMonitor.h"
#include "util/Localized.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

Q_LOGGING_CATEGORY(lcDropZone, "kelso.dropzone", QtWarningMsg)

namespace {
const QString kShowKey = QStringLiteral("KPShowDropZone2");
const QString kLeftEdgeKey = QStringLiteral("KPDropZoneLeftEdge");
const QString kOverlapKey = QStringLiteral("KPDropZoneOverlapWithScreen");
const QString kYKey = QStringLiteral("KPDropZoneY");
const QString kSmallZoneKey = QStringLiteral("KPUseSmallDropZoneActiveZone");
} // namespace

KLDropZoneController::KLDropZoneController(Options options)
    : m_options(std::move(options)), m_defaults(m_options.defaults ? m_options.defaults : &Defaults::standard())
{
    m_dropZoneY = m_defaults->contains(kYKey) ? m_defaults->doubleForKey(kYKey) : defaultDropZoneY();

    // A borderless tool window that stays above the others and never takes the focus (a
    // slide must not pull the keyboard from the program the user drags out of). On X11 it
    // bypasses the window manager: managers keep windows from lying mostly off screen, which
    // is where this one lives, and an unmanaged window is on every desktop and in no taskbar.
    // It is raised at each slide, so that it comes in above the window the user drags over.
    m_window = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                        Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint |
                                        Qt::X11BypassWindowManagerHint);
    m_window->setObjectName(QStringLiteral("dropZoneWindow"));
    m_window->setWindowTitle(KLLocalized(QStringLiteral("KLDropZoneWindowTitle")));
    m_window->setAccessibleName(KLLocalized(QStringLiteral("KLDropZoneWindowTitle")));
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    m_window->setAttribute(Qt::WA_TranslucentBackground);
    m_window->setFocusPolicy(Qt::NoFocus);
    m_window->setFixedSize(int(KLDropZoneGeometry::kWidth), int(KLDropZoneGeometry::kHeight));
    auto *box = new QVBoxLayout(m_window);
    box->setContentsMargins(0, 0, 0, 0);
    m_view = new KLDropZoneView(this, m_window);
    box->addWidget(m_view);
    m_window->setGeometry(offscreenQtFrame());

    m_hideLater = new QTimer(this);
    m_hideLater->setSingleShot(true);
    connect(m_hideLater, &QTimer::timeout, this, &KLDropZoneController::slideOffscreen);

    if (m_defaults->boolForKey(kShowKey))
        m_window->show();
    connect(m_defaults, &Defaults::changed, this, &KLDropZoneController::settingChanged);
    watchScreens();
    if (m_options.followGlobalDrags)
        startFollowingDrags();
}

KLDropZoneController::~KLDropZoneController()
{
    if (m_animation)
        m_animation->stop();
    delete m_window;
}

void KLDropZoneController::startFollowingDrags()
{
    m_monitor = X11DragMonitor::create(this);
    if (!m_monitor) {
        qCInfo(lcDropZone, "no global pointer here: the drop zone slides in only when a drag reaches its edge");
        return;
    }
    KLDropZoneRule::Hooks hooks;
    hooks.distanceFromMouse = [this] { return distanceFromMouse(m_lastPointer); };
    hooks.isOnScreen = [this] { return isOnScreen(); };
    hooks.slideOnscreen = [this] { slideOnscreen(); };
    hooks.slideOffscreen = [this] { slideOffscreen(); };
    hooks.slideOffscreenLater = [this](int ms) { m_hideLater->start(ms); };
    hooks.changeCount = [this] { return m_monitor->changeCount(); };
    hooks.draggedFiles = [this] { return m_monitor->draggedFiles(); };
    hooks.useSmallActiveZone = [this] { return m_defaults->boolForKey(kSmallZoneKey); };
    m_rule = std::make_unique<KLDropZoneRule>(std::move(hooks));
    connect(m_monitor.get(), &X11DragMonitor::leftMouseDragged, this, [this](const QPoint &pos) {
        m_lastPointer = pos;
        m_rule->leftMouseDragged();
    });
    // Each drag is asked afresh whether it ended on the zone.
    connect(m_monitor.get(), &X11DragMonitor::dragStarted, this, [this] { m_dragWasToDropZone = false; });
    connect(m_monitor.get(), &X11DragMonitor::leftMouseUp, this, [this] { m_rule->leftMouseUp(); });
}

void KLDropZoneController::forgetCurrentDrag()
{
    if (m_rule)
        m_rule->forgetCurrentDrag();
}

QStringList KLDropZoneController::filesOfCurrentDrag() const
{
    return m_monitor ? m_monitor->draggedFiles().value_or(QStringList()) : QStringList();
}

// ---- geometry -------------------------------------------------------------------------------

QList<QRectF> KLDropZoneController::qtScreens() const
{
    if (m_options.screens)
        return m_options.screens();
    QList<QRectF> frames;
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (primary)
        frames.append(primary->geometry());
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (screen != primary)
            frames.append(screen->geometry());
    }
    return frames;
}

double KLDropZoneController::mainBottom() const
{
    const QList<QRectF> screens = qtScreens();
    return screens.isEmpty() ? 0.0 : screens.first().y() + screens.first().height();
}

KLDropZoneGeometry::Layout KLDropZoneController::layout() const
{
    KLDropZoneGeometry::Layout l;
    l.screens = KLDropZoneGeometry::screensFromQt(qtScreens());
    l.leftEdge = leftEdge();
    l.overlap = screenOverlap();
    return l;
}

bool KLDropZoneController::leftEdge() const
{
    return m_defaults->boolForKey(kLeftEdgeKey);
}

double KLDropZoneController::screenOverlap() const
{
    return m_defaults->boolForKey(kOverlapKey) ? 20 : 2;
}

double KLDropZoneController::defaultDropZoneY() const
{
    return KLDropZoneGeometry::defaultDropZoneY(layout());
}

QRectF KLDropZoneController::offscreenFrame() const
{
    return KLDropZoneGeometry::offscreenFrame(layout(), m_dropZoneY);
}

QRectF KLDropZoneController::onscreenFrame() const
{
    return KLDropZoneGeometry::onscreenFrame(layout(), m_dropZoneY);
}

QRect KLDropZoneController::offscreenQtFrame() const
{
    return KLDropZoneGeometry::toQt(offscreenFrame(), mainBottom()).toRect();
}

QRect KLDropZoneController::onscreenQtFrame() const
{
    return KLDropZoneGeometry::toQt(onscreenFrame(), mainBottom()).toRect();
}

double KLDropZoneController::distanceFromMouse(const QPoint &globalPos) const
{
    const double bottom = mainBottom();
    return KLDropZoneGeometry::distanceFrom(KLDropZoneGeometry::pointFromQt(globalPos, bottom), offscreenFrame());
}

// ---- sliding --------------------------------------------------------------------------------

bool KLDropZoneController::animatesSlides() const
{
    return m_options.compositorRunning ? m_options.compositorRunning() : X11Compositor::running();
}

void KLDropZoneController::moveWindow(const QRect &to, bool animate)
{
    // A stopped animation deletes itself.
    if (m_animation)
        m_animation->stop();
    if (!animate || !m_window->isVisible()) {
        m_window->setGeometry(to);
        return;
    }
    // Without a compositor every step would repaint what the window uncovers: jump instead.
    m_animation = new QPropertyAnimation(m_window, "pos", this);
    m_animation->setDuration(kSlideMs);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    m_animation->setEndValue(to.topLeft());
    m_animation->start(QAbstractAnimation::DeleteWhenStopped);
}

bool KLDropZoneController::slidingTo(const QRect &to) const
{
    if (!m_animation || m_animation->state() != QAbstractAnimation::Running)
        return false;
    return to.isNull() || m_animation->endValue().toPoint() == to.topLeft();
}

void KLDropZoneController::slideOnscreen()
{
    m_hideLater->stop();
    const bool was = m_slidOnscreen;
    m_slidOnscreen = true;
    if (m_defaults->boolForKey(kShowKey)) {
        m_window->show();
        m_window->raise();
    }
    const QRect to = onscreenQtFrame();
    const bool arriving = slidingTo(to);
    if (m_window->geometry() == to || arriving)
        return;
    if (!was)
        qCInfo(lcDropZone, "slides in");
    moveWindow(to, animatesSlides());
    m_view->update();
}

void KLDropZoneController::slideOffscreen()
{
    const bool was = m_slidOnscreen;
    m_slidOnscreen = false;
    const QRect to = offscreenQtFrame();
    if ((m_window->geometry() == to && !slidingTo({})) || slidingTo(to))
        return;
    if (was)
        qCInfo(lcDropZone, "slides out");
    moveWindow(to, animatesSlides());
    m_view->update();
}

void KLDropZoneController::slideTitleBarOnscreen()
{
    m_defaults->setBool(kOverlapKey, true);
}

void KLDropZoneController::slideTitleBarOffscreen()
{
    m_defaults->setBool(kOverlapKey, false);
}

void KLDropZoneController::writeOutStateWhenQuiting()
{
    m_defaults->setDouble(kYKey, m_dropZoneY);
}

void KLDropZoneController::displayConfigurationDidChange()
{
    m_slidOnscreen = false;
    moveWindow(offscreenQtFrame(), false);
}

void KLDropZoneController::settingChanged(const QString &key)
{
    if (key == kShowKey) {
        m_window->setVisible(m_defaults->boolForKey(kShowKey));
    } else if (key == kLeftEdgeKey) {
        m_view->update();
        m_slidOnscreen = false;
        moveWindow(offscreenQtFrame(), false);
    } else if (key == kOverlapKey) {
        slideOffscreen();
    }
}

void KLDropZoneController::watchScreens()
{
    auto watch = [this](QScreen *screen) {
        connect(screen, &QScreen::geometryChanged, this, &KLDropZoneController::displayConfigurationDidChange);
    };
    for (QScreen *screen : QGuiApplication::screens())
        watch(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen *screen) {
        watch(screen);
        displayConfigurationDidChange();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &KLDropZoneController::displayConfigurationDidChange);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this,
            &KLDropZoneController::displayConfigurationDidChange);
}

// ---- what the view asks ---------------------------------------------------------------------

void KLDropZoneController::dropFiles(const QStringList &paths, bool onTagTarget)
{
    qCInfo(lcDropZone, "%lld files dropped on the %s target: %s", qint64(paths.size()), onTagTarget ? "tag" : "Cooler",
           qUtf8Printable(paths.join(QLatin1String(", "))));
    if (m_options.clearSearch)
        m_options.clearSearch();
    if (onTagTarget) {
        (m_options.services ? *m_options.services : KLServices::defaults()).openTagEditor(paths);
    } else if (m_options.coolerDrop) {
        m_options.coolerDrop(paths);
    }
}

void KLDropZoneController::dragZoneTo(const QPoint &globalPos, const QPoint &pressOffset)
{
    const double bottom = mainBottom();
    // The window's new top in Qt's axis; its bottom in the upward one.
    const QRectF moved(globalPos.x() - pressOffset.x(), globalPos.y() - pressOffset.y(), KLDropZoneGeometry::kWidth,
                       KLDropZoneGeometry::kHeight);
    setDropZoneY(KLDropZoneGeometry::fromQt(moved, bottom).y());
    // The zone goes to the side the pointer is nearer to; the right on a tie.
    KLDropZoneGeometry::Layout l = layout();
    l.leftEdge = true;
    const QRectF leftmost = KLDropZoneGeometry::edgeScreen(l);
    l.leftEdge = false;
    const QRectF rightmost = KLDropZoneGeometry::edgeScreen(l);
    const double toLeft = globalPos.x() - leftmost.x();
    const double toRight = rightmost.x() + rightmost.width() - globalPos.x();
    const bool left = toRight > toLeft;
    if (left != leftEdge())
        m_defaults->setBool(kLeftEdgeKey, left); // its observer moves the window
    m_slidOnscreen = false;
    moveWindow(offscreenQtFrame(), false);
}
