#include "browser/KLCoolerImageBrowserDelegate.h"

#include "browser/KLCoolerStore.h"
#include "browser/KLItemListOps.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLMainWindowController.h"
#include "platform/Mounts.h"
#include "util/Paths.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>
#include <atomic>
#include <unistd.h>

namespace {
std::atomic<int> g_resignations{0};

QString homeTrashFolder()
{
    // $XDG_DATA_HOME/Trash (the freedesktop home trash).
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base = data.startsWith(QLatin1Char('/')) ? data : QDir::homePath() + QStringLiteral("/.local/share");
    return base + QStringLiteral("/Trash");
}
} // namespace

KLCoolerImageBrowserDelegate::KLCoolerImageBrowserDelegate(const QString &storePath, QObject *parent)
    : KLImageBrowserViewDelegate(parent),
      m_storePath(storePath.isEmpty() ? KLCoolerStore::pathForStateFile() : storePath)
{
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
    _itemsArray = items;
    announceCountChanged();
    reloadBrowserSoon();
}

bool KLCoolerImageBrowserDelegate::writeState()
{
    return KLCoolerStore::write(m_storePath, _itemsArray);
}

void KLCoolerImageBrowserDelegate::addItem(const KLItemPtr &item, int index)
{
    KLImageBrowserViewDelegate::addItem(item, index);
    checkForDuplicateDisplayNames();
}

void KLCoolerImageBrowserDelegate::imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash)
{
    if (moveToTrash && !moveItemFilesToTrash(items))
        return;
    for (const KLItemPtr &item : items) {
        const int i = KLItemListOps::indexOfItem(_itemsArray, item);
        if (i >= 0)
            _itemsArray.removeAt(i);
    }
    announceCountChanged();
    reloadBrowserSoon();
}

void KLCoolerImageBrowserDelegate::imageBrowserMoveItemsAtIndexes(const QList<int> &indexes, int destination)
{
    KLItemListOps::moveItems(_itemsArray, indexes, destination);
    reloadBrowserSoon();
}

void KLCoolerImageBrowserDelegate::performDrop(const QStringList &paths, int index)
{
    // Dropped files are only recorded, never moved or copied.
    if (!paths.isEmpty())
        addPaths(paths, index);
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

bool KLCoolerImageBrowserDelegate::missingFileWasTrashed(const QString &path)
{
    // Every trashed file has NAME.trashinfo holding "Path=<original, URL-encoded>" (absolute in
    // the home trash, relative to the volume in a volume's trash); the name in the trash starts
    // with the original name (with a number when it was taken).
    const QString name = path.section(QLatin1Char('/'), -1);
    const QString mount = Mounts::mountPointOfPath(path);
    const QString uid = QString::number(::getuid());
    struct Place {
        QString infoFolder;
        QString prefix; // what the recorded path is relative to
    };
    QList<Place> places = {{homeTrashFolder() + QStringLiteral("/info"), QString()}};
    if (!mount.isEmpty()) {
        const QString top = mount == QLatin1String("/") ? QString() : mount;
        places.append({top + QStringLiteral("/.Trash-") + uid + QStringLiteral("/info"), top});
        places.append({top + QStringLiteral("/.Trash/") + uid + QStringLiteral("/info"), top});
    }
    for (const Place &place : places) {
        QDir info(place.infoFolder);
        const QStringList candidates =
            info.entryList({name + QStringLiteral("*.trashinfo")}, QDir::Files | QDir::Hidden | QDir::System);
        for (const QString &c : candidates) {
            QFile f(info.filePath(c));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> lines = f.read(64 * 1024).split('\n');
            for (const QByteArray &line : lines) {
                if (!line.startsWith("Path="))
                    continue;
                QString original = QUrl::fromPercentEncoding(line.mid(5).trimmed());
                if (!original.startsWith(QLatin1Char('/')))
                    original = place.prefix + QLatin1Char('/') + original;
                if (original == path)
                    return true;
            }
        }
    }
    return false;
}

void KLCoolerImageBrowserDelegate::removeItemsThatAreInTheTrash()
{
    QList<KLItemPtr> trashed;
    for (const KLItemPtr &item : _itemsArray) {
        const QString p = item->lastKnownPath();
        // Known-missing files only are looked up in the trash's records (cheap: a name match).
        if (pathIsInTrash(p) || (!item->fileExists() && missingFileWasTrashed(p)))
            trashed.append(item);
    }
    if (!trashed.isEmpty())
        imageBrowserRemoveKLItems(trashed, false);
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
    const int before = g_resignations.fetch_add(1);
    if (before % kSaveEveryNthResignation == 0)
        writeState();
}

void KLCoolerImageBrowserDelegate::applicationWillTerminate()
{
    writeState();
}

int KLCoolerImageBrowserDelegate::resignationCount()
{
    return g_resignations.load();
}

void KLCoolerImageBrowserDelegate::resetResignationCountForTesting()
{
    g_resignations = 0;
}
