#include "tags/editor/XPHoverButton.h"

#include <QEnterEvent>
#include <QEvent>

XPHoverButton::XPHoverButton(QWidget *parent) : QPushButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

XPHoverButton::XPHoverButton(const QString &title, QWidget *parent) : XPHoverButton(parent)
{
    setText(title);
}

void XPHoverButton::setShowHovered(bool hovered)
{
    // A disabled button never shows the hover look.
    const bool value = hovered && isEnabled();
    if (value == m_showHovered)
        return;
    m_showHovered = value;
    update();
    Q_EMIT hoveredChanged(m_showHovered);
}

void XPHoverButton::enterEvent(QEnterEvent *event)
{
    setShowHovered(true);
    QPushButton::enterEvent(event);
}

void XPHoverButton::leaveEvent(QEvent *event)
{
    setShowHovered(false);
    QPushButton::leaveEvent(event);
}

void XPHoverButton::changeEvent(QEvent *event)
{
    // Leaving the window, being hidden or disabled ends the hover.
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        setShowHovered(false);
    QPushButton::changeEvent(event);
}
