#include "tags/LumitagPrefs.h"

#include "platform/Defaults.h"
#include "platform/StoreFile.h"
#include "util/KLTime.h"
#include "util/Logging.h"
#include "util/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
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
// lock is only held inside one synchronisation, so it cannot span the whole cycle. The lock file
// lives in Kelso's private folder (0700, the file 0600), not beside the shared domain's file.
// A change that cannot take the lock is not made: writing without it could drop the tags
// another process is adding at that moment.
class ChangeLock
{
public:
    explicit ChangeLock(const QString &domain)
        : m_folder(KLPaths::applicationSupportFolder()),
          m_lock(m_folder + QLatin1Char('/') + domain + QStringLiteral(".tags-lock"))
    {
    }
    bool take()
    {
        QString why;
        pid_t holder = 0;
        Defaults::SettingsLock::Outcome outcome = Defaults::SettingsLock::Failed;
        if (StoreFile::preparePrivateFolder(m_folder, &why))
            outcome = m_lock.acquire(kChangeLockWaitMs, &holder, &why);
        switch (outcome) {
        case Defaults::SettingsLock::Locked:
            return true;
        case Defaults::SettingsLock::HolderStopped:
            qCWarning(lcTags, "recent tags not changed: process %d holds their lock and is stopped", int(holder));
            break;
        case Defaults::SettingsLock::Busy:
            qCWarning(lcTags, "recent tags not changed: process %d held their lock for %d s", int(holder),
                      kChangeLockWaitMs / 1000);
            break;
        case Defaults::SettingsLock::Failed:
            qCWarning(lcTags, "recent tags not changed: their lock in %s cannot be taken (%s)",
                      qUtf8Printable(m_folder), qUtf8Printable(why));
            break;
        }
        return false;
    }

private:
    static constexpr int kChangeLockWaitMs = 10000;
    QString m_folder;
    Defaults::SettingsLock m_lock;
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

bool updatePrefsRecentTags(const QStringList &oldTags, const QStringList &newTags)
{
    QStringList added;
    for (const QString &t : newTags) {
        if (!oldTags.contains(t))
            added.append(t);
    }
    if (added.isEmpty())
        return true;

    ChangeLock changeLock(prefsDomain());
    if (!changeLock.take())
        return false;
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
    return true;
}

bool removeTagsFromRecents(const QStringList &tags)
{
    ChangeLock changeLock(prefsDomain());
    if (!changeLock.take())
        return false;
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
    return true;
}

} // namespace LumitagPrefs
