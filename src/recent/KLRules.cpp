#include "recent/KLRules.h"

#include "fileops/XPFileUtils.h"
#include "platform/Defaults.h"
#include "recent/KLItem.h"
#include "util/MainThread.h"
#include "util/Tilde.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QThread>
#include <atomic>
#include <optional>
#include <sys/stat.h>

namespace {

const QString kRemovableUnderRun = QStringLiteral("/run/media/");

// Kernel-provided trees: records there are never about the user's files.
const char *const kCullPrefixes[] = {"/proc/", "/sys/", "/dev/", "/run/"};
// Anywhere in the path.
const char *const kCullSubstrings[] = {"/.", ".inProgress"};

const QStringList &systemRoots()
{
    static const QStringList roots = {
        QStringLiteral("/tmp"),        QStringLiteral("/proc"),  QStringLiteral("/sys"),   QStringLiteral("/dev"),
        QStringLiteral("/run"),        QStringLiteral("/boot"),  QStringLiteral("/bin"),   QStringLiteral("/sbin"),
        QStringLiteral("/lib"),        QStringLiteral("/lib32"), QStringLiteral("/lib64"), QStringLiteral("/libx32"),
        QStringLiteral("/usr"),        QStringLiteral("/etc"),   QStringLiteral("/var"),   QStringLiteral("/snap"),
        QStringLiteral("/lost+found"), QStringLiteral("/net"),   QStringLiteral("/cores")};
    return roots;
}

// The hard-coded include, always-allowed and refused lists, tested in one pass: every entry
// begins with "/", so "contains" is "some '/' of the path starts the entry".
//   include:  "/Library/Mail Downloads", "/Library/Application Support/Wendle/Pending"
//   allowed:  "/Library/Mobile Documents", "/Library/CloudStorage"
//   refused:  "/Library/Containers", "/Library/", "/snap/", "/Backups.backupdb/",
//             "/Music/iTunes", "/System/Volumes", "/."
struct HardCodedScan {
    bool include = false;
    bool allowed = false;
    bool refused = false;
};

HardCodedScan scanHardCoded(const QString &path)
{
    HardCodedScan r;
    const QStringView p(path);
    for (qsizetype i = p.indexOf(QLatin1Char('/')); i >= 0 && i + 1 < p.size();
         i = p.indexOf(QLatin1Char('/'), i + 1)) {
        const QStringView rest = p.mid(i);
        switch (p[i + 1].unicode()) {
        case 'L':
            if (rest.startsWith(QLatin1String("/Library/"))) {
                r.refused = true;
                if (rest.startsWith(QLatin1String("/Library/Mail Downloads")) ||
                    rest.startsWith(QLatin1String("/Library/Application Support/Wendle/Pending")))
                    r.include = true;
                else if (rest.startsWith(QLatin1String("/Library/Mobile Documents")) ||
                         rest.startsWith(QLatin1String("/Library/CloudStorage")))
                    r.allowed = true;
            }
            break;
        case 's':
            if (rest.startsWith(QLatin1String("/snap/")))
                r.refused = true;
            break;
        case 'B':
            if (rest.startsWith(QLatin1String("/Backups.backupdb/")))
                r.refused = true;
            break;
        case 'M':
            if (rest.startsWith(QLatin1String("/Music/iTunes")))
                r.refused = true;
            break;
        case 'S':
            if (rest.startsWith(QLatin1String("/System/Volumes")))
                r.refused = true;
            break;
        case '.':
            r.refused = true;
            break;
        default:
            break;
        }
    }
    return r;
}

const QStringList &unwantedPackageSuffixes()
{
    static const QStringList list = {QStringLiteral("Photos Library.photoslibrary"), QStringLiteral(".aplibrary")};
    return list;
}

bool beginsWithAny(const QString &path, const QStringList &prefixes)
{
    for (const QString &p : prefixes) {
        if (!p.isEmpty() && path.startsWith(p))
            return true;
    }
    return false;
}

bool containsAny(const QString &path, const QStringList &parts)
{
    for (const QString &p : parts) {
        if (!p.isEmpty() && path.contains(p))
            return true;
    }
    return false;
}

QStringList stringList(Defaults &d, const QString &key, bool expandTilde)
{
    const QVariant v = d.value(key);
    QStringList out;
    if (v.typeId() != QMetaType::QVariantList && v.typeId() != QMetaType::QStringList)
        return out; // absent or not an array: nothing included or excluded by it
    for (const QVariant &e : v.toList()) {
        if (e.typeId() != QMetaType::QString)
            continue;
        QString s = e.toString();
        if (s.isEmpty())
            continue;
        if (expandTilde && s.startsWith(QLatin1Char('~'))) {
            s = PimsAdditions::stringByExpandingTildeInPathSANDBOX(s);
            if (s.size() > 1 && s.endsWith(QLatin1Char('/')))
                s.chop(1);
        }
        out.append(s);
    }
    return out;
}

QString userLibraryFolder()
{
    // Filled once per process, before first use.
    static const QString lib = PimsAdditions::realHomeDirectory() + QStringLiteral("/Library");
    return lib;
}

// What was last seen of a folder's ".hidden" file. A folder without one is remembered too
// (present = false), so that memory-only answers know about it.
struct HiddenEntry {
    bool present = false;
    qint64 mtimeNs = 0;
    qint64 size = 0;
    QSet<QString> names;
};
std::mutex g_hiddenMutex;
QHash<QString, HiddenEntry> g_hiddenCache; // folder → entry
std::atomic<int> g_hiddenReadsOnMainThread{0};

void countIfMainThread()
{
    if (QCoreApplication::instance() && MainThread::isCurrent())
        ++g_hiddenReadsOnMainThread;
}

void rememberHiddenEntry(const QString &folder, HiddenEntry entry)
{
    std::lock_guard lock(g_hiddenMutex);
    if (g_hiddenCache.size() > 1024 && !g_hiddenCache.contains(folder))
        g_hiddenCache.clear();
    g_hiddenCache.insert(folder, std::move(entry));
}

} // namespace

const QString KLRules::kNeverShowFolders = QStringLiteral("Never show folders");

const QStringList &KLRules::observedKeys()
{
    static const QStringList keys = {QStringLiteral("wantedDirectories"), QStringLiteral("unwantedDirectories"),
                                     QStringLiteral("unwantedExtensions"), QStringLiteral("unwantedPathFragments"),
                                     QStringLiteral("unwantedItems")};
    return keys;
}

KLRules::KLRules(Defaults &defaults) : m_defaults(defaults) {}

void KLRules::loadPrefs()
{
    // Read the settings before taking the lock: Defaults has its own lock.
    QStringList wanted = stringList(m_defaults, QStringLiteral("wantedDirectories"), true);
    QStringList unwanted = stringList(m_defaults, QStringLiteral("unwantedDirectories"), true);
    QStringList extensions = stringList(m_defaults, QStringLiteral("unwantedExtensions"), false);
    QStringList fragments = stringList(m_defaults, QStringLiteral("unwantedPathFragments"), false);
    QStringList items = stringList(m_defaults, QStringLiteral("unwantedItems"), true);
    std::lock_guard lock(_lockForPrefs);
    m_wantedDirectories = std::move(wanted);
    m_unwantedDirectories = std::move(unwanted);
    m_unwantedExtensions = std::move(extensions);
    m_unwantedPathFragments = std::move(fragments);
    m_unwantedItems = std::move(items);
}

KLRules::Snapshot KLRules::snapshot() const
{
    Snapshot snap;
    std::lock_guard lock(_lockForPrefs);
    snap.wantedDirectories = m_wantedDirectories;
    snap.unwantedDirectories = m_unwantedDirectories;
    snap.unwantedPathFragments = m_unwantedPathFragments;
    snap.unwantedItems = m_unwantedItems;
    for (const QString &e : m_unwantedExtensions) {
        if (e == kNeverShowFolders)
            snap.neverShowFolders = true;
        else if (e == e.toLower())
            snap.unwantedExtensions.append(e);
    }
    return snap;
}

bool KLRules::folderIncluded(const QString &path, const Snapshot &rules)
{
    if (beginsWithAny(path, rules.wantedDirectories))
        return true;
    if (beginsWithAny(path, rules.unwantedDirectories))
        return false;
    const HardCodedScan scan = scanHardCoded(path);
    if (scan.include)
        return true;
    if (!rules.unwantedPathFragments.isEmpty() && !passesFragments(path + QLatin1Char('/'), rules))
        return false;
    if (excludesSingleFile(path, rules))
        return false;
    return scan.allowed || !scan.refused;
}

bool KLRules::itemIncluded(const std::shared_ptr<KLItem> &item, const Snapshot &rules)
{
    if (!item)
        return false;
    const KLItem::RuleFacts facts = item->ruleFacts();
    if (facts.invisible || !facts.exists || facts.path.isEmpty())
        return false;
    // The extension rule on the item's cached facts: "Never show folders" asks the item whether
    // it is a folder instead of the disk (this runs on the main thread for every ranked file).
    const qsizetype slash = facts.path.lastIndexOf(QLatin1Char('/'));
    const QStringView name = QStringView(facts.path).mid(slash + 1);
    if (hasUnwantedExtension(name, rules))
        return false;
    if (rules.neverShowFolders && facts.isFolder.value_or(false)) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot <= 0 || !XPFileUtils::isPackageExtension(name.mid(dot + 1).toString()))
            return false;
    }
    return folderIncluded(facts.path, rules) && passesFragments(facts.path, rules) &&
           !excludesSingleFile(facts.path, rules) && !isSystemFile(item);
}

bool KLRules::passesExtensions(const QString &path, const Snapshot &rules)
{
    if (path.isEmpty())
        return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (hasUnwantedExtension(QStringView(path).mid(slash + 1), rules))
        return false;
    if (rules.neverShowFolders) {
        struct stat st;
        if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
            !XPFileUtils::isPackage(path))
            return false;
    }
    return true;
}

bool KLRules::hasUnwantedExtension(QStringView fileName, const Snapshot &rules)
{
    if (rules.unwantedExtensions.isEmpty())
        return false;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return false;
    const QStringView ext = fileName.mid(dot + 1);
    if (ext.isEmpty())
        return false;
    // The entries are lower case, so a case-insensitive comparison is "entry == lowered ext".
    for (const QString &entry : rules.unwantedExtensions) {
        if (ext.compare(entry, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool KLRules::passesFragments(const QString &path, const Snapshot &rules)
{
    return !path.isEmpty() && !containsAny(path, rules.unwantedPathFragments);
}

bool KLRules::excludesSingleFile(const QString &path, const Snapshot &rules)
{
    return path.endsWith(QLatin1String("Photos Library.photoslibrary")) || rules.unwantedItems.contains(path);
}

bool KLRules::userWantsFolderIncluded(const QString &path) const
{
    return folderIncluded(path, snapshot());
}

bool KLRules::userWantsItemIncluded(const std::shared_ptr<KLItem> &item) const
{
    return itemIncluded(item, snapshot());
}

bool KLRules::pathInPrefIncludeSet(const QString &path) const
{
    std::lock_guard lock(_lockForPrefs);
    return beginsWithAny(path, m_wantedDirectories);
}

bool KLRules::passesPrefExcludePaths(const QString &path) const
{
    std::lock_guard lock(_lockForPrefs);
    return !beginsWithAny(path, m_unwantedDirectories);
}

bool KLRules::userExcludesSingleFile(const QString &path) const
{
    if (path.endsWith(QLatin1String("Photos Library.photoslibrary")))
        return true;
    std::lock_guard lock(_lockForPrefs);
    return m_unwantedItems.contains(path);
}

QString KLRules::filterOutUnwantedExtensions(const QString &path) const
{
    return passesExtensions(path, snapshot()) ? path : QString();
}

QString KLRules::filterOutUnwantedPathFragments(const QString &path) const
{
    if (path.isEmpty())
        return {};
    std::lock_guard lock(_lockForPrefs);
    if (containsAny(path, m_unwantedPathFragments))
        return {};
    return path;
}

bool KLRules::pathInHardCodedIncludeSet(const QString &path)
{
    return scanHardCoded(path).include;
}

bool KLRules::passesHardCodedExcludePaths(const QString &path)
{
    const HardCodedScan scan = scanHardCoded(path);
    return scan.allowed || !scan.refused;
}

QString KLRules::filterOutUnwantedPackages(const QString &path)
{
    for (const QString &suffix : unwantedPackageSuffixes()) {
        if (path.endsWith(suffix))
            return {};
    }
    return path;
}

bool KLRules::isSystemFile(const std::shared_ptr<KLItem> &item)
{
    if (!item)
        return true;
    // Only the metadata index could tell a support file inside a Library folder; Kelso's
    // index does not record that attribute, so nothing is a system file by that test.
    return false;
}

bool KLRules::cullPrivateAndInvisibleEtc(const QByteArray &pathBytes)
{
    for (const char *prefix : kCullPrefixes) {
        if (pathBytes.startsWith(prefix)) {
            if (pathBytes.startsWith("/run/media/"))
                continue;
            return true;
        }
    }
    for (const char *part : kCullSubstrings) {
        if (pathBytes.contains(part))
            return true;
    }
    return false;
}

bool KLRules::isUnderSystemRoot(const QString &path)
{
    if (path.startsWith(kRemovableUnderRun))
        return false;
    for (const QString &root : systemRoots()) {
        if (path == root ||
            (path.startsWith(root) && path.size() > root.size() && path.at(root.size()) == QLatin1Char('/')))
            return true;
    }
    return false;
}

QSet<QString> KLRules::hiddenNamesInFolder(const QString &folder)
{
    const QString file = (folder == QLatin1String("/") ? QString() : folder) + QStringLiteral("/.hidden");
    const QByteArray fileBytes = QFile::encodeName(file);
    countIfMainThread();
    struct stat st;
    if (::stat(fileBytes.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        rememberHiddenEntry(folder, HiddenEntry{});
        return {};
    }
    const qint64 mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    {
        std::lock_guard lock(g_hiddenMutex);
        auto it = g_hiddenCache.constFind(folder);
        if (it != g_hiddenCache.cend() && it->present && it->mtimeNs == mtimeNs && it->size == qint64(st.st_size))
            return it->names;
    }
    HiddenEntry entry;
    entry.present = true;
    entry.mtimeNs = mtimeNs;
    entry.size = qint64(st.st_size);
    QFile f(file);
    // A .hidden file is a short list of names; refuse to read something huge.
    if (st.st_size <= 1024 * 1024 && f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = f.readAll().split('\n');
        for (QByteArray line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (!line.isEmpty())
                entry.names.insert(QFile::decodeName(line));
        }
    }
    const QSet<QString> names = entry.names;
    rememberHiddenEntry(folder, std::move(entry));
    return names;
}

namespace {
// The parts of the invisibility rule that need no file: answers true/false, or nothing when
// the folder's ".hidden" file decides (then `folder` and `name` are set).
std::optional<bool> invisibleByPath(const QString &path, QString *folder, QString *name)
{
    if (path.isEmpty())
        return true;
    if (path.contains(QLatin1String("/.")))
        return true;
    if (KLRules::isUnderSystemRoot(path))
        return true;
    if (path.contains(userLibraryFolder()))
        return false;
    if (path == QLatin1String("/"))
        return false;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    *folder = slash <= 0 ? QStringLiteral("/") : path.left(slash);
    *name = path.mid(slash + 1);
    return std::nullopt;
}
} // namespace

int KLRules::hiddenFileLookupsOnMainThread()
{
    return g_hiddenReadsOnMainThread.load();
}

bool KLRules::isInvisibleFromMemory(const QString &path, bool *settled)
{
    QString folder, name;
    if (const std::optional<bool> answer = invisibleByPath(path, &folder, &name)) {
        if (settled)
            *settled = true;
        return *answer;
    }
    if (settled)
        *settled = false;
    std::lock_guard lock(g_hiddenMutex);
    auto it = g_hiddenCache.constFind(folder);
    return it != g_hiddenCache.cend() && it->names.contains(name);
}

bool KLRules::isInvisible(const QString &path)
{
    QString folder, name;
    if (const std::optional<bool> answer = invisibleByPath(path, &folder, &name))
        return *answer;
    return hiddenNamesInFolder(folder).contains(name);
}

QStringList KLRules::wantedDirectories() const
{
    std::lock_guard lock(_lockForPrefs);
    return m_wantedDirectories;
}

QStringList KLRules::unwantedDirectories() const
{
    std::lock_guard lock(_lockForPrefs);
    return m_unwantedDirectories;
}

QStringList KLRules::unwantedExtensions() const
{
    std::lock_guard lock(_lockForPrefs);
    return m_unwantedExtensions;
}

QStringList KLRules::unwantedPathFragments() const
{
    std::lock_guard lock(_lockForPrefs);
    return m_unwantedPathFragments;
}

QStringList KLRules::unwantedItems() const
{
    std::lock_guard lock(_lockForPrefs);
    return m_unwantedItems;
}
