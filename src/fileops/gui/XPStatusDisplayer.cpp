#include "fileops/gui/XPStatusDisplayer.h"

#include <QLabel>
#include <QPointer>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPointer<XPStatusDisplayer> g_instance;
constexpr int kFadeMs = 250;
} // namespace

XPStatusDisplayer::XPStatusDisplayer()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("XPStatusDisplayer"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto *layout = new QVBoxLayout(this);
    m_mainText = new QLabel(this);
    m_subText = new QLabel(this);
    m_mainText->setAlignment(Qt::AlignCenter);
    m_subText->setAlignment(Qt::AlignCenter);
    m_subText->hide();
    layout->addWidget(m_mainText);
    layout->addWidget(m_subText);
    m_fade = new QPropertyAnimation(this, "windowOpacity", this);
    m_fade->setDuration(kFadeMs);
    // A finished fade-out orders the window out; a fade-in that replaced it does not.
    connect(m_fade, &QPropertyAnimation::finished, this, [this] {
        if (m_fade->endValue().toDouble() <= 0.0)
            hide();
    });
}

XPStatusDisplayer *XPStatusDisplayer::singleInstance()
{
    if (!g_instance)
        g_instance = new XPStatusDisplayer();
    return g_instance;
}

bool XPStatusDisplayer::hasInstance()
{
    return !g_instance.isNull();
}

void XPStatusDisplayer::showStatusString(const QString &text, double seconds, QWidget *view)
{
    m_mainText->setText(text);
    adjustSize();
    if (view) {
        const QRect r(view->mapToGlobal(QPoint(0, 0)), view->size());
        const int bottom = r.top() + int(0.2 * r.height());
        move(r.center().x() - width() / 2, bottom - height());
    }
    m_fade->stop();
    if (!isVisible())
        setWindowOpacity(0.0);
    m_fade->setStartValue(windowOpacity());
    m_fade->setEndValue(1.0);
    show();
    raise();
    m_fade->start();
    QPointer<XPStatusDisplayer> self(this);
    QTimer::singleShot(int(seconds * 1000), this, [self] {
        if (self)
            self->stopShowingStatus();
    });
}

void XPStatusDisplayer::stopShowingStatus()
{
    m_fade->stop();
    m_fade->setStartValue(windowOpacity());
    m_fade->setEndValue(0.0);
    m_fade->start();
}
