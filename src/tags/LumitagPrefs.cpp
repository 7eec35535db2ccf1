#include "tags/LumitagPrefs.h"

#include "platform/Defaults.h"
#include "util/KLTime.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <cmath>
#include <mutex>

namespace LumitagPrefs {

namespace {

std::mutex g_mutex;
QString g_domain = kSharedDomain;
double g_lastSync = 0;

Defaults &store()
{
    return Defaults::domain(prefsDomain());
}

// Serialises the read-modify-write of the recent tags between Kelso processes. The store's own
// lock is only held inside one synchronisation, so it cannot span the whole cycle.
class ChangeLock
{
public:
    ChangeLock() : m_lock(Defaults::pathForDomain(prefsDomain()) + QStringLiteral(".tags-lock"))
    {
        QDir().mkpath(QFileInfo(Defaults::pathForDomain(prefsDomain())).absolutePath());
        m_lock.setStaleLockTime(10000);
        m_locked = m_lock.tryLock(10000);
    }
    ~ChangeLock()
    {
        if (m_locked)
            m_lock.unlock();
    }

private:
    QLockFile m_lock;
    bool m_locked = false;
};

QStringList storedTags()
{
    return store().stringArrayForKey(kRecentTagsKey);
}

void writeTags(const QStringList &tags)
{
    store().setValue(kRecentTagsKey, QVariant(tags));
    synchPrefs();
}

} // namespace

void setPrefsFile(const QString &domain)
{
    std::lock_guard lock(g_mutex);
    g_domain = domain;
    g_lastSync = 0;
}

QString chooseDomainAtStartup()
{
    const QString domain = lumitagPrefsFileExists() ? kSharedDomain : kOwnDomain;
    setPrefsFile(domain);
    return domain;
}

QString prefsDomain()
{
    std::lock_guard lock(g_mutex);
    return g_domain;
}

bool lumitagPrefsFileExists()
{
    return QFileInfo::exists(Defaults::pathForDomain(kSharedDomain));
}

void synchPrefs()
{
    store().synchronize();
    std::lock_guard lock(g_mutex);
    g_lastSync = KLTimeUtil::now();
}

void synchPrefsIfItsBeenAWhile()
{
    {
        std::lock_guard lock(g_mutex);
        if (std::fabs(KLTimeUtil::now() - g_lastSync) < 10.0)
            return;
    }
    synchPrefs();
}

void forgetLastSynchronisation()
{
    std::lock_guard lock(g_mutex);
    g_lastSync = 0;
}

QStringList recentTags()
{
    synchPrefsIfItsBeenAWhile();
    return storedTags();
}

void updatePrefsRecentTags(const QStringList &oldTags, const QStringList &newTags)
{
    QStringList added;
    for (const QString &t : newTags) {
        if (!oldTags.contains(t))
            added.append(t);
    }
    if (added.isEmpty())
        return;

    ChangeLock changeLock;
    synchPrefs();
    const QStringList stored = storedTags();

    QHash<QString, QString> byKey;
    for (const QString &t : stored)
        byKey.insert(t.toLower(), t);
    for (const QString &t : added)
        byKey.insert(t.toLower(), t);

    QStringList result;
    for (const QStringList *list : std::initializer_list<const QStringList *>{&added, &stored}) {
        for (const QString &t : *list) {
            if (result.size() > kMaxRecentTags)
                break;
            const QString key = t.toLower();
            if (byKey.remove(key))
                result.append(t);
        }
    }
    writeTags(result);
}

void removeTagsFromRecents(const QStringList &tags)
{
    ChangeLock changeLock;
    synchPrefs();
    QSet<QString> drop;
    for (const QString &t : tags)
        drop.insert(t.toLower());
    QSet<QString> seen;
    QStringList result;
    for (const QString &t : storedTags()) {
        if (result.size() > kMaxRecentTags)
            break;
        const QString key = t.toLower();
        if (drop.contains(key) || seen.contains(key))
            continue;
        seen.insert(key);
        result.append(t);
    }
    writeTags(result);
}

} // namespace LumitagPrefs
