#include "recent/KLOpenedFilesSource.h"

#include "util/FileUrls.h"
#include "util/Logging.h"
#include "util/SkippedNames.h"
#include "util/Tilde.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QTimer>
#include <QUrl>
#include <QXmlStreamReader>
#include <QtConcurrent/QtConcurrentRun>
#include <sys/stat.h>

const QString KLOpenedFilesQuery::kOpenedFilesQueryText =
    QStringLiteral("(kMDItemLastUsedDate > $time.now) && (kMDItemSupportFileType != 'MDSystemFile')");
const QString KLOpenedFilesQuery::kUpdateAddedItems = QStringLiteral("kMDQueryUpdateAddedItems");
const QString KLOpenedFilesQuery::kUpdateChangedItems = QStringLiteral("kMDQueryUpdateChangedItems");
const QString KLOpenedFilesQuery::kUpdateRemovedItems = QStringLiteral("kMDQueryUpdateRemovedItems");
const QString KLOpenedFilesQuery::kItemPath = QStringLiteral("kMDItemPath");
const QString KLOpenedFilesQuery::kItemLastUsedDate = QStringLiteral("kMDItemLastUsedDate");

std::unique_ptr<KLOpenedFilesQuery> KLOpenedFilesQuery::create(const QString &queryText, QObject *parent)
{
    if (queryText.simplified() == kOpenedFilesQueryText)
        return std::make_unique<KLOpenedFilesSource>(parent);
    return nullptr;
}

namespace {

constexpr int kDebounceMs = 250;
constexpr int kRewatchMs = 60 * 1000;
constexpr qint64 kMaxXbelBytes = 64 * 1024 * 1024;

QString dataHome()
{
    const QString env = qEnvironmentVariable("XDG_DATA_HOME");
    if (env.startsWith(QLatin1Char('/')))
        return env;
    return PimsAdditions::realHomeDirectory() + QStringLiteral("/.local/share");
}

QString flatpakAppsFolder()
{
    return PimsAdditions::realHomeDirectory() + QStringLiteral("/.var/app");
}

bool parseIsoTime(const QStringView text, KLTime *out)
{
    if (text.isEmpty())
        return false;
    QDateTime dt = QDateTime::fromString(text.toString(), Qt::ISODateWithMs);
    if (!dt.isValid())
        dt = QDateTime::fromString(text.toString(), Qt::ISODate);
    if (!dt.isValid() || dt.toSecsSinceEpoch() <= 0)
        return false;
    *out = KLTimeUtil::fromDateTime(dt);
    return true;
}

// The local path of a file URL of this machine, or empty (another host's file is not one of
// ours, whatever its path). Names whose bytes are not valid UTF-8 are refused (counted) rather
// than mangled into another name.
QString localPathOfHref(const QString &href, int *skipped)
{
    if (!href.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return {};
    const QUrl url(href);
    if (!FileUrls::namesThisMachine(url))
        return {};
    const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    if (!bytes.startsWith('/'))
        return {};
    const QString path = QString::fromUtf8(bytes);
    if (path.toUtf8() != bytes || QFile::encodeName(QFile::decodeName(bytes)) != bytes ||
        path.contains(QChar(0xFFFD))) {
        if (skipped)
            ++*skipped;
        return {};
    }
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    return clean;
}

} // namespace

KLOpenedFilesSource::KLOpenedFilesSource(QObject *parent) : KLOpenedFilesQuery(parent)
{
    m_scopeRoot = PimsAdditions::realHomeDirectory();
}

KLOpenedFilesSource::~KLOpenedFilesSource()
{
    stop();
}

void KLOpenedFilesSource::setSearchScope(Scope)
{
    m_scopeRoot = PimsAdditions::realHomeDirectory();
}

QStringList KLOpenedFilesSource::recentlyUsedFiles()
{
    QStringList files{dataHome() + QStringLiteral("/recently-used.xbel")};
    const QDir apps(flatpakAppsFolder());
    const QStringList ids = apps.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString &id : ids)
        files.append(apps.filePath(id) + QStringLiteral("/data/recently-used.xbel"));
    return files;
}

QList<KLRecentlyUsedEntry> KLOpenedFilesSource::parseRecentlyUsed(const QByteArray &xml, int *skippedNames)
{
    QList<KLRecentlyUsedEntry> out;
    QXmlStreamReader reader(xml);
    bool inBookmark = false;
    KLRecentlyUsedEntry current;
    bool currentValid = false;
    auto takeTime = [&](KLTime t) {
        if (t > current.time)
            current.time = t;
    };
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QStringView name = reader.name();
            const QXmlStreamAttributes attrs = reader.attributes();
            if (name == QLatin1String("bookmark") && reader.qualifiedName() == QLatin1String("bookmark")) {
                inBookmark = true;
                current = KLRecentlyUsedEntry();
                current.path = localPathOfHref(attrs.value(QLatin1String("href")).toString(), skippedNames);
                currentValid = !current.path.isEmpty();
                KLTime t;
                if (parseIsoTime(attrs.value(QLatin1String("visited")), &t))
                    takeTime(t);
                if (parseIsoTime(attrs.value(QLatin1String("modified")), &t))
                    takeTime(t);
            } else if (inBookmark && name == QLatin1String("application")) {
                KLTime t;
                if (parseIsoTime(attrs.value(QLatin1String("modified")), &t))
                    takeTime(t);
                bool ok = false;
                const qint64 stamp = attrs.value(QLatin1String("timestamp")).toLongLong(&ok);
                if (ok && stamp > 0)
                    takeTime(KLTimeUtil::fromUnix(double(stamp)));
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (inBookmark && reader.qualifiedName() == QLatin1String("bookmark")) {
                if (currentValid && current.time != 0)
                    out.append(current);
                inBookmark = false;
                currentValid = false;
            }
        }
    }
    // A truncated or broken file keeps what parsed before the error; an open bookmark at the
    // point of the error is dropped, since its times may be incomplete.
    return out;
}

bool KLOpenedFilesSource::execute()
{
    if (m_running)
        return true;
    m_running = true;
    m_startTime = KLTimeUtil::now();
    m_watcher = new QFileSystemWatcher(this);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &KLOpenedFilesSource::scheduleRead);
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &KLOpenedFilesSource::scheduleRead);
    m_debounce = new QTimer(this);
    m_debounce->setSingleShot(true);
    m_debounce->setInterval(kDebounceMs);
    connect(m_debounce, &QTimer::timeout, this, &KLOpenedFilesSource::startRead);
    // Folders that appear later (a first GTK application, a new Flatpak app) get watched here.
    // The folders are listed by the read on the worker; the main thread only adds the watches.
    m_rewatch = new QTimer(this);
    m_rewatch->setInterval(kRewatchMs);
    connect(m_rewatch, &QTimer::timeout, this, [this] {
        m_refusedWatches.clear(); // folders the watcher refused are tried again now and then
        scheduleRead();
    });
    m_rewatch->start();
    m_future = new QFutureWatcher<ReadResult>(this);
    connect(m_future, &QFutureWatcher<ReadResult>::finished, this, &KLOpenedFilesSource::readDone);
    startRead(); // the baseline: nothing before the start time is reported; sets the watches
    return true;
}

void KLOpenedFilesSource::stop()
{
    if (!m_running)
        return;
    m_running = false;
    if (m_future && m_future->isRunning())
        m_future->waitForFinished();
    delete m_watcher;
    m_watcher = nullptr;
    delete m_debounce;
    m_debounce = nullptr;
    delete m_rewatch;
    m_rewatch = nullptr;
    delete m_future;
    m_future = nullptr;
}

QStringList KLOpenedFilesSource::foldersToWatch(const QStringList &files)
{
    QStringList folders{dataHome(), flatpakAppsFolder()};
    for (const QString &file : files)
        folders.append(QFileInfo(file).absolutePath());
    folders.removeDuplicates();
    QStringList existing;
    for (const QString &f : std::as_const(folders)) {
        if (QFileInfo(f).isDir())
            existing.append(f);
    }
    return existing;
}

bool KLOpenedFilesSource::updateWatches(const QStringList &folders)
{
    if (!m_watcher)
        return false;
    // Only folders not watched yet reach the watcher (which examines each path it is given):
    // in the steady state this touches nothing on disk.
    // A folder the watcher refuses (no permission, out of inotify watches) is not tried again
    // until the minutely look-again, or every read would ask for another read.
    const QStringList watched = m_watcher->directories();
    QStringList toAdd;
    for (const QString &f : folders) {
        if (!watched.contains(f) && !m_refusedWatches.contains(f))
            toAdd.append(f);
    }
    if (toAdd.isEmpty())
        return false;
    const QStringList refused = m_watcher->addPaths(toAdd);
    for (const QString &f : refused)
        m_refusedWatches.insert(f);
    return refused.size() < toAdd.size();
}

void KLOpenedFilesSource::scheduleRead()
{
    if (!m_running)
        return;
    // A new application folder under ~/.var/app is found by the read and watched then.
    m_debounce->start();
}

void KLOpenedFilesSource::rereadNow()
{
    if (!m_running)
        return;
    if (m_future->isRunning()) {
        m_future->waitForFinished();
        QCoreApplication::sendPostedEvents(m_future);
    }
    startRead();
    m_future->waitForFinished();
    QCoreApplication::sendPostedEvents(m_future);
}

void KLOpenedFilesSource::startRead()
{
    if (!m_running)
        return;
    if (m_future->isRunning()) {
        m_readPending = true; // read again when this one is done
        return;
    }
    m_readPending = false;
    const QHash<QString, FileStamp> known = m_stamps;
    // Listing ~/.var/app and examining the folders is disk work: all of it on the worker.
    m_future->setFuture(QtConcurrent::run([known] {
        const QStringList files = recentlyUsedFiles();
        ReadResult result = readFiles(files, known);
        result.folders = foldersToWatch(files);
        return result;
    }));
}

KLOpenedFilesSource::ReadResult KLOpenedFilesSource::readFiles(const QStringList &files,
                                                               const QHash<QString, FileStamp> &known)
{
    ReadResult result;
    for (const QString &file : files) {
        struct stat st;
        if (::stat(QFile::encodeName(file).constData(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        FileStamp stamp;
        stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
        stamp.size = qint64(st.st_size);
        stamp.inode = quint64(st.st_ino);
        result.stamps.insert(file, stamp);
        if (known.value(file) == stamp)
            continue;
        if (stamp.size > kMaxXbelBytes) {
            qCWarning(lcRecent, "%s is too large to read (%lld bytes)", qUtf8Printable(file), qint64(stamp.size));
            continue;
        }
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            qCWarning(lcRecent, "cannot read %s: %s", qUtf8Printable(file), qUtf8Printable(f.errorString()));
            continue;
        }
        int skipped = 0;
        result.entries.insert(file, parseRecentlyUsed(f.readAll(), &skipped));
        // The file is read again on every opening any program records: told once per count.
        if (skipped > 0 && SkippedNames::firstReport(QFile::encodeName(file), skipped, 0))
            qCWarning(lcRecent, "skipped %d recently used entries in %s whose names are not valid UTF-8", skipped,
                      qUtf8Printable(file));
    }
    return result;
}

void KLOpenedFilesSource::readDone()
{
    if (!m_running || !m_future)
        return;
    const ReadResult result = m_future->result();
    m_stamps = result.stamps;
    // A folder watched only now may have changed between its listing and the watch: one more
    // read (debounced) catches that.
    if (updateWatches(result.folders))
        m_readPending = true;
    QVariantList added, changed;
    const QString scopePrefix = m_scopeRoot == QLatin1String("/") ? m_scopeRoot : m_scopeRoot + QLatin1Char('/');
    for (auto it = result.entries.cbegin(); it != result.entries.cend(); ++it) {
        for (const KLRecentlyUsedEntry &e : it.value()) {
            if (e.time <= m_startTime)
                continue;
            if (!e.path.startsWith(scopePrefix))
                continue;
            auto reported = m_reported.find(e.path);
            if (reported != m_reported.end() && e.time <= reported.value())
                continue;
            QVariantMap item{{kItemPath, e.path}, {kItemLastUsedDate, e.time}};
            if (reported == m_reported.end()) {
                m_reported.insert(e.path, e.time);
                added.append(item);
            } else {
                reported.value() = e.time;
                changed.append(item);
            }
        }
    }
    Q_EMIT progress();
    if (!added.isEmpty() || !changed.isEmpty())
        Q_EMIT updated(QVariantMap{
            {kUpdateAddedItems, added}, {kUpdateChangedItems, changed}, {kUpdateRemovedItems, QVariantList()}});
    if (m_readPending)
        startRead();
}
