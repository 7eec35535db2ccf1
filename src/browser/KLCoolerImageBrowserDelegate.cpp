#include "browser/KLCoolerImageBrowserDelegate.h"

#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "cooler/KLCoolerStore.h"
#include "cooler/KLItemListOps.h"
#include "platform/Mounts.h"
#include "platform/Workspace.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <optional>
#include <unistd.h>

namespace {
std::atomic<int> g_resignations{0};

using Workspace::homeTrashFolder;

} // namespace

KLCoolerImageBrowserDelegate::KLCoolerImageBrowserDelegate(const QString &storePath, QObject *parent)
    : KLImageBrowserViewDelegate(parent),
      m_storePath(storePath.isEmpty() ? KLCoolerStore::pathForStateFile() : storePath)
{
    m_saveTimer = new QTimer(this);
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(kSaveDelayMs);
    connect(m_saveTimer, &QTimer::timeout, this, &KLCoolerImageBrowserDelegate::writeSoonElapsed);
    readState();
}

KLCoolerImageBrowserDelegate::~KLCoolerImageBrowserDelegate() = default;

void KLCoolerImageBrowserDelegate::readState()
{
    // Temporary files of killed writes go; on a pool thread, the main thread touches only the store.
    KLCoolerStore::removeLeftoversInBackground(m_storePath);
    const QList<KLItemPtr> items = KLCoolerStore::read(m_storePath);
    if (items.isEmpty())
        return;
    for (const KLItemPtr &item : items)
        item->setServices(m_itemServices);
    _itemsArray = items;
    announceCountChanged();
    reloadBrowserSoon();
}

bool KLCoolerImageBrowserDelegate::writeState()
{
    return KLCoolerStore::write(m_storePath, _itemsArray);
}

void KLCoolerImageBrowserDelegate::setItemServices(const KLItemServicesPtr &services)
{
    m_itemServices = services;
    for (const KLItemPtr &item : std::as_const(_itemsArray))
        item->setServices(services);
}

void KLCoolerImageBrowserDelegate::addItem(const KLItemPtr &item, int index)
{
    if (item && m_itemServices && !item->services())
        item->setServices(m_itemServices);
    const QList<KLItemPtr> before = _itemsArray;
    KLImageBrowserViewDelegate::addItem(item, index);
    checkForDuplicateDisplayNames();
    if (_itemsArray != before)
        listChanged();
}

void KLCoolerImageBrowserDelegate::imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash)
{
    // Only the items whose files went to the trash leave; the others stay with their files.
    if (moveToTrash) {
        moveItemFilesToTrash(items, [this](const QList<KLItemPtr> &trashed) { removeLeavingItems(trashed); });
        return;
    }
    removeLeavingItems(items);
}

void KLCoolerImageBrowserDelegate::removeLeavingItems(const QList<KLItemPtr> &leaving)
{
    if (leaving.isEmpty())
        return;
    int removed = 0;
    for (const KLItemPtr &item : leaving) {
        const int i = KLItemListOps::indexOfItem(_itemsArray, item);
        if (i >= 0) {
            _itemsArray.removeAt(i);
            ++removed;
        }
    }
    announceCountChanged();
    reloadBrowserSoon();
    if (removed > 0)
        listChanged();
}

void KLCoolerImageBrowserDelegate::imageBrowserMoveItemsAtIndexes(const QList<int> &indexes, int destination)
{
    KLItemListOps::moveItems(_itemsArray, indexes, destination);
    reloadBrowserSoon();
    listChanged();
}

void KLCoolerImageBrowserDelegate::performDrop(const QStringList &paths, int index)
{
    // Dropped files are only recorded, never moved or copied.
    if (paths.isEmpty())
        return;
    if (KLItemListOps::pushedOutBy(_itemsArray, paths) == 0) {
        addPaths(paths, std::clamp(index, 0, numberOfItems()));
        return;
    }
    // The question waits until the drop is over: while a drag runs, its event filter takes the
    // keys and clicks that a dialog would need.
    QTimer::singleShot(0, this, [this, paths, index] { addPathsAskingBeforePushingOut(paths, index); });
}

QStringList KLCoolerImageBrowserDelegate::addItemsThatFit(const QList<KLItemPtr> &items, int index)
{
    QStringList paths;
    for (const KLItemPtr &item : items) {
        if (item)
            paths.append(item->lastKnownPath());
    }
    QStringList refused;
    const QStringList fitList = KLItemListOps::pathsThatFit(_itemsArray, paths, &refused);
    QSet<QString> fit(fitList.cbegin(), fitList.cend());
    QList<KLItemPtr> taken;
    for (const KLItemPtr &item : items) {
        if (item && fit.remove(item->lastKnownPath())) // each path once
            taken.append(item);
    }
    if (!taken.isEmpty())
        addItems(taken, std::clamp(index, 0, numberOfItems()));
    return refused;
}

QStringList KLCoolerImageBrowserDelegate::addPathsThatFit(const QStringList &paths, int index)
{
    QStringList refused;
    const QStringList fit = KLItemListOps::pathsThatFit(_itemsArray, paths, &refused);
    if (!fit.isEmpty())
        addPaths(fit, std::clamp(index, 0, numberOfItems()));
    return refused;
}

bool KLCoolerImageBrowserDelegate::addPathsAskingBeforePushingOut(const QStringList &paths, int index)
{
    if (paths.isEmpty())
        return false;
    const int pushedOut = KLItemListOps::pushedOutBy(_itemsArray, paths);
    if (pushedOut > 0) {
        QSet<QString> fresh;
        for (const QString &p : paths) {
            if (indexForPath(p) < 0)
                fresh.insert(p);
        }
        const int adding = int(fresh.size());
        const KLPushOutQuestion question = pushOutQuestion(adding, pushedOut);
        if (!services().confirmPushingOut(question))
            return false;
    }
    addPaths(paths, std::clamp(index, 0, numberOfItems()));
    return true;
}

KLPushOutQuestion KLCoolerImageBrowserDelegate::pushOutQuestion(int adding, int pushedOut)
{
    KLPushOutQuestion q;
    q.adding = adding;
    q.pushedOut = pushedOut;
    const QString max = QString::number(KLItemListOps::kMaxItems);
    q.message = pushedOut == 1 ? KLLocalized(QStringLiteral("KLCoolerPushOutOne"))
                               : KLLocalized(QStringLiteral("KLCoolerPushOutMany"), {QString::number(pushedOut)});
    q.informativeText = KLLocalized(QStringLiteral("KLCoolerPushOutExplanation"), {max});
    return q;
}

// ---- writing soon after a change ------------------------------------------------------------

void KLCoolerImageBrowserDelegate::listChanged()
{
    // The first change starts the clock; later ones ride along with the same write, so a burst
    // of changes costs one write and the disk sees at most one a second.
    if (!m_saveTimer->isActive())
        m_saveTimer->start();
}

void KLCoolerImageBrowserDelegate::writeSoonElapsed()
{
    KLCoolerStore::writeInBackground(m_storePath, _itemsArray);
    Q_EMIT stateWriteStarted();
}

bool KLCoolerImageBrowserDelegate::savePending() const
{
    return m_saveTimer->isActive();
}

void KLCoolerImageBrowserDelegate::setSaveDelayForTesting(int msecs)
{
    m_saveTimer->setInterval(msecs);
}

void KLCoolerImageBrowserDelegate::imageBrowserSelectionDidChange()
{
    KLImageBrowserViewDelegate::imageBrowserSelectionDidChange();
    if (hasSelection() && m_mainWindow && m_mainWindow->kelsoDelegate())
        m_mainWindow->kelsoDelegate()->clearSelection();
}

bool KLCoolerImageBrowserDelegate::pathIsInTrash(const QString &path)
{
    if (path.contains(QLatin1String("/.Trash")))
        return true;
    const QString home = homeTrashFolder() + QLatin1Char('/');
    return path.startsWith(home);
}

QStringList KLCoolerImageBrowserDelegate::missingFilesThatWereTrashed(const QStringList &paths)
{
    // Every trashed file has NAME.trashinfo holding "Path=<original, URL-encoded>" (absolute in
    // the home trash, relative to the volume in a volume's trash); the record's name starts with
    // the original name (with a number when it was taken). Each trash's info folder is read once
    // for all the paths, however many records it holds.
    struct Place {
        QString infoFolder;
        QByteArray prefix; // what a relative recorded path is relative to
    };
    QList<Place> places = {{homeTrashFolder() + QStringLiteral("/info"), QByteArray()}};
    QSet<QString> volumes;
    const QString uid = QString::number(::getuid());
    for (const QString &path : paths) {
        const QString mount = Mounts::mountPointOfPath(path);
        if (mount.isEmpty() || volumes.contains(mount))
            continue;
        volumes.insert(mount);
        const QString top = mount == QLatin1String("/") ? QString() : mount;
        places.append({top + QStringLiteral("/.Trash-") + uid + QStringLiteral("/info"), QFile::encodeName(top)});
        places.append({top + QStringLiteral("/.Trash/") + uid + QStringLiteral("/info"), QFile::encodeName(top)});
    }
    QHash<QByteArray, QString> byNative; // the file system's spelling → the path asked about
    QList<QByteArray> names;
    for (const QString &path : paths) {
        const QByteArray native = QFile::encodeName(path);
        byNative.insert(native, path);
        names.append(native.mid(native.lastIndexOf('/') + 1));
    }
    QStringList trashed;
    for (const Place &place : places) {
        const QByteArray folder = QFile::encodeName(place.infoFolder);
        DIR *dir = ::opendir(folder.constData());
        if (!dir)
            continue;
        while (const dirent *entry = ::readdir(dir)) {
            const QByteArray record(entry->d_name);
            if (!record.endsWith(".trashinfo"))
                continue;
            if (std::none_of(names.cbegin(), names.cend(), [&](const QByteArray &n) { return record.startsWith(n); }))
                continue;
            QFile f(QFile::decodeName(folder + '/' + record));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const std::optional<Workspace::TrashInfo> info = Workspace::parseTrashInfo(f.read(64 * 1024));
            if (!info)
                continue;
            const QByteArray original = info->path.startsWith('/') ? info->path : place.prefix + '/' + info->path;
            const auto it = byNative.constFind(original);
            if (it != byNative.cend() && !trashed.contains(it.value()))
                trashed.append(it.value());
        }
        ::closedir(dir);
    }
    return trashed;
}

QStringList KLCoolerImageBrowserDelegate::trashedPaths(const QList<KLItemPtr> &items)
{
    QStringList trashed;
    QStringList missing;
    for (const KLItemPtr &item : items) {
        const QString p = item->lastKnownPath();
        if (pathIsInTrash(p))
            trashed.append(p);
        else if (!item->fileExists()) // only known-missing files are looked up in the records
            missing.append(p);
    }
    if (!missing.isEmpty())
        trashed += missingFilesThatWereTrashed(missing);
    return trashed;
}

void KLCoolerImageBrowserDelegate::removeItemsThatAreInTheTrash()
{
    // The look at the files and the trash's records runs off the main thread, so that showing
    // the window never waits for the disk; the answer removes the items a moment later.
    const QList<KLItemPtr> items = _itemsArray;
    if (items.isEmpty())
        return;
    ++m_pendingTrashChecks;
    KLCoolerStore::backgroundPool().start([items, self = QPointer<KLCoolerImageBrowserDelegate>(this)] {
        const QStringList trashed = trashedPaths(items);
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [self, items, trashed] {
                if (!self)
                    return;
                --self->m_pendingTrashChecks;
                // Only items that are still in the list and still at the path that was checked.
                QList<KLItemPtr> gone;
                for (const KLItemPtr &item : items) {
                    if (trashed.contains(item->lastKnownPath()) &&
                        KLItemListOps::indexOfItem(self->_itemsArray, item) >= 0)
                        gone.append(item);
                }
                if (!gone.isEmpty())
                    self->imageBrowserRemoveKLItems(gone, false);
            },
            Qt::QueuedConnection);
    });
}

void KLCoolerImageBrowserDelegate::checkForDuplicateDisplayNames()
{
    if (KLItemListOps::applyDuplicateDisplayNames(_itemsArray))
        reloadBrowserSoon();
}

void KLCoolerImageBrowserDelegate::applicationDidFinishLaunching()
{
    applicationWillBecomeActive();
}

void KLCoolerImageBrowserDelegate::applicationWillBecomeActive()
{
    removeItemsThatAreInTheTrash();
    checkForDuplicateDisplayNames();
    reloadBrowserSoon();
}

void KLCoolerImageBrowserDelegate::applicationDidResignActive()
{
    // Written off the main thread: the window is fading out, and a flush to a busy disk can
    // take a while.
    const int before = g_resignations.fetch_add(1);
    if (before % kSaveEveryNthResignation == 0) {
        m_saveTimer->stop(); // this write carries the pending changes too
        writeSoonElapsed();
    }
}

void KLCoolerImageBrowserDelegate::applicationWillTerminate()
{
    // The last write is made here and now, and supersedes any still queued. Then no background
    // work may outlive the application object it reports to.
    m_saveTimer->stop();
    writeState();
    if (!KLCoolerStore::waitForBackgroundWork(5000))
        qCWarning(lcCooler, "the Cooler's disk work is still running at exit");
}

int KLCoolerImageBrowserDelegate::resignationCount()
{
    return g_resignations.load();
}

void KLCoolerImageBrowserDelegate::resetResignationCountForTesting()
{
    g_resignations = 0;
}
