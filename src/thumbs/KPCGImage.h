#pragma once
// One owned bitmap with the time it was last used: the result of every thumbnail request.
// Shared as KPCGImageRef (a std::shared_ptr) between the renderer and its requesters; all
// members are thread-safe.
#include <QImage>
#include <QMetaType>
#include <QRect>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>

class KPCGImage
{
public:
    KPCGImage() = default;
    explicit KPCGImage(const QImage &image); // initWithCGImage
    // Decodes a JPEG file; wraps nothing when that fails.
    static std::shared_ptr<KPCGImage> initWithJPEGPath(const QString &path);

    // The image; stamps the last-used time with now.
    QImage imageRef();
    // The image without stamping (for looking, not using).
    QImage peekImage() const;
    bool isNull() const;
    QSize size() const;
    // width × height × 4 bytes.
    qint64 ramFootprint() const;
    // Replaces the image by `rect`, given with its origin at the bottom-left corner of the
    // image; the old image stays when the rectangle does not lie inside it.
    void cropToRect(const QRect &rect);

    QString description() const;
    void setDescription(const QString &text);
    double lastUsedTime() const { return fLastUsedTime.load(); }
    void setLastUsedTime(double t) { fLastUsedTime.store(t); }

    // Ascending by last-used time (for std::sort).
    static bool sortByLastUsedTime(const std::shared_ptr<KPCGImage> &a, const std::shared_ptr<KPCGImage> &b);

private:
    mutable std::mutex m_mutex;
    QImage fImageRef;
    QString fOptionalDescription;
    std::atomic<double> fLastUsedTime{0};
};

using KPCGImageRef = std::shared_ptr<KPCGImage>;
Q_DECLARE_METATYPE(KPCGImageRef)
