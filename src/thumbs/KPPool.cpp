#include "thumbs/KPPool.h"

#include <QSet>

namespace {

struct Pool {
    std::mutex mutex;
    QHash<QString, QString> byText; // text → canonical object
    QSet<const QChar *> canonical;  // the canonical objects themselves, by identity
    Pool()
    {
        byText.reserve(100000);
        canonical.reserve(100000);
    }
};

Pool &pool()
{
    static Pool p;
    return p;
}

// Caller holds the lock.
QString internLocked(Pool &p, const QString &s)
{
    if (p.canonical.contains(s.constData()))
        return s;
    auto it = p.byText.constFind(s);
    if (it != p.byText.cend())
        return it.value();
    // Take a private copy when `s` borrows memory it does not own (fromRawData): the canonical
    // buffer must live as long as the pool.
    // (Literals and raw data have no header in Qt 6; copying a literal costs one allocation.)
    QString keep = s;
    if (keep.data_ptr()->d_ptr() == nullptr && !keep.isEmpty())
        keep = QString(s.constData(), s.size());
    p.byText.insert(keep, keep);
    p.canonical.insert(keep.constData());
    return keep;
}

} // namespace

void KPPool::intializeGlobals()
{
    (void)pool();
}

QString KPPool::pooledString(const QString &s)
{
    if (s.isNull())
        return s;
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    return internLocked(p, s);
}

QString KPPool::existingPooledString(const QString &s)
{
    if (s.isNull())
        return {};
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    if (p.canonical.contains(s.constData()))
        return s;
    return p.byText.value(s);
}

QStringList KPPool::pooledArrayOfStrings(const QStringList &list)
{
    QStringList out;
    out.reserve(list.size());
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    for (const QString &s : list)
        out.append(s.isNull() ? s : internLocked(p, s));
    return out;
}

QStringList KPPool::pooledArrayOfStringsFromURLs(const QList<QUrl> &urls)
{
    QStringList paths;
    paths.reserve(urls.size());
    for (const QUrl &u : urls)
        paths.append(u.toLocalFile());
    return pooledArrayOfStrings(paths);
}

bool KPPool::isPooledString(const QString &s)
{
    if (s.isNull())
        return true;
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    return p.canonical.contains(s.constData());
}

qsizetype KPPool::count()
{
    Pool &p = pool();
    std::lock_guard lock(p.mutex);
    return p.byText.size();
}
