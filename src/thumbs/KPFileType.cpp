#include "thumbs/KPFileType.h"

#include "fileops/XPFileUtils.h"
#include "platform/typeregistry/TypeRegistry.h"
#include "thumbs/KPPool.h"

#include <QFileInfo>
#include <atomic>

namespace KPFileType {

namespace {

KPDictionary<QString> &byExtension()
{
    static KPDictionary<QString> d;
    return d;
}

KPDictionary<QString> &byPath()
{
    static KPDictionary<QString> d;
    return d;
}

std::atomic<qsizetype> g_examinations{0};

QString extensionOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1) // no dot in the last component, or a hidden name like ".profile"
        return {};
    return path.mid(dot + 1);
}

} // namespace

bool isImage(const QString &path)
{
    static const QStringList exts = {QStringLiteral("jpg"), QStringLiteral("gif"), QStringLiteral("psd"),
                                     QStringLiteral("png"), QStringLiteral("tif")};
    if (exts.contains(extensionOf(path)))
        return true;
    return TypeRegistry::conformsTo(utiForFile(path), QStringLiteral("public.image"));
}

bool isMovie(const QString &path)
{
    static const QStringList exts = {QStringLiteral("mov"), QStringLiteral("avi"), QStringLiteral("mpg"),
                                     QStringLiteral("mp4")};
    if (exts.contains(extensionOf(path)))
        return true;
    return TypeRegistry::conformsTo(utiForFile(path), QStringLiteral("public.movie"));
}

QString utiForFile(const QString &path)
{
    return utiForPath(path, extensionOf(path));
}

QString utiForPath(const QString &path, const QString &extension)
{
    if (!extension.isEmpty()) {
        const QString hit = byExtension().valueForKey(extension);
        if (!hit.isEmpty())
            return hit;
        if (extension.size() > 15 && path.contains(QLatin1String("Library/Caches/")))
            return QStringLiteral("public.data");
    }
    const QString pathHit = byPath().valueForKey(path);
    if (!pathHit.isEmpty())
        return pathHit;
    QString x;
    const QString t = utiForPathSlow(path, extension, &x);
    const QString best = bestUTIForStoringExtension(extension, x, t);
    if (!best.isEmpty()) {
        if (!t.isEmpty())
            byExtension().setValue(t, extension);
    } else if (!t.isEmpty()) {
        byPath().setValue(t, path);
    }
    return t.isEmpty() ? x : t;
}

QString utiForPathSlow(const QString &path, const QString &extensionIn, QString *extensionUTI)
{
    if (path.isEmpty())
        return QStringLiteral("kUTI_NO_FILE");
    QString x;
    QString e = extensionIn;
    const bool slow = XPFileUtils::pathIsOnSlowVolume(path);
    if (slow && e.isEmpty())
        e = QStringLiteral("unknown");
    bool isDir = false;
    if (!slow) {
        const QFileInfo info(path);
        isDir = info.exists() && info.isDir();
    }
    const QStringList all = allUTIsForExtension(e, isDir);
    if (all.size() == 1)
        x = all.first();
    QString answer;
    if (slow) {
        // Never touch the file: the extension is all we know.
        x = preferredUTIForExtension(e);
    } else {
        ++g_examinations;
        QString found, error;
        if (!TypeRegistry::utiForFile(path, &found, &error))
            x = preferredUTIForExtension(e);
        else
            answer = found;
    }
    if (extensionUTI)
        *extensionUTI = x;
    return answer;
}

QString bestUTIForStoringExtension(const QString &e, const QString &x, const QString &t)
{
    if (e.isEmpty() || (x.isEmpty() && t.isEmpty()))
        return {};
    if (!t.isEmpty() && !TypeRegistry::isDynamic(t))
        return t;
    if (t == x)
        return t;
    if (e.size() > 14 || e.contains(QLatin1Char(' ')))
        return {};
    if (!x.isEmpty() && !TypeRegistry::isDynamic(x))
        return x;
    if (TypeRegistry::isDynamic(x) && TypeRegistry::isDynamic(t) &&
        TypeRegistry::preferredExtensionForUTI(t).compare(e, Qt::CaseInsensitive) == 0)
        return x;
    return {};
}

QStringList allUTIsForExtension(const QString &extension, bool isDirectory)
{
    return TypeRegistry::allUTIsForExtension(extension, isDirectory);
}

QString preferredUTIForExtension(const QString &extension)
{
    return TypeRegistry::preferredUTIForExtension(extension);
}

qsizetype extensionCacheCount()
{
    return byExtension().count();
}

qsizetype pathCacheCount()
{
    return byPath().count();
}

qsizetype fileExaminations()
{
    return g_examinations.load();
}

} // namespace KPFileType
