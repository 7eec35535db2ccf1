#pragma once
// The main window's widgets: KLCustomWindow (the translucent band that fades in and out),
// KLRoundedRectView (a pane's coloured background) and KLSimpleToolTip (the one-line tip of
// the delete badge).
#include <QLabel>
#include <QPointer>
#include <QWidget>

class QPropertyAnimation;

class KLCustomWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kFadeMs = 400;
    // The palette of the controls on the dark panels (buttons, the menu bar, check boxes): light
    // text on dark grey, so that they match the panels instead of the desktop's light style.
    static QPalette panelPalette(const QPalette &base);

    explicit KLCustomWindow(QWidget *parent = nullptr);

    // Tray mode: a frameless tool window without taskbar entry that fades in and out; dock
    // mode: a normal window with title bar, close button and taskbar entry, on an opaque
    // background, shown and minimised without fading.
    void setTrayMode(bool tray);
    bool trayMode() const { return m_trayMode; }

    // orderFront / makeKeyAndOrderFront: fades in from 0 when it was not visible.
    void orderFront(bool makeKey);
    // orderOut: fades to transparent, then unmaps (an unmapped window cannot catch the clicks
    // meant for the windows beneath it, which a merely transparent one would on X11).
    void orderOut();
    // Gone at once, no fade (dock mode: minimised, the taskbar entry stays).
    void hideNow();
    bool isFullyTransparent() const { return !isVisible() || windowOpacity() <= 0.0; }
    // The colour behind the panes in dock mode.
    static QColor dockBackground() { return QColor(24, 26, 30); }

Q_SIGNALS:
    // The window manager's close: Kelso hides instead of closing.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void animateOpacity(double to);
    bool m_trayMode = true;
    bool m_iconSet = false;
    QPointer<QPropertyAnimation> m_animation;
};

class KLRoundedRectView : public QWidget
{
    Q_OBJECT
public:
    explicit KLRoundedRectView(QWidget *parent = nullptr, double radius = 13);
    void setBackgroundColour(const QColor &colour);
    QColor backgroundColour() const { return m_colour; }
    // The pane holding the keyboard focus gets a ring in the highlight colour.
    void setFocusMarked(bool marked);
    bool focusMarked() const { return m_focusMarked; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_colour{20, 26, 61, 179}; // device RGB 0.08, 0.1, 0.24 at alpha 0.7
    double m_radius;
    bool m_focusMarked = false;
};

class KLSimpleToolTip : public QLabel
{
    Q_OBJECT
public:
    KLSimpleToolTip();
    // Shows the text centred on `globalPos` (horizontally) just above it.
    void showText(const QString &text, const QPoint &globalPos);
    // Empty text hides the tip.
    void setToolTipText(const QString &text);
    QString toolTipText() const { return isVisible() ? text() : QString(); }
};
