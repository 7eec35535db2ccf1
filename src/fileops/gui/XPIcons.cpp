#include "fileops/gui/XPIcons.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QPixmap>

namespace XPIcons {

namespace {
QIcon scaled(const QIcon &icon)
{
    if (icon.isNull())
        return icon;
    const QPixmap pm = icon.pixmap(kMenuIconSize, kMenuIconSize);
    if (pm.isNull())
        return QIcon();
    return QIcon(pm.size() == QSize(kMenuIconSize, kMenuIconSize)
                     ? pm
                     : pm.scaled(kMenuIconSize, kMenuIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
} // namespace

QIcon iconForPath(const QString &path)
{
    static QMimeDatabase db;
    const QFileInfo info(path);
    const QMimeType type = info.isDir() ? db.mimeTypeForName(QStringLiteral("inode/directory"))
                                        : db.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    const QStringList names{type.iconName(), type.genericIconName(),
                            info.isDir() ? QStringLiteral("folder") : QStringLiteral("text-x-generic")};
    for (const QString &name : names) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name))
            return scaled(QIcon::fromTheme(name));
    }
    return QIcon();
}

QIcon iconForApplication(const QStringList &names, const QString &file)
{
    for (const QString &name : names) {
        if (QIcon::hasThemeIcon(name))
            return scaled(QIcon::fromTheme(name));
    }
    if (!file.isEmpty() && QFileInfo::exists(file))
        return scaled(QIcon(file));
    return QIcon();
}

QIcon emptyIcon()
{
    QPixmap pm(kMenuIconSize, kMenuIconSize);
    pm.fill(Qt::transparent);
    return QIcon(pm);
}

} // namespace XPIcons
