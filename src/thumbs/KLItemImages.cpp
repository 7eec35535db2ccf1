#include "thumbs/KLItemImages.h"

#include "thumbs/KPImageUtils.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <mutex>

namespace KLItemImages {

namespace {

constexpr int kBadgeHeight = 24;

QImage paintBadge(QSize size)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal border = std::max(1.0, size.height() / 12.0);
    const QRectF r = QRectF(QPointF(0, 0), QSizeF(size)).adjusted(border / 2, border / 2, -border / 2, -border / 2);
    const qreal radius = r.height() / 2;
    p.setPen(QPen(Qt::white, border));
    QLinearGradient fill(r.topLeft(), r.bottomLeft());
    fill.setColorAt(0, QColor(236, 92, 80));
    fill.setColorAt(1, QColor(196, 40, 32));
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
    return img;
}

QImage paintMissingMedia(QSize size)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = std::min(size.width(), size.height());
    const qreal w = s * 0.62, h = s * 0.8;
    const QRectF page((size.width() - w) / 2, (size.height() - h) / 2, w, h);
    QPen dashed(QColor(140, 140, 140), std::max(1.0, s / 64), Qt::DashLine);
    p.setPen(dashed);
    p.setBrush(QColor(245, 245, 245, 200));
    p.drawRoundedRect(page, s * 0.03, s * 0.03);
    // A cross through the middle: the file is not where it was.
    p.setPen(QPen(QColor(200, 60, 50), std::max(2.0, s / 24), Qt::SolidLine, Qt::RoundCap));
    const QPointF c = page.center();
    const qreal a = s * 0.14;
    p.drawLine(c + QPointF(-a, -a), c + QPointF(a, a));
    p.drawLine(c + QPointF(-a, a), c + QPointF(a, -a));
    return img;
}

bool haveFonts()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

void registerImages()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char *name : {"badgeSmall", "badge3digits", "badge4digits", "badge5digits"})
            KPImageUtils::registerNamedImage(QString::fromLatin1(name), paintBadge);
        KPImageUtils::registerNamedImage(QStringLiteral("missingMedia"), paintMissingMedia);
    });
}

QString badgeNameForNumber(long long number)
{
    if (number < 100)
        return QStringLiteral("badgeSmall");
    if (number < 1000)
        return QStringLiteral("badge3digits");
    if (number < 10000)
        return QStringLiteral("badge4digits");
    return QStringLiteral("badge5digits");
}

QSize badgeSize(const QString &name)
{
    if (name == QLatin1String("badge3digits"))
        return QSize(34, kBadgeHeight);
    if (name == QLatin1String("badge4digits"))
        return QSize(42, kBadgeHeight);
    if (name == QLatin1String("badge5digits"))
        return QSize(50, kBadgeHeight);
    return QSize(kBadgeHeight, kBadgeHeight);
}

void drawBadgeWithNumber(long long number, QImage *image, int height)
{
    if (number <= 0 || !image || image->isNull())
        return;
    registerImages();
    const QString name = badgeNameForNumber(number);
    QSize size = badgeSize(name);
    qreal fontSize = 13;
    if (height > 0 && height != size.height()) {
        fontSize = 13.0 * height / size.height();
        size = QSize(qRound(size.width() * qreal(height) / size.height()), height);
    }
    const QImage badge = KPImageUtils::imageNamed(name, QSizeF(size));
    if (badge.isNull())
        return;
    QPainter p(image);
    p.setRenderHint(QPainter::Antialiasing);
    // Bottom-right corner: right edge on the image's right edge, lower edge on its lower edge.
    const QRectF r(image->width() - badge.width(), image->height() - badge.height(), badge.width(), badge.height());
    p.drawImage(r.topLeft(), badge);
    if (!haveFonts())
        return;
    QFont font(QStringLiteral("Lucida Grande"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(std::max(1, qRound(fontSize)));
    p.setFont(font);
    p.setPen(Qt::white);
    const QString text = QString::number(number);
    const QFontMetricsF fm(font);
    const qreal tw = fm.horizontalAdvance(text);
    const qreal th = fm.ascent() + fm.descent();
    // Centred on the picture, half a point right and one point up, as the artwork expects.
    const qreal x = r.left() + (r.width() - tw) / 2 + 0.5;
    const qreal top = r.top() + (r.height() - th) / 2 - 1;
    p.drawText(QPointF(x, top + fm.ascent()), text);
}

QImage folderImage(const QString &path, long long count, QSize size)
{
    if (size.isEmpty())
        return {};
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    const QImage icon = KPImageUtils::iconForFile(path, QSizeF(size));
    if (!icon.isNull()) {
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize s = icon.size().scaled(size, Qt::KeepAspectRatio);
        p.drawImage(QRect(QPoint((size.width() - s.width()) / 2, (size.height() - s.height()) / 2), s), icon);
    }
    drawBadgeWithNumber(count, &out, 35);
    return out;
}

QImage missingMediaImage()
{
    static const QImage img = [] {
        registerImages();
        return KPImageUtils::imageNamed(QStringLiteral("missingMedia"), QSizeF(172, 172));
    }();
    return img;
}

} // namespace KLItemImages
