#include "tags/editor/XPTagButton.h"

#include "tags/LumitagPrefs.h"
#include "util/Localized.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QThreadPool>

namespace {

QColor blend(const QColor &a, const QColor &b, double t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

// The desktop's accent-free stand-ins for the system colours the styles name.
const QColor kSystemBlue(10, 132, 255);
const QColor kSystemRed(255, 59, 48);
const QColor kDarkGray(85, 85, 85);
const QColor kLightGray(170, 170, 170);

} // namespace

XPTagButton::XPTagButton(QWidget *parent) : XPHoverButton(parent)
{
    init();
}

XPTagButton::XPTagButton(const QString &title, Style style, const QIcon &hoverIcon, QWidget *parent)
    : XPHoverButton(title, parent), m_style(style), m_hoverIcon(hoverIcon)
{
    init();
}

void XPTagButton::init()
{
    m_titleFont = font();
    m_titleFont.setPointSizeF(11);
    setFlat(true);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    connect(this, &QAbstractButton::toggled, this, [this] { update(); });
}

void XPTagButton::setButtonStyle(Style style)
{
    if (style < TagStyle || style >= kStyleCount)
        style = TagStyle;
    m_style = style;
    update();
}

void XPTagButton::setHoverIcon(const QIcon &icon)
{
    m_hoverIcon = icon;
    update();
}

void XPTagButton::setTitleFont(const QFont &titleFont)
{
    m_titleFont = titleFont;
    updateGeometry();
    update();
}

void XPTagButton::setTextColors(const QColor &off, const QColor &on)
{
    m_textColor = off;
    m_selectedTextColor = on;
    update();
}

void XPTagButton::sizeToFit()
{
    resize(sizeHint().width(), height());
}

QSize XPTagButton::sizeHint() const
{
    const QFontMetrics metrics(m_titleFont);
    return {metrics.horizontalAdvance(text()) + kTitlePadding, qMax(14, metrics.height() + 2)};
}

QColor XPTagButton::styleColor(Style style, bool dark, bool active)
{
    switch (style) {
    case WhereStyle:
        return dark ? QColor(50, 87, 38) : QColor(220, 245, 211);
    case SourceStyle:
        return dark ? QColor(99, 65, 24) : QColor(252, 225, 206);
    case GrayTagStyle:
        return dark ? kDarkGray : kLightGray;
    case NotTagStyle:
        return kSystemRed;
    case HeadsUpStyle:
        if (active)
            return dark ? blend(kSystemBlue, Qt::white, 0.5) : kSystemBlue;
        return dark ? QColor(30, 73, 97) : QColor(208, 235, 253);
    case TagStyle:
    default:
        return dark ? QColor(30, 73, 97) : QColor(208, 235, 253);
    }
}

bool XPTagButton::isDarkPalette(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

bool XPTagButton::isDark() const
{
    return isDarkPalette(palette());
}

void XPTagButton::enableRemoveFromRecentsMenu(std::function<void(const QStringList &)> remover)
{
    m_removeMenuEnabled = true;
    m_remover = std::move(remover);
    setContextMenuPolicy(Qt::DefaultContextMenu);
}

QMenu *XPTagButton::contextMenu()
{
    if (!m_removeMenuEnabled)
        return nullptr;
    if (!m_menu) {
        m_menu = new QMenu(this);
        QAction *remove = m_menu->addAction(KLLocalized(QStringLiteral("Remove from Recents")));
        connect(remove, &QAction::triggered, this, &XPTagButton::removeFromRecentsAction);
    }
    return m_menu;
}

void XPTagButton::removeFromRecentsAction()
{
    const QString title = text();
    if (title != kRemovedTitle) {
        if (m_remover) {
            m_remover({title});
        } else {
            // The change waits for the recent-tags lock, which another program may hold: not
            // on the thread of the window.
            QThreadPool::globalInstance()->start([title] { LumitagPrefs::removeTagsFromRecents({title}); });
        }
    }
    setText(kRemovedTitle);
    update();
}

void XPTagButton::contextMenuEvent(QContextMenuEvent *event)
{
    if (QMenu *menu = contextMenu()) {
        menu->exec(event->globalPos());
        event->accept();
        return;
    }
    XPHoverButton::contextMenuEvent(event);
}

void XPTagButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool dark = isDark();
    const bool active = showHovered() || isChecked() || isDown();
    const QColor colour = styleColor(m_style, dark, active);
    const QRectF shape = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = shape.height() / 2;
    painter.setPen(QPen(colour, 1));
    painter.setBrush(colour);
    painter.drawRoundedRect(shape, radius, radius);
    if (hasFocus()) {
        // The keyboard focus shows as a ring inside the shape.
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(shape.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    QColor textColour = isChecked() ? m_selectedTextColor : m_textColor;
    if (!textColour.isValid())
        textColour = isChecked() ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::ButtonText);
    painter.setPen(textColour);
    painter.setFont(m_titleFont);
    const QFontMetrics metrics(m_titleFont);
    const QRect textRect = rect().adjusted(4, 0, -4, 0);
    painter.drawText(textRect, Qt::AlignCenter, metrics.elidedText(text(), Qt::ElideRight, textRect.width()));

    if (showHovered() && hasHoverIcon()) {
        const QSize iconSize = m_hoverIcon.actualSize(QSize(height(), height()));
        m_hoverIcon.paint(&painter, QRect(QPoint(0, 0), iconSize));
    }
}
