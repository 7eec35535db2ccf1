// GIO must come before the Qt headers: its headers use names that Qt's keyword macros would
// otherwise rewrite (QT_NO_KEYWORDS is on as well).
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include "platform/AppsModule.h"
#include "platform/GioOwners.h"

#include <QByteArray>
#include <QUrl>

// The GIO half of Apps: built as a module of its own (libkelso_apps.so) so that starting Kelso
// does not load GIO and the libraries it pulls in; Apps loads it at the first question.
namespace AppsGio {

namespace {

using Apps::AppInfo;
using Apps::AppsModuleApi;
using namespace GioOwners;

QString fromUtf8(const char *s)
{
    return s ? QString::fromUtf8(s) : QString();
}

QString stringKey(GDesktopAppInfo *info, const char *key)
{
    const CharPtr value(g_desktop_app_info_get_string(info, key));
    return fromUtf8(value.get()).trimmed();
}

AppInfo fromGAppInfo(GAppInfo *app)
{
    AppInfo out;
    if (!app || !G_IS_DESKTOP_APP_INFO(app))
        return out;
    GDesktopAppInfo *desktop = G_DESKTOP_APP_INFO(app);
    const char *filename = g_desktop_app_info_get_filename(desktop);
    if (!filename)
        return out;
    out.desktopPath = QString::fromLocal8Bit(filename);
    out.id = fromUtf8(g_app_info_get_id(app));
    out.name = fromUtf8(g_app_info_get_name(app));
    out.version = stringKey(desktop, "X-AppImage-Version");
    out.buildVersion = stringKey(desktop, "X-AppImage-BuildId");
    if (out.buildVersion.isEmpty())
        out.buildVersion = stringKey(desktop, "X-Build-Version");
    if (GIcon *icon = g_app_info_get_icon(app)) {
        if (G_IS_THEMED_ICON(icon)) {
            const gchar *const *names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            for (int i = 0; names && names[i]; ++i)
                out.iconNames.append(fromUtf8(names[i]));
        } else if (G_IS_FILE_ICON(icon)) {
            GFile *file = g_file_icon_get_file(G_FILE_ICON(icon));
            const CharPtr p(file ? g_file_get_path(file) : nullptr);
            out.iconFile = p ? QString::fromLocal8Bit(p.get()) : QString();
        }
    }
    return out;
}

QList<AppInfo> fromList(AppInfoList list)
{
    QList<AppInfo> out;
    for (GList *l = list.get(); l; l = l->next) {
        AppInfo info = fromGAppInfo(G_APP_INFO(l->data));
        if (info.isValid())
            out.append(info);
    }
    return out;
}

AppInfo defaultAppForType(const QString &mimeType)
{
    if (mimeType.isEmpty())
        return {};
    const QByteArray type = mimeType.toUtf8();
    const ObjectPtr<GAppInfo> app(g_app_info_get_default_for_type(type.constData(), FALSE));
    return fromGAppInfo(app.get());
}

QList<AppInfo> recommendedAppsForType(const QString &mimeType)
{
    if (mimeType.isEmpty())
        return {};
    const QByteArray type = mimeType.toUtf8();
    return fromList(AppInfoList(g_app_info_get_recommended_for_type(type.constData())));
}

QList<AppInfo> allAppsForType(const QString &mimeType)
{
    if (mimeType.isEmpty())
        return {};
    const QByteArray type = mimeType.toUtf8();
    return fromList(AppInfoList(g_app_info_get_all_for_type(type.constData())));
}

AppInfo appInfoForDesktopFile(const QString &desktopPath)
{
    if (desktopPath.isEmpty())
        return {};
    const QByteArray file = desktopPath.toLocal8Bit();
    const ObjectPtr<GDesktopAppInfo> desktop(g_desktop_app_info_new_from_filename(file.constData()));
    if (!desktop)
        return {};
    return fromGAppInfo(G_APP_INFO(desktop.get()));
}

bool launchWithUris(const QString &desktopPath, const QStringList &uriList, QString *error)
{
    const QByteArray file = desktopPath.toLocal8Bit();
    const ObjectPtr<GDesktopAppInfo> desktop(
        desktopPath.isEmpty() ? nullptr : g_desktop_app_info_new_from_filename(file.constData()));
    if (!desktop) {
        if (error)
            *error = QStringLiteral("cannot read the application entry %1").arg(desktopPath);
        return false;
    }
    QList<QByteArray> uris;
    for (const QString &u : uriList)
        uris.append(u.toUtf8());
    GList *list = nullptr;
    for (const QByteArray &u : uris)
        list = g_list_append(list, const_cast<char *>(u.constData()));
    const BorrowingList borrowed(list); // the strings stay the QByteArrays'
    GError *raw = nullptr;
    const bool ok = g_app_info_launch_uris(G_APP_INFO(desktop.get()), list, nullptr, &raw);
    const ErrorPtr gerror(raw);
    if (!ok && error)
        *error = gerror ? QString::fromUtf8(gerror->message) : QStringLiteral("launch failed");
    return ok;
}

bool launchWithFiles(const QString &desktopPath, const QStringList &filePaths, QString *error)
{
    QStringList uris;
    for (const QString &p : filePaths)
        uris.append(QString::fromLatin1(QUrl::fromLocalFile(p).toEncoded()));
    return launchWithUris(desktopPath, uris, error);
}

AppInfo defaultAppForUriScheme(const QString &scheme)
{
    if (scheme.isEmpty())
        return {};
    const QByteArray s = scheme.toUtf8();
    const ObjectPtr<GAppInfo> app(g_app_info_get_default_for_uri_scheme(s.constData()));
    return fromGAppInfo(app.get());
}

QList<AppInfo> allApplications()
{
    QList<AppInfo> out;
    const AppInfoList all(g_app_info_get_all());
    for (GList *l = all.get(); l; l = l->next) {
        GAppInfo *app = G_APP_INFO(l->data);
        if (!g_app_info_should_show(app))
            continue;
        AppInfo info = fromGAppInfo(app);
        if (info.isValid())
            out.append(info);
    }
    return out;
}

const AppsModuleApi kApi = {Apps::kAppsModuleVersion, defaultAppForType,      recommendedAppsForType,
                            allAppsForType,           appInfoForDesktopFile,  launchWithFiles,
                            launchWithUris,           defaultAppForUriScheme, allApplications};

} // namespace
} // namespace AppsGio

extern "C" Q_DECL_EXPORT const Apps::AppsModuleApi *kelsoAppsModule()
{
    return &AppsGio::kApi;
}
