#include "recent/XPSimpleUtils.h"

#include "fileops/XPFileUtils.h"
#include "platform/Plist.h"
#include "util/MainThread.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QMultiHash>
#include <QThread>
#include <QVariantMap>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace XPSimpleUtils {

namespace {

const QString kFormatKey = QStringLiteral("KelsoBookmark");
constexpr int kFormatVersion = 1;

std::mutex g_renameMutex;
std::function<QString(const QString &)> g_renameLookup;

bool lstatPath(const QString &path, struct stat *st)
{
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), st) == 0;
}

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

bool isMainThread()
{
    return QCoreApplication::instance() && MainThread::isCurrent();
}

QByteArray encode(const BookmarkRecord &r)
{
    QVariantMap m;
    m.insert(kFormatKey, kFormatVersion);
    m.insert(QStringLiteral("path"), r.path);
    m.insert(QStringLiteral("device"), QVariant::fromValue<quint64>(r.device));
    m.insert(QStringLiteral("inode"), QVariant::fromValue<quint64>(r.inode));
    m.insert(QStringLiteral("size"), QVariant::fromValue<qint64>(r.size));
    m.insert(QStringLiteral("mtime"), QVariant::fromValue<qint64>(r.mtimeNs));
    return Plist::toBinary(m);
}

// The listings of an InodeLookupBatch: per folder, the names of its entries by inode.
struct FolderListings {
    QHash<QString, QMultiHash<quint64, QByteArray>> byFolder;
};
thread_local FolderListings *t_listings = nullptr;

// The path of `name` in `folder` when it is the file with `device` and `inode` and its name
// can be handed on unchanged.
QString entryIfSameFile(const QString &folder, int dirFd, const QByteArray &name, quint64 device, quint64 inode)
{
    struct stat st;
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return {};
    if (st.st_ino != inode || quint64(st.st_dev) != device)
        return {};
    const QString decoded = QFile::decodeName(name);
    if (QFile::encodeName(decoded) != name)
        return {}; // a name we could not hand on unchanged
    return folder == QLatin1String("/") ? QLatin1Char('/') + decoded : folder + QLatin1Char('/') + decoded;
}

bool isDotOrDotDot(const char *name)
{
    return qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0;
}

// Looks for the file with the recorded device and inode among the entries of `folder`.
QString findByInode(const QString &folder, quint64 device, quint64 inode)
{
    if (inode == 0 || folder.isEmpty())
        return {};
    const QByteArray dirBytes = QFile::encodeName(folder);
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(dirBytes.constData()), ::closedir);
    if (!dir)
        return {};
    const int fd = ::dirfd(dir.get());
    if (t_listings) {
        auto listed = t_listings->byFolder.find(folder);
        if (listed == t_listings->byFolder.end()) {
            QMultiHash<quint64, QByteArray> names;
            while (struct dirent *e = ::readdir(dir.get())) {
                if (!isDotOrDotDot(e->d_name))
                    names.insert(quint64(e->d_ino), QByteArray(e->d_name));
            }
            listed = t_listings->byFolder.insert(folder, names);
        }
        for (auto it = listed->constFind(inode); it != listed->cend() && it.key() == inode; ++it) {
            const QString found = entryIfSameFile(folder, fd, it.value(), device, inode);
            if (!found.isEmpty())
                return found;
        }
        return {};
    }
    while (struct dirent *e = ::readdir(dir.get())) {
        if (e->d_ino != inode || isDotOrDotDot(e->d_name))
            continue;
        const QString found = entryIfSameFile(folder, fd, QByteArray(e->d_name), device, inode);
        if (!found.isEmpty())
            return found;
    }
    return {};
}

// Parses the tagged part of a classic version-2 alias record: tag 18 is the POSIX path inside
// the volume, tag 19 the volume's POSIX mount point.
QString pathFromAliasRecord(const QByteArray &alias)
{
    constexpr int kHeader = 150;
    if (alias.size() < kHeader + 4)
        return {};
    auto u16 = [&](int at) { return (quint16(quint8(alias[at])) << 8) | quint8(alias[at + 1]); };
    if (u16(6) != 2) // record version
        return {};
    QString inVolume, volume;
    int at = kHeader;
    for (int guard = 0; guard < 64 && at + 4 <= alias.size(); ++guard) {
        const qint16 tag = qint16(u16(at));
        const int len = u16(at + 2);
        at += 4;
        if (tag == -1 || at + len > alias.size())
            break;
        const QByteArray value = alias.mid(at, len);
        if (tag == 18)
            inVolume = QString::fromUtf8(value);
        else if (tag == 19)
            volume = QString::fromUtf8(value);
        at += len + (len & 1);
    }
    if (inVolume.isEmpty())
        return {};
    if (!inVolume.startsWith(QLatin1Char('/')))
        inVolume.prepend(QLatin1Char('/'));
    if (volume.isEmpty() || volume == QLatin1String("/"))
        return inVolume;
    if (volume.endsWith(QLatin1Char('/')))
        volume.chop(1);
    return volume + inVolume;
}

} // namespace

BookmarkRecord bookmarkRecordForPath(const QString &path)
{
    struct stat st;
    if (!lstatPath(path, &st))
        return {};
    BookmarkRecord r;
    r.path = path;
    r.device = quint64(st.st_dev);
    r.inode = quint64(st.st_ino);
    r.size = qint64(st.st_size);
    r.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return r;
}

QByteArray encodeBookmark(const BookmarkRecord &record)
{
    return record.isValid() ? encode(record) : QByteArray();
}

QByteArray bookmarkDataForPath(const QString &path)
{
    return encodeBookmark(bookmarkRecordForPath(path));
}

QByteArray bookmarkDataForMissingPath(const QString &path)
{
    if (path.isEmpty())
        return {};
    BookmarkRecord r;
    r.path = path;
    return encode(r);
}

BookmarkRecord decodeBookmark(const QByteArray &data)
{
    BookmarkRecord r;
    if (data.isEmpty() || !Plist::isBinary(data))
        return r;
    const QVariant v = Plist::fromData(data);
    if (v.typeId() != QMetaType::QVariantMap)
        return r;
    const QVariantMap m = v.toMap();
    if (m.value(kFormatKey).toInt() != kFormatVersion)
        return r;
    const QString path = m.value(QStringLiteral("path")).toString();
    if (!path.startsWith(QLatin1Char('/')))
        return r;
    r.path = path;
    r.device = m.value(QStringLiteral("device")).toULongLong();
    r.inode = m.value(QStringLiteral("inode")).toULongLong();
    r.size = m.value(QStringLiteral("size")).toLongLong();
    r.mtimeNs = m.value(QStringLiteral("mtime")).toLongLong();
    return r;
}

QString resolveBookmarkDataToPath(const QByteArray &data, bool withUI)
{
    if (data.isEmpty())
        return {};
    if (withUI && !isMainThread())
        return {};
    const BookmarkRecord r = decodeBookmark(data);
    if (!r.isValid())
        return {};
    struct stat st;
    if (lstatPath(r.path, &st))
        return r.path;

    std::function<QString(const QString &)> lookup;
    {
        std::lock_guard lock(g_renameMutex);
        lookup = g_renameLookup;
    }
    if (lookup) {
        // A file may have been renamed more than once; follow a few hops, never in a circle.
        QString current = r.path;
        for (int hop = 0; hop < 8; ++hop) {
            const QString next = lookup(current);
            if (next.isEmpty() || next == current || next == r.path)
                break;
            if (lstatPath(next, &st)) {
                if (r.inode == 0 || (st.st_ino == r.inode && quint64(st.st_dev) == r.device))
                    return next;
            }
            current = next;
        }
    }
    return findByInode(parentOf(r.path), r.device, r.inode);
}

InodeLookupBatch::InodeLookupBatch() : m_outermost(t_listings == nullptr)
{
    if (m_outermost)
        t_listings = new FolderListings;
}

InodeLookupBatch::~InodeLookupBatch()
{
    if (m_outermost) {
        delete t_listings;
        t_listings = nullptr;
    }
}

int InodeLookupBatch::foldersListed()
{
    return t_listings ? int(t_listings->byFolder.size()) : 0;
}

QByteArray bookmarkDataFromAliasData(const QByteArray &alias, const QString &fallbackPath)
{
    if (decodeBookmark(alias).isValid())
        return alias;
    QString path = pathFromAliasRecord(alias);
    if (path.isEmpty())
        path = fallbackPath;
    if (path.isEmpty())
        return {};
    QByteArray made = bookmarkDataForPath(path);
    if (made.isEmpty())
        made = bookmarkDataForMissingPath(path);
    return made;
}

void setRenameLookup(std::function<QString(const QString &)> lookup)
{
    std::lock_guard lock(g_renameMutex);
    g_renameLookup = std::move(lookup);
}

bool isPathInPackage(const QString &path)
{
    QString p = parentOf(path);
    while (p.size() > 1) {
        if (XPFileUtils::isPackage(p))
            return true;
        p = parentOf(p);
    }
    return false;
}

bool isPathInPackageOrIsPackage(const QString &path)
{
    return XPFileUtils::isPackage(path) || isPathInPackage(path);
}

} // namespace XPSimpleUtils
