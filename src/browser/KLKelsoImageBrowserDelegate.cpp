#include "browser/KLKelsoImageBrowserDelegate.h"

#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLMainWindowController.h"
#include "platform/Defaults.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QSet>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <utility>

namespace {
std::atomic<int> g_resignations{0};

const QStringList &observedSettings()
{
    // The five lists the rules follow: a change to any of them may add or remove files.
    static const QStringList keys = {QStringLiteral("wantedDirectories"), QStringLiteral("unwantedDirectories"),
                                     QStringLiteral("unwantedExtensions"), QStringLiteral("unwantedPathFragments"),
                                     QStringLiteral("unwantedItems")};
    return keys;
}
} // namespace

KLKelsoImageBrowserDelegate::KLKelsoImageBrowserDelegate(std::unique_ptr<KLRecentSource> source, QObject *parent)
    : KLImageBrowserViewDelegate(parent), _recentFiles(std::move(source))
{
    m_periodic = new QTimer(this);
    m_periodic->setInterval(kPeriodicSeconds * 1000);
    connect(m_periodic, &QTimer::timeout, this, &KLKelsoImageBrowserDelegate::checkForChangedFilesWhenIdle);
    m_periodic->start();
    m_liveTimer = new QTimer(this);
    m_liveTimer->setSingleShot(true);
    connect(m_liveTimer, &QTimer::timeout, this, &KLKelsoImageBrowserDelegate::liveRefresh);
    m_idleCheck = new QTimer(this);
    m_idleCheck->setSingleShot(true);
    connect(m_idleCheck, &QTimer::timeout, this, &KLKelsoImageBrowserDelegate::checkForChangedFilesWhenIdle);
    if (_recentFiles)
        _recentFiles->setRecordHandler([this] { collectorRecordedEvent(); });
    setExplanation(KLLocalized(QStringLiteral("KLKelsoBrowserExplanationTop")));
    connect(&Defaults::standard(), &Defaults::changed, this, [this](const QString &key) {
        if (observedSettings().contains(key))
            checkForChangedFiles();
    });
}

KLKelsoImageBrowserDelegate::~KLKelsoImageBrowserDelegate() = default;

void KLKelsoImageBrowserDelegate::setExplanation(const QString &text)
{
    m_explanation = text;
    Q_EMIT explanationChanged(text);
}

void KLKelsoImageBrowserDelegate::updateChangedFiles()
{
    if (!_recentFiles)
        return;
    QList<KLItemPtr> fresh;
    QSet<QString> excluded;
    if (m_cooler) {
        const QStringList firstRow = m_cooler->pathsInFirstRow();
        excluded = QSet<QString>(firstRow.begin(), firstRow.end());
    }
    if (!_currentPath.isEmpty())
        fresh = itemsInsideStack(_currentPath, excluded);
    else
        fresh = _recentFiles->recentFiles(excluded);
    if (fresh.size() > 100)
        fresh.resize(100);
    if (itemListsEqual(fresh, _itemsArray))
        return;
    const bool sameLength = fresh.size() == _itemsArray.size();
    _itemsArray = fresh;
    reloadBrowserSoon();
    if (!sameLength)
        announceCountChanged();
}

void KLKelsoImageBrowserDelegate::checkForChangedFilesWhenIdle()
{
    if (gestureInProgress()) {
        m_idleCheck->start(kGestureRetryMs);
        return;
    }
    updateChangedFiles();
}

bool KLKelsoImageBrowserDelegate::gridIsOnScreen() const
{
    if (!m_imageBrowser)
        return false;
    const QWidget *w = m_imageBrowser->window();
    return w->isVisible() && !w->isMinimized() && w->windowOpacity() > 0.0;
}

void KLKelsoImageBrowserDelegate::collectorRecordedEvent()
{
    // A hidden list is brought up to date when the window shows (activation).
    if (!gridIsOnScreen() || m_liveTimer->isActive())
        return;
    int delay = kLiveCoalesceMs;
    if (m_sinceLiveRefresh.isValid() && m_sinceLiveRefresh.elapsed() < kLiveMinIntervalMs)
        delay = std::max<int>(delay, kLiveMinIntervalMs - int(m_sinceLiveRefresh.elapsed()));
    m_liveTimer->start(delay);
}

bool KLKelsoImageBrowserDelegate::liveRefreshPending() const
{
    return m_liveTimer->isActive();
}

void KLKelsoImageBrowserDelegate::liveRefresh()
{
    if (!gridIsOnScreen())
        return;
    if (gestureInProgress()) {
        m_liveTimer->start(kGestureRetryMs);
        return;
    }
    m_sinceLiveRefresh.restart();
    updateChangedFiles();
    // Shown at once: the coalescing is done.
    if (reloadPending())
        reloadBrowserNow();
}

bool KLKelsoImageBrowserDelegate::undoLastRemoval()
{
    if (!canUndoRemoval() || !_recentFiles || !_recentFiles->undoLastRemoval())
        return false;
    QStringList paths;
    for (const RemovedItem &r : std::exchange(m_lastRemoved, {}))
        paths.append(r.item->lastKnownPath());
    updateChangedFiles();
    reloadBrowserNow();
    selectPaths(paths);
    announceCountChanged();
    return true;
}

QList<KLItemPtr> KLKelsoImageBrowserDelegate::itemsInsideStack(const QString &path, const QSet<QString> &excluded)
{
    // The stack's own files, as the ranked list made them: its badge, the count above the grid
    // inside it and `kelso recent --json` then name the same files (a stack also gathers the
    // files of its subfolders, which the folder's own events do not hold).
    for (const KLItemPtr &item : _recentFiles->recentFiles(excluded)) {
        if (!item || !item->isStack() || item->lastKnownPath() != path)
            continue;
        struct Key {
            KLItemPtr item;
            KLTime time;
            QString title;
        };
        QList<Key> keys;
        for (const KLItemPtr &sub : item->stack())
            keys.append({sub, sub->timeOfFile(), sub->imageTitle()});
        std::stable_sort(keys.begin(), keys.end(), [](const Key &a, const Key &b) {
            return a.time != b.time ? a.time > b.time : a.title > b.title;
        });
        QList<KLItemPtr> out;
        for (const Key &k : std::as_const(keys))
            out.append(k.item);
        return out;
    }
    // No longer a stack at the top level: the folder's own recent files.
    return _recentFiles->recentFilesInDirectory(path);
}

void KLKelsoImageBrowserDelegate::backAction()
{
    const bool had = hasCurrentPath();
    _currentPath.clear();
    checkForChangedFiles();
    if (had)
        Q_EMIT hasCurrentPathChanged(false);
    setExplanation(KLLocalized(QStringLiteral("KLKelsoBrowserExplanationTop")));
}

void KLKelsoImageBrowserDelegate::imageBrowserRemoveKLItems(const QList<KLItemPtr> &items, bool moveToTrash)
{
    if (!moveToTrash) {
        removeItems(items);
        return;
    }
    // Only the items whose files went to the trash leave; the others stay with their files.
    moveItemFilesToTrash(items, [this](const QList<KLItemPtr> &trashed) {
        if (trashed.isEmpty())
            return;
        // A trashing cannot be undone here, and the collector's record of it replaced the one
        // of the earlier removal.
        m_lastRemoved.clear();
        removeItems(trashed);
    });
}

void KLKelsoImageBrowserDelegate::removeItems(const QList<KLItemPtr> &items)
{
    if (_recentFiles)
        _recentFiles->removeItems(items);
    // Out of the shown list at once; the collector's next answer no longer has them either.
    for (const KLItemPtr &item : items) {
        for (qsizetype i = _itemsArray.size() - 1; i >= 0; --i) {
            if (*_itemsArray.at(i) == *item)
                _itemsArray.removeAt(i);
        }
    }
    reloadBrowserSoon();
    announceCountChanged();
    checkForChangedFiles();
}

void KLKelsoImageBrowserDelegate::imageBrowserCellWasDoubleClickedAtIndex(int index)
{
    const KLItemPtr item = shownItemAtIndex(index);
    if (!item)
        return;
    if (item->isStack()) {
        _currentPath = item->lastKnownPath();
        Q_EMIT hasCurrentPathChanged(true);
        checkForChangedFiles();
        reloadBrowserNow();
        selectIndexes({0}, true);
        setExplanation(KLLocalized(QStringLiteral("KLKelsoBrowserExplanationFolder"),
                                   {PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(_currentPath)}));
        return;
    }
    KLImageBrowserViewDelegate::imageBrowserCellWasDoubleClickedAtIndex(index);
    Q_EMIT itemOpenedInKelso(item);
}

void KLKelsoImageBrowserDelegate::imageBrowserSelectionDidChange()
{
    KLImageBrowserViewDelegate::imageBrowserSelectionDidChange();
    if (hasSelection() && m_mainWindow && m_mainWindow->coolerDelegate())
        m_mainWindow->coolerDelegate()->clearSelection();
}

void KLKelsoImageBrowserDelegate::applicationDidFinishLaunching()
{
    applicationWillBecomeActive();
}

void KLKelsoImageBrowserDelegate::applicationWillBecomeActive()
{
    updateChangedFiles();
    updateChangedFiles();
    // File-system events can arrive late: look again a little later.
    for (int ms : {500, 3500, 13500})
        QTimer::singleShot(ms, this, &KLKelsoImageBrowserDelegate::checkForChangedFilesWhenIdle);
    backAction();
    reloadBrowserNow();
    if (m_imageBrowser && m_model->rowCount() > 0)
        m_imageBrowser->scrollTo(m_model->index(0));
}

void KLKelsoImageBrowserDelegate::applicationDidBecomeActive()
{
    if (m_imageBrowser && m_model->rowCount() > 0)
        m_imageBrowser->scrollTo(m_model->index(0));
}

void KLKelsoImageBrowserDelegate::applicationDidResignActive()
{
    const int before = g_resignations.fetch_add(1);
    if (before % kSaveEveryNthResignation == 0 && _recentFiles)
        _recentFiles->writeStateInBackground();
}

void KLKelsoImageBrowserDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    m_periodic->stop();
    if (_recentFiles)
        _recentFiles->writeState();
}

int KLKelsoImageBrowserDelegate::resignationCount()
{
    return g_resignations.load();
}

void KLKelsoImageBrowserDelegate::resetResignationCountForTesting()
{
    g_resignations = 0;
}
