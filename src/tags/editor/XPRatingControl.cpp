#include "tags/editor/XPRatingControl.h"

#include "util/Localized.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

XPRatingControl::XPRatingControl(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ratingField"));
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(KLLocalized(QStringLiteral("XPRatingControlName")));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    describe();
}

void XPRatingControl::setValue(double value)
{
    const int stars = qBound(0, int(value), kMaxRating);
    if (stars == m_value)
        return;
    m_value = stars;
    describe();
    update();
}

int XPRatingControl::starSize() const
{
    return 18;
}

QSize XPRatingControl::sizeHint() const
{
    return QSize(starSize() * kMaxRating + 4, starSize() + 4);
}

void XPRatingControl::setByUser(int value)
{
    const int stars = qBound(0, value, kMaxRating);
    if (stars != m_value) {
        m_value = stars;
        describe();
        update();
    }
    // Reported even when unchanged: choosing the shown value again still means "write it".
    Q_EMIT ratingChanged(m_value);
}

void XPRatingControl::describe()
{
    setAccessibleDescription(KLLocalized(QStringLiteral("XPRatingControlValue"), {QString::number(m_value)}));
}

void XPRatingControl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int size = starSize();
    const QColor lit(240, 180, 30);
    const QColor unlit = palette().color(QPalette::Mid);
    for (int i = 0; i < kMaxRating; ++i) {
        const QPointF centre(2 + size * i + size / 2.0, 2 + size / 2.0);
        const double outer = size * 0.45;
        const double inner = outer * 0.45;
        QPainterPath star;
        for (int p = 0; p < 10; ++p) {
            const double angle = -M_PI / 2 + p * M_PI / 5;
            const double radius = p % 2 ? inner : outer;
            const QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
            p == 0 ? star.moveTo(point) : star.lineTo(point);
        }
        star.closeSubpath();
        painter.setPen(QPen(i < m_value ? lit.darker(130) : unlit, 1));
        painter.setBrush(i < m_value ? QBrush(lit) : QBrush(Qt::NoBrush));
        painter.drawPath(star);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void XPRatingControl::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const int star = qBound(0, int((event->position().x() - 2) / starSize()), kMaxRating - 1) + 1;
    setByUser(star == m_value && star == 1 ? 0 : star);
}

void XPRatingControl::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Minus:
    case Qt::Key_Down:
        return setByUser(m_value - 1);
    case Qt::Key_Right:
    case Qt::Key_Plus:
    case Qt::Key_Up:
        return setByUser(m_value + 1);
    case Qt::Key_Home:
        return setByUser(0);
    case Qt::Key_End:
        return setByUser(kMaxRating);
    default:
        break;
    }
    if (event->key() >= Qt::Key_0 && event->key() <= Qt::Key_5)
        return setByUser(event->key() - Qt::Key_0);
    QWidget::keyPressEvent(event);
}
