#include "fileops/XPOpenWith.h"

#include "platform/Apps.h"
#include "platform/Defaults.h"
#include "platform/Workspace.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QCollator>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSet>
#include <algorithm>

namespace XPFileUtils {

namespace {

Defaults &store(Defaults *defaults)
{
    return defaults ? *defaults : Defaults::standard();
}

QString mimeTypeOf(const QString &path)
{
    static QMimeDatabase db;
    return db.mimeTypeForFile(path).name();
}

QString fileNameWithoutExtension(const QString &path)
{
    QString name = path.section(QLatin1Char('/'), -1);
    const QString ext = pathExtension(name);
    if (!ext.isEmpty())
        name.chop(ext.size() + 1);
    return name;
}

OpenWithEntry separatorEntry()
{
    OpenWithEntry e;
    e.kind = OpenWithEntry::Separator;
    return e;
}

QString appName(const Apps::AppInfo &info)
{
    return info.name.isEmpty() ? fileNameWithoutExtension(info.desktopPath) : info.name;
}

} // namespace

QString preferredAppKeyForFile(const QString &path)
{
    const QString ext = pathExtension(path);
    return ext.isEmpty() ? QString() : QStringLiteral("prefApp_") + ext;
}

QString getDefaultApplicationForFile(const QString &path, Defaults *defaults)
{
    const QString ext = pathExtension(path);
    if (ext == QLatin1String("app"))
        return QString();
    if (!ext.isEmpty()) {
        Defaults &d = store(defaults);
        const QString key = preferredAppKeyForFile(path);
        const QString preferred = d.stringForKey(key);
        if (!preferred.isEmpty() && QFileInfo::exists(preferred))
            return preferred;
        if (d.hasSavedValue(key))
            d.removeObjectForKey(key); // the application has gone: fall back to the default
    }
    return Apps::defaultAppForType(mimeTypeOf(path)).desktopPath;
}

void setPreferredAppForFile(const QString &path, const QString &application, Defaults *defaults)
{
    const QString ext = pathExtension(path);
    if (ext.isEmpty() || ext.size() > 11 || application.isEmpty() || !QFileInfo::exists(application))
        return;
    store(defaults).setString(preferredAppKeyForFile(path), application);
}

QStringList editorURLsForURL(const QString &path, bool includeViewers)
{
    Q_ASSERT(!path.isEmpty());
    if (path.isEmpty())
        return {};
    const QString type = mimeTypeOf(path);
    const QList<Apps::AppInfo> apps = includeViewers ? Apps::allAppsForType(type) : Apps::recommendedAppsForType(type);
    QStringList out;
    QSet<QString> seen;
    for (const Apps::AppInfo &app : apps) {
        if (seen.contains(app.desktopPath))
            continue;
        seen.insert(app.desktopPath);
        out.append(app.desktopPath);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(out.begin(), out.end(), [&](const QString &a, const QString &b) {
        return collator.compare(fileNameWithoutExtension(a), fileNameWithoutExtension(b)) < 0;
    });
    return out;
}

bool applicationPathIsOffered(const QString &appPath)
{
    return pathExtension(appPath).compare(QLatin1String("desktop"), Qt::CaseInsensitive) == 0 &&
           !appPath.startsWith(QLatin1String("/Previous Systems")) &&
           !appPath.contains(QLatin1String("/Attachments/")) && !appPath.contains(QLatin1String("/Library/"));
}

QString displayVersion(const QString &shortVersion, const QString &buildVersion)
{
    if (!shortVersion.isEmpty() && shortVersion.size() <= 20)
        return shortVersion;
    return buildVersion;
}

int compareMenuItems(const QString &a, const QString &b)
{
    // Digit runs compare by value; the text between them compares case-insensitively in the
    // user's locale. (The collator's own numeric mode is not available with every Qt build.)
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = a.at(i).isDigit(), db = b.at(j).isDigit();
        qsizetype ei = i, ej = j;
        while (ei < a.size() && a.at(ei).isDigit() == da)
            ++ei;
        while (ej < b.size() && b.at(ej).isDigit() == db)
            ++ej;
        const QStringView ra = QStringView(a).mid(i, ei - i), rb = QStringView(b).mid(j, ej - j);
        int c = 0;
        if (da && db) {
            qsizetype za = 0, zb = 0;
            while (za < ra.size() - 1 && ra.at(za) == QLatin1Char('0'))
                ++za;
            while (zb < rb.size() - 1 && rb.at(zb) == QLatin1Char('0'))
                ++zb;
            const QStringView na = ra.mid(za), nb = rb.mid(zb);
            c = na.size() != nb.size() ? (na.size() < nb.size() ? -1 : 1) : na.compare(nb);
        } else {
            c = collator.compare(ra, rb);
            if (c == 0)
                c = ra.compare(rb, Qt::CaseInsensitive);
        }
        if (c != 0)
            return c < 0 ? -1 : 1;
        i = ei;
        j = ej;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

QList<OpenWithEntry> openWithEntriesForDocument(const QString &path, Defaults *defaults)
{
    QList<OpenWithEntry> out;
    const QString defaultApp = getDefaultApplicationForFile(path, defaults);
    QString defaultName;
    if (!defaultApp.isEmpty()) {
        const Apps::AppInfo info = Apps::appInfoForDesktopFile(defaultApp);
        defaultName = info.isValid() ? appName(info) : fileNameWithoutExtension(defaultApp);
        OpenWithEntry entry;
        entry.isDefault = true;
        // Marked in words, so that it reads the same on screen and to a screen reader.
        entry.title =
            KLLocalized(QStringLiteral("XPOpenWithDefaultApp"), {KLLocalized(QStringLiteral("%1"), {defaultName})});
        entry.toolTip = defaultApp;
        entry.representedObject = {{QStringLiteral("path"), path}};
        if (defaultApp.size() >= 5) {
            entry.iconNames = info.iconNames;
            entry.iconFile = info.iconFile;
        }
        out.append(entry);
        out.append(separatorEntry());
    }

    QStringList apps = editorURLsForURL(path, false);
    if (apps.size() <= 9)
        apps = editorURLsForURL(path, true);

    QList<OpenWithEntry> others;
    for (const QString &appPath : apps) {
        if (appPath == defaultApp)
            continue; // the default application does not appear twice
        const Apps::AppInfo info = Apps::appInfoForDesktopFile(appPath);
        const QString name = info.isValid() ? appName(info) : fileNameWithoutExtension(appPath);
        if (name == defaultName)
            continue;
        if (!applicationPathIsOffered(appPath))
            continue;
        const QString version = displayVersion(info.version, info.buildVersion);
        OpenWithEntry entry;
        entry.title = version.isEmpty() ? name : KLLocalized(QStringLiteral("%1 %2"), {name, version});
        entry.toolTip = appPath;
        entry.representedObject = {{QStringLiteral("path"), path}, {QStringLiteral("app"), appPath}};
        entry.iconNames = info.iconNames;
        entry.iconFile = info.iconFile;
        others.append(entry);
    }
    std::stable_sort(others.begin(), others.end(), [](const OpenWithEntry &a, const OpenWithEntry &b) {
        return compareMenuItems(a.title, b.title) < 0;
    });
    out.append(others);
    if (!others.isEmpty())
        out.append(separatorEntry());

    OpenWithEntry other;
    other.kind = OpenWithEntry::Other;
    other.title = KLLocalized(QStringLiteral("Other…"));
    other.representedObject = {{QStringLiteral("path"), path}};
    out.append(other);
    return out;
}

bool openFileWithApplication(const QString &path, const QString &application, QString *error)
{
    if (path.isEmpty())
        return false;
    if (application.isEmpty())
        return Workspace::openFile(path, error);
    QString why;
    if (Apps::launchWithFiles(application, {path}, &why))
        return true;
    if (error) {
        const Apps::AppInfo info = Apps::appInfoForDesktopFile(application);
        *error = KLLocalized(QStringLiteral("%1 could not be started: %2"),
                             {info.isValid() ? appName(info) : fileNameWithoutExtension(application), why});
    }
    return false;
}

bool openWithDefaultApplication(const QString &path, QString *error, Defaults *defaults)
{
    if (path.isEmpty())
        return false;
    const QString app = getDefaultApplicationForFile(path, defaults);
    if (app.isEmpty() && pathExtension(path) == QLatin1String("app")) {
        if (error)
            *error = KLLocalized(QStringLiteral("It is an application entry, not a document."));
        return false;
    }
    // Without a preference this is the system default, asked of GIO again by Workspace.
    return openFileWithApplication(path, app, error);
}

bool openSelectedWithApp(const QVariantMap &record, Defaults *defaults, QString *error)
{
    const QString path = record.value(QStringLiteral("path")).toString();
    if (path.isEmpty())
        return false;
    QString app = record.value(QStringLiteral("app")).toString();
    if (!app.isEmpty())
        setPreferredAppForFile(path, app, defaults);
    else
        app = getDefaultApplicationForFile(path, defaults);
    QString why;
    const bool ok = openFileWithApplication(path, app, &why);
    if (!ok) {
        qCWarning(lcFileOps, "cannot open %s: %s", qUtf8Printable(path), qUtf8Printable(why));
        if (error)
            *error = why;
    }
    return ok;
}

} // namespace XPFileUtils
