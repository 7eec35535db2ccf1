#include "browser/KLCustomWindow.h"

#include "browser/KLImageBrowserViewAccessible.h"
#include "browser/KLPreviewPanel.h"
#include "browser/KLSvgIcon.h"
#include "platform/Defaults.h"
#include "util/KLProcessFlags.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPalette>
#include <QPropertyAnimation>
#include <QScreen>
#include <QTimer>
#include <algorithm>

KLCustomWindow::KLCustomWindow(QWidget *parent) : QWidget(parent)
{
    // Before anything asks for this window's accessible interface (which is kept once made).
    KLImageBrowserAccessibility::installAccessibleFactory();
    setWindowTitle(QStringLiteral("Kelso"));
    setObjectName(QStringLiteral("KLMainWindow"));
    setPalette(panelPalette(palette()));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint);
}

QPalette KLCustomWindow::panelPalette(const QPalette &base)
{
    QPalette pal = base;
    const QColor text(235, 235, 235);
    const QColor disabledText(130, 130, 130);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Window, QColor(45, 45, 48));
        pal.setColor(group, QPalette::WindowText, text);
        pal.setColor(group, QPalette::Button, QColor(70, 70, 74));
        pal.setColor(group, QPalette::ButtonText, text);
        pal.setColor(group, QPalette::Base, QColor(30, 30, 32));
        pal.setColor(group, QPalette::AlternateBase, QColor(40, 40, 43));
        pal.setColor(group, QPalette::Text, text);
        pal.setColor(group, QPalette::BrightText, Qt::white);
        pal.setColor(group, QPalette::Light, QColor(100, 100, 105));
        pal.setColor(group, QPalette::Midlight, QColor(85, 85, 90));
        pal.setColor(group, QPalette::Mid, QColor(55, 55, 58));
        pal.setColor(group, QPalette::Dark, QColor(25, 25, 27));
        pal.setColor(group, QPalette::Shadow, Qt::black);
        pal.setColor(group, QPalette::Highlight, QColor(40, 110, 220));
        pal.setColor(group, QPalette::HighlightedText, Qt::white);
        pal.setColor(group, QPalette::PlaceholderText, disabledText);
    }
    pal.setColor(QPalette::Disabled, QPalette::Window, QColor(45, 45, 48));
    pal.setColor(QPalette::Disabled, QPalette::Button, QColor(55, 55, 58));
    pal.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    pal.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    return pal;
}

void KLCustomWindow::setTrayMode(bool tray)
{
    const bool decorated = !(windowFlags() & Qt::FramelessWindowHint);
    if (tray == m_trayMode && decorated == !tray)
        return;
    m_trayMode = tray;
    const bool wasVisible = isVisible();
    // Dock mode is an ordinary application window: the window manager's title bar and close
    // button, a taskbar entry, Alt+Tab.
    setWindowFlags(tray ? (Qt::Tool | Qt::FramelessWindowHint) : Qt::Window);
    if (!tray) {
        if (m_animation)
            m_animation->stop();
        setWindowOpacity(1.0);
    }
    if (wasVisible)
        show();
}

void KLCustomWindow::paintEvent(QPaintEvent *event)
{
    if (m_trayMode)
        return QWidget::paintEvent(event);
    // A decorated window is not a translucent band: the space around the panes is opaque.
    QPainter p(this);
    p.fillRect(rect(), dockBackground());
}

void KLCustomWindow::animateOpacity(double to)
{
    if (m_animation)
        m_animation->stop();
    if (!m_trayMode || !Defaults::standard().boolForKey(QStringLiteral("KLFadeIn"))) {
        setWindowOpacity(to);
        if (to <= 0.0)
            hide();
        return;
    }
    auto *animation = new QPropertyAnimation(this, "windowOpacity", this);
    animation->setDuration(kFadeMs);
    animation->setStartValue(windowOpacity());
    animation->setEndValue(to);
    if (to <= 0.0)
        connect(animation, &QPropertyAnimation::finished, this, [this] {
            if (windowOpacity() <= 0.0)
                hide();
        });
    m_animation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void KLCustomWindow::orderFront(bool makeKey)
{
    if (!m_iconSet) {
        // Drawn just after the first showing: the window need not wait for its icon.
        m_iconSet = true;
        QTimer::singleShot(0, this,
                           [this] { setWindowIcon(KLSvgIcon::fromFile(QStringLiteral(":/icons/kelso.svg"))); });
    }
    if (!isVisible() || windowOpacity() <= 0.0)
        setWindowOpacity(0.0);
    setMouseTracking(true);
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    if (makeKey)
        activateWindow();
    animateOpacity(1.0);
}

void KLCustomWindow::orderOut()
{
    KLPreviewPanel::shared().close();
    setMouseTracking(false);
    if (!isVisible())
        return;
    animateOpacity(0.0);
}

void KLCustomWindow::hideNow()
{
    if (m_animation)
        m_animation->stop();
    KLPreviewPanel::shared().close();
    if (!m_trayMode) {
        if (isVisible())
            showMinimized();
        return;
    }
    setWindowOpacity(0.0);
    hide();
}

void KLCustomWindow::closeEvent(QCloseEvent *event)
{
    // Quitting closes every window first, and a refused close would cancel the quit.
    if (KLProcessFlags::isShuttingDown()) {
        event->accept();
        return;
    }
    event->ignore();
    Q_EMIT closeRequested();
}

KLRoundedRectView::KLRoundedRectView(QWidget *parent, double radius) : QWidget(parent), m_radius(radius)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void KLRoundedRectView::setBackgroundColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void KLRoundedRectView::setFocusMarked(bool marked)
{
    if (marked == m_focusMarked)
        return;
    m_focusMarked = marked;
    update();
}

void KLRoundedRectView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(m_colour);
    p.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
    if (m_focusMarked) {
        QColor ring = palette().color(QPalette::Active, QPalette::Highlight);
        ring.setAlpha(230);
        p.setPen(QPen(ring, 2.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), m_radius - 1, m_radius - 1);
    }
}

KLSimpleToolTip::KLSimpleToolTip() : QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("KLSimpleToolTip"));
    setAlignment(Qt::AlignCenter);
    QFont f = font();
    f.setPointSizeF(11);
    setFont(f);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(25, 25, 25));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setFixedHeight(20);
}

void KLSimpleToolTip::showText(const QString &text, const QPoint &globalPos)
{
    if (text.isEmpty()) {
        setToolTipText({});
        return;
    }
    setText(text);
    const int w = std::min(400, fontMetrics().horizontalAdvance(text) + 24);
    setFixedWidth(w);
    QPoint at(globalPos.x() - w / 2, globalPos.y() - height() - 14);
    // Kept on the screen, as a tip cut by the screen edge cannot be read.
    if (QScreen *screen = QGuiApplication::screenAt(globalPos)) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - w)));
        at.setY(std::max(at.y(), area.top()));
    }
    move(at);
    show();
    raise();
}

void KLSimpleToolTip::setToolTipText(const QString &text)
{
    if (text.isEmpty()) {
        setText({});
        hide();
        return;
    }
    setText(text);
}
