#include "recent/KLChangedFolders.h"

namespace {

// `path` is `root` or lies below it.
bool isAtOrBelow(const QString &path, const QString &root)
{
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path.startsWith(root) && (path.size() == root.size() || path.at(root.size()) == QLatin1Char('/'));
}

} // namespace

bool KLChangedFolders::Coverage::covers(const QString &path) const
{
    for (const QString &prefix : excluded) {
        if (path.startsWith(prefix) || (path + QLatin1Char('/')).startsWith(prefix))
            return false;
    }
    for (const QString &root : roots) {
        if (!isAtOrBelow(path, root))
            continue;
        // Hidden folders are not watched: a file whose folder (or a folder above it, below the
        // root) is hidden hears of no change. The file's own name may be hidden.
        // (Below "/" the path is looked at from its first slash.)
        const qsizetype from = root == QLatin1String("/") ? 0 : root.size();
        const qsizetype lastSlash = path.lastIndexOf(QLatin1Char('/'));
        const QString below = path.mid(from, lastSlash - from + 1);
        return !below.contains(QLatin1String("/."));
    }
    return false;
}

KLChangedFolders::Coverage KLChangedFolders::coverageOf(const QVariantMap &streamStatus, const QStringList &excluded,
                                                        const QStringList &mountPoints)
{
    Coverage c;
    if (!streamStatus.value(QStringLiteral("active")).toBool() ||
        streamStatus.value(QStringLiteral("unwatchedFolders")).toInt() > 0 ||
        !streamStatus.value(QStringLiteral("problem")).toString().isEmpty())
        return c;
    const QStringList topOnly = streamStatus.value(QStringLiteral("topOnlyRoots")).toStringList();
    for (const QString &root : streamStatus.value(QStringLiteral("roots")).toStringList()) {
        if (!topOnly.contains(root))
            c.roots.append(root);
    }
    c.excluded = excluded;
    // Another file system mounted inside a root may not report its changes the way the root's
    // does (a watch on a whole file system stops at its edge; network and user-space file systems
    // report only local changes).
    for (const QString &mountPoint : mountPoints) {
        for (const QString &root : std::as_const(c.roots)) {
            if (mountPoint != root && isAtOrBelow(mountPoint, root)) {
                c.excluded.append(mountPoint + QLatin1Char('/'));
                break;
            }
        }
    }
    return c;
}

void KLChangedFolders::noteChanged(const QString &folder, KLTime at)
{
    std::lock_guard lock(m_lock);
    KLTime &t = m_changedAt[folder];
    t = std::max(t, at);
}

bool KLChangedFolders::mayHaveChanged(const QString &path, KLTime checkedAt, KLTime now, const Coverage &coverage) const
{
    if (checkedAt == 0 || now - checkedAt > m_maxAge || now < checkedAt || !coverage.covers(path))
        return true;
    std::lock_guard lock(m_lock);
    // The file itself (a folder item hears of changes inside it), its folder and every folder
    // above: a rename or deletion higher up moves or removes it too.
    QString at = path;
    while (true) {
        const auto it = m_changedAt.constFind(at);
        if (it != m_changedAt.cend() && it.value() >= checkedAt)
            return true;
        const qsizetype slash = at.lastIndexOf(QLatin1Char('/'));
        if (slash < 0 || at == QLatin1String("/"))
            return false;
        at.truncate(slash == 0 ? 1 : slash);
    }
}

void KLChangedFolders::forgetOld(KLTime now)
{
    std::lock_guard lock(m_lock);
    m_changedAt.removeIf([&](const auto &entry) { return now - entry.value() > m_maxAge; });
}

int KLChangedFolders::size() const
{
    std::lock_guard lock(m_lock);
    return int(m_changedAt.size());
}
