#include "cooler/KLCoolerStore.h"

#include "recent/KLRecentListFormat.h"
#include "recent/KLSaveFileLeftovers.h"

#include "cooler/KLItemListOps.h"
#include "platform/Plist.h"
#include "platform/PlistFile.h"
#include "platform/StoreFile.h"
#include "util/Logging.h"
#include "util/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <mutex>

namespace KLCoolerStore {

namespace {
const QString kVersionKey = QStringLiteral("version");
const QString kItemsKey = QStringLiteral("items");

// Writes and the sweep of leftovers: the sweep must never take a live write's temporary file.
std::mutex g_writeMutex;

struct ReadResult {
    QList<KLItemPtr> items;
    ReadStatus status = ReadStatus::Missing;
    QString why;
};

// The one read ahead of the process, until read() takes it.
std::mutex g_aheadMutex;
QString g_aheadPath;
QFuture<ReadResult> g_ahead;

QList<KLItemPtr> readNow(const QString &path, ReadStatus *status, QString *why);

void moveAside(const QString &path, const QString &why)
{
    if (StoreFile::folderIsLink(path))
        return; // not ours to rename: the folder leads somewhere else
    QString error;
    const QString aside = PlistFile::moveAside(path, &error);
    if (!aside.isEmpty())
        qCWarning(lcCooler, "the Cooler store %s cannot be read (%s); moved aside as %s", qUtf8Printable(path),
                  qUtf8Printable(why), qUtf8Printable(aside));
    else
        qCWarning(lcCooler, "the Cooler store %s cannot be read (%s) and cannot be moved aside (%s)",
                  qUtf8Printable(path), qUtf8Printable(why), qUtf8Printable(error));
}
} // namespace

QThreadPool &backgroundPool()
{
    static QThreadPool pool;
    [[maybe_unused]] static const bool named = [] {
        pool.setObjectName(QStringLiteral("kelso-cooler"));
        return true;
    }();
    return pool;
}

QString pathForStateFile()
{
    static std::atomic<bool> folderMade{false};
    const QString folder = KLPaths::applicationSupportFolder();
    if (!folderMade.exchange(true)) {
        StoreFile::preparePrivateFolder(folder);
        StoreFile::tightenMode(folder + QStringLiteral("/coolerItems.plist"));
    }
    return folder + QStringLiteral("/coolerItems.plist");
}

QList<KLItemPtr> read(const QString &path, ReadStatus *status, QString *why)
{
    QFuture<ReadResult> ahead;
    {
        std::lock_guard lock(g_aheadMutex);
        if (!g_aheadPath.isEmpty() && g_aheadPath == path) {
            ahead = g_ahead;
            g_ahead = {};
            g_aheadPath.clear();
        }
    }
    if (!ahead.isValid())
        return readNow(path, status, why);
    ReadResult result = ahead.result();
    if (status)
        *status = result.status;
    if (why)
        *why = result.why;
    return result.items;
}

void readAhead(const QString &path)
{
    std::lock_guard lock(g_aheadMutex);
    if (!g_aheadPath.isEmpty())
        return;
    g_aheadPath = path;
    g_ahead = QtConcurrent::run(&backgroundPool(), [path] {
        ReadResult r;
        r.items = readNow(path, &r.status, &r.why);
        return r;
    });
}

namespace {

QList<KLItemPtr> readNow(const QString &path, ReadStatus *status, QString *why)
{
    ReadStatus dummy;
    ReadStatus &st = status ? *status : dummy;
    // A FIFO, socket or device in the store's place, an empty file and one past the reader's
    // limits are Bad like a damaged one: moved aside below. Never opened when not a file.
    const PlistFile::Parsed parsed = PlistFile::read(path);
    if (parsed.status == PlistFile::Status::Missing) {
        st = ReadStatus::Missing;
        return {};
    }
    if (parsed.status == PlistFile::Status::Unreadable) {
        // Not ours to move: it may just be a permission problem the user can fix.
        st = ReadStatus::Unreadable;
        if (why)
            *why = parsed.why;
        qCWarning(lcCooler, "cannot open the Cooler store %s: %s", qUtf8Printable(path), qUtf8Printable(parsed.why));
        return {};
    }
    const QVariant &root = parsed.value;
    const QString error = parsed.why;
    QString problem;
    if (!root.isValid())
        problem = error.isEmpty() ? QStringLiteral("not a property list") : error;
    else if (root.typeId() != QMetaType::QVariantMap)
        problem = QStringLiteral("not a dictionary");
    else if (root.toMap().value(kVersionKey).toLongLong() != kVersion)
        problem = QStringLiteral("unknown version %1").arg(root.toMap().value(kVersionKey).toString());
    else if (root.toMap().value(kItemsKey).typeId() != QMetaType::QVariantList)
        problem = QStringLiteral("no item list");
    if (!problem.isEmpty()) {
        moveAside(path, problem);
        st = ReadStatus::MovedAside;
        if (why)
            *why = problem;
        return {};
    }
    QList<KLItemPtr> items;
    QSet<QString> seen; // items are equal when their paths are: one look-up each, not a scan
    const QVariantList archives = root.toMap().value(kItemsKey).toList();
    for (const QVariant &v : archives) {
        if (v.typeId() != QMetaType::QVariantMap)
            continue;
        KLItemPtr item = KLItem::fromArchive(v.toMap());
        if (!item)
            continue;
        const QString itemPath = item->lastKnownPath();
        if (seen.contains(itemPath))
            continue;
        seen.insert(itemPath);
        items.append(item);
        if (items.size() >= KLItemListOps::kMaxItems)
            break;
    }
    st = ReadStatus::Read;
    return items;
}

} // namespace

namespace {

// Writes are numbered as they are asked for; one that finds a later write of the same store
// already on the disk is dropped, so that a slow background write never puts an older list
// over a newer one.
std::atomic<quint64> g_writeNumber{0};
QHash<QString, quint64> g_lastWritten; // under g_writeMutex

bool writeNumbered(const QString &path, const QList<KLItemPtr> &items, quint64 number, QString *why)
{
    QVariantList archives;
    for (const KLItemPtr &item : items) {
        if (item)
            archives.append(item->archive());
    }
    QString error;
    const QByteArray data =
        Plist::toBinary(QVariantMap{{kVersionKey, qint64(kVersion)}, {kItemsKey, archives}}, &error);
    if (data.isEmpty()) {
        if (why)
            *why = error;
        qCWarning(lcCooler, "cannot encode the Cooler store: %s", qUtf8Printable(error));
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::lock_guard lock(g_writeMutex);
    if (g_lastWritten.value(path) > number)
        return true; // a later list is already there
    QSaveFile file(path);
    if (!StoreFile::write(file, data, true, &error)) {
        if (why)
            *why = error;
        qCWarning(lcCooler, "cannot write the Cooler store %s: %s", qUtf8Printable(path), qUtf8Printable(error));
        return false;
    }
    g_lastWritten.insert(path, number);
    return true;
}

} // namespace

bool write(const QString &path, const QList<KLItemPtr> &items, QString *why)
{
    return writeNumbered(path, items, ++g_writeNumber, why);
}

void writeInBackground(const QString &path, const QList<KLItemPtr> &items)
{
    const quint64 number = ++g_writeNumber;
    backgroundPool().start([path, items, number] { writeNumbered(path, items, number, nullptr); });
}

bool waitForBackgroundWork(int msecs)
{
    return backgroundPool().waitForDone(msecs);
}

int removeLeftovers(const QString &path)
{
    std::lock_guard lock(g_writeMutex);
    return KLSaveFileLeftovers::removeLeftovers(path);
}

void removeLeftoversInBackground(const QString &path)
{
    backgroundPool().start([path] { removeLeftovers(path); });
}

QByteArray toJson(const QList<KLItemPtr> &items)
{
    // The common item fields, plus whether each kept file still exists.
    QJsonArray array = KLRecentListFormat::toJsonArray(items);
    qsizetype i = 0;
    for (const KLItemPtr &item : items) {
        if (!item)
            continue;
        QJsonObject o = array.at(i).toObject();
        o.insert(QStringLiteral("exists"), item->fileExists());
        array.replace(i++, o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace KLCoolerStore
