#include "util/Tilde.h"

#include <QDir>
#include <pwd.h>
#include <unistd.h>

namespace PimsAdditions {

namespace {
bool isSandboxDataFolder(const QString &path)
{
    // Flatpak points HOME-like variables at ~/.var/app/<id>; that is not the user's home.
    return path.contains(QLatin1String("/.var/app/"));
}

QString withoutTrailingSlash(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}
} // namespace

QString realHomeDirectory()
{
    const QByteArray env = qgetenv("HOME");
    if (!env.isEmpty() && env.startsWith('/')) {
        QString home = withoutTrailingSlash(QString::fromLocal8Bit(env));
        if (!isSandboxDataFolder(home))
            return home;
    }
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return withoutTrailingSlash(QString::fromLocal8Bit(pw->pw_dir));
    return QStringLiteral("/");
}

QString stringByExpandingTildeInPathSANDBOX(const QString &path)
{
    if (path == QLatin1String("~"))
        return realHomeDirectory();
    if (path.startsWith(QLatin1String("~/"))) {
        const QString home = realHomeDirectory();
        return home == QLatin1String("/") ? path.mid(1) : home + path.mid(1);
    }
    return path;
}

QString stringByAbbreviatingWithTildeInPathSANDBOX(const QString &path)
{
    const QString home = realHomeDirectory();
    if (home == QLatin1String("/"))
        return path;
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(home.size());
    return path;
}

} // namespace PimsAdditions
