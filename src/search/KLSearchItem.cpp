#include "search/KLSearchItem.h"

#include "util/KLTime.h"
#include "util/Tilde.h"

#include <pwd.h>
#include <unistd.h>

const QString KLSearchItem::kItemPath = QStringLiteral("kMDItemPath");
const QString KLSearchItem::kItemDisplayName = QStringLiteral("kMDItemDisplayName");

KLSearchItemPtr KLSearchItem::create(const QVariantMap &mdItem, const KLItemServicesPtr &services)
{
    KLSearchItemPtr item(new KLSearchItem);
    item->m_services = services;
    item->setMDItem(mdItem);
    return item;
}

void KLSearchItem::setMDItem(const QVariantMap &mdItem)
{
    if (m_gridItem && mdItem == m_mdItem)
        return;
    m_mdItem = mdItem;
    const QString newPath = mdItem.value(kItemPath).toString();
    if (m_gridItem && newPath == m_path)
        return;
    m_path = newPath;
    // No bookmark: results come and go by the hundred, and the bookmark would read the disk on
    // this thread. The item's facts are looked at on the item worker as for any item.
    m_gridItem = m_path.isEmpty() ? nullptr : KLItem::create(m_path, false);
    if (m_gridItem && m_services)
        m_gridItem->setServices(m_services);
}

QString KLSearchItem::title() const
{
    const QString name = m_mdItem.value(kItemDisplayName).toString();
    if (!name.isEmpty())
        return name;
    return m_path.section(QLatin1Char('/'), -1);
}

QString KLSearchItem::subtitle() const
{
    return subtitleForPath(m_path, PimsAdditions::realHomeDirectory(), userName());
}

QString KLSearchItem::subtitleForPath(const QString &path, const QString &home, const QString &user)
{
    if (path.isEmpty())
        return {};
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    QString folder = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    if (!home.isEmpty() && home != QLatin1String("/")) {
        if (folder == home)
            return QStringLiteral("~");
        if (folder.startsWith(home + QLatin1Char('/')))
            return QLatin1Char('~') + folder.mid(home.size());
    }
    // Removable volumes: the disk's name first. "/media/USER" itself is not a disk.
    QStringList prefixes = {QStringLiteral("/Volumes/")};
    if (!user.isEmpty()) {
        prefixes.append(QStringLiteral("/media/%1/").arg(user));
        prefixes.append(QStringLiteral("/run/media/%1/").arg(user));
    }
    for (const QString &prefix : std::as_const(prefixes)) {
        if (folder.startsWith(prefix) && folder.size() > prefix.size())
            return folder.mid(prefix.size());
    }
    return folder;
}

QString KLSearchItem::userName()
{
    static const QString name = [] {
        if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_name)
            return QString::fromLocal8Bit(pw->pw_name);
        return qEnvironmentVariable("USER");
    }();
    return name;
}

QString KLSearchItem::getAttribute(const QString &key) const
{
    const QVariant v = m_mdItem.value(key);
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QString KLSearchItem::getArrayAttribute(const QString &key) const
{
    const QVariant v = m_mdItem.value(key);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant &part : v.toList())
            parts.append(part.toString());
        return parts.join(QStringLiteral(", "));
    }
    return {};
}

QDateTime KLSearchItem::getDateAttribute(const QString &key) const
{
    const QVariant v = m_mdItem.value(key);
    if (v.typeId() == QMetaType::QDateTime)
        return v.toDateTime();
    if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::LongLong || v.typeId() == QMetaType::Int)
        return KLTimeUtil::toDateTime(v.toDouble());
    return {};
}

QStringList KLSearchItem::arrayOfPaths(bool includeSelf) const
{
    QStringList out;
    if (m_path.isEmpty() || m_path == QLatin1String("/"))
        return out;
    QString p = m_path;
    if (includeSelf)
        out.append(p);
    for (;;) {
        const int slash = int(p.lastIndexOf(QLatin1Char('/')));
        if (slash <= 0)
            break;
        p = p.left(slash);
        out.append(p);
    }
    return out;
}

QStringList KLSearchItem::pathsForItems(const QList<KLSearchItemPtr> &items)
{
    QStringList paths;
    for (const KLSearchItemPtr &item : items) {
        if (item && !item->path().isEmpty())
            paths.append(item->path());
    }
    return paths;
}
