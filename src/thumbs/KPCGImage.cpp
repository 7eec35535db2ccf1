#include "thumbs/KPCGImage.h"

#include "util/KLTime.h"

#include <QImageReader>

KPCGImage::KPCGImage(const QImage &image) : fImageRef(image) {}

std::shared_ptr<KPCGImage> KPCGImage::initWithJPEGPath(const QString &path)
{
    QImageReader reader(path, "jpeg");
    reader.setAutoTransform(true);
    return std::make_shared<KPCGImage>(reader.read());
}

QImage KPCGImage::imageRef()
{
    fLastUsedTime.store(KLTimeUtil::now());
    std::lock_guard lock(m_mutex);
    return fImageRef;
}

QImage KPCGImage::peekImage() const
{
    std::lock_guard lock(m_mutex);
    return fImageRef;
}

bool KPCGImage::isNull() const
{
    std::lock_guard lock(m_mutex);
    return fImageRef.isNull();
}

QSize KPCGImage::size() const
{
    std::lock_guard lock(m_mutex);
    return fImageRef.size();
}

qint64 KPCGImage::ramFootprint() const
{
    std::lock_guard lock(m_mutex);
    return qint64(fImageRef.width()) * fImageRef.height() * 4;
}

void KPCGImage::cropToRect(const QRect &rect)
{
    std::lock_guard lock(m_mutex);
    if (fImageRef.isNull() || rect.isEmpty())
        return;
    // Bottom-left origin → Qt's top-left origin.
    const QRect topLeft(rect.x(), fImageRef.height() - rect.y() - rect.height(), rect.width(), rect.height());
    if (!fImageRef.rect().contains(topLeft))
        return;
    const QImage cropped = fImageRef.copy(topLeft);
    if (!cropped.isNull())
        fImageRef = cropped;
}

QString KPCGImage::description() const
{
    std::lock_guard lock(m_mutex);
    return fOptionalDescription;
}

void KPCGImage::setDescription(const QString &text)
{
    std::lock_guard lock(m_mutex);
    fOptionalDescription = text;
}

bool KPCGImage::sortByLastUsedTime(const std::shared_ptr<KPCGImage> &a, const std::shared_ptr<KPCGImage> &b)
{
    return a->lastUsedTime() < b->lastUsedTime();
}
