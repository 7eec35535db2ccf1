#include "browser/KLSvgIcon.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <memory>

namespace {

// Draws the SVG into each size asked for and keeps the pixmaps it made. Used on the GUI thread
// only, like every QIcon.
class SvgIconEngine : public QIconEngine
{
public:
    explicit SvgIconEngine(QByteArray svg) : m_svg(std::move(svg)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode, QIcon::State) override
    {
        renderer().render(painter, QRectF(rect));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        const quint64 key = (quint64(quint32(size.width())) << 32) | quint32(size.height());
        auto it = m_pixmaps.constFind(key);
        if (it != m_pixmaps.constEnd())
            return *it;
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        {
            QPainter p(&pm);
            paint(&p, QRect(QPoint(0, 0), size), mode, state);
        }
        m_pixmaps.insert(key, pm);
        return pm;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override { return size; }

    QIconEngine *clone() const override { return new SvgIconEngine(m_svg); }

    QString key() const override { return QStringLiteral("KLSvgIcon"); }

private:
    QSvgRenderer &renderer()
    {
        if (!m_renderer)
            m_renderer = std::make_unique<QSvgRenderer>(m_svg);
        return *m_renderer;
    }

    QByteArray m_svg;
    std::unique_ptr<QSvgRenderer> m_renderer;
    QHash<quint64, QPixmap> m_pixmaps;
};

} // namespace

namespace KLSvgIcon {

QIcon fromFile(const QString &svgPath)
{
    QFile file(svgPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray svg = file.readAll();
    if (!svg.contains("<svg"))
        return {};
    return QIcon(new SvgIconEngine(svg));
}

} // namespace KLSvgIcon
