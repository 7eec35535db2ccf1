#include "browser/KLImageBrowserViewDelegate.h"

#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLMainWindowController.h"
#include "browser/KLPreviewPanel.h"
#include "browser/menus/KLFileCommands.h"
#include "browser/menus/KLPaneMenus.h"
#include "cooler/KLItemListOps.h"
#include "fileops/XPFileJobs.h"
#include "fileops/XPFileUtils.h"
#include "fileops/XPRename.h"
#include "platform/Defaults.h"
#include "platform/Workspace.h"
#include "platform/XPSandboxUtils.h"
#include "tags/XPFiledDocuments.h"
#include "util/Localized.h"
#include "util/Logging.h"
#include "util/Tilde.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <dirent.h>

namespace {
// One look (or several) at what a drop target did with the files of a drag that ended in a
// move. A child of the pane: when the pane goes, so does the check and its answer.
class TrashDropCheck : public QObject
{
public:
    static constexpr int kRetryMs = 150;

    TrashDropCheck(KLImageBrowserViewDelegate *pane, const QList<KLItemPtr> &dragged, const QDateTime &started,
                   KLImageBrowserViewDelegate::TrashDropDone done, int timeoutMs)
        : QObject(pane), m_pane(pane), m_started(started), m_done(std::move(done)), m_timeoutMs(timeoutMs)
    {
        setObjectName(QStringLiteral("KLTrashDropCheck"));
        // Paths as they are now, on the main thread; the worker gets plain strings only.
        for (const KLItemPtr &item : dragged) {
            const QString p = item ? item->lastKnownPath() : QString();
            if (p.isEmpty())
                continue;
            m_items.append(item);
            m_paths.append(p);
        }
    }

    void start()
    {
        m_clock.start();
        if (m_paths.isEmpty()) {
            finish({});
            return;
        }
        attempt();
    }

private:
    using Fates = QList<Workspace::MovedPathFate>;

    void attempt()
    {
        auto *watcher = new QFutureWatcher<Fates>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
            watcher->deleteLater();
            evaluate(watcher->result());
        });
        const QStringList paths = m_paths;
        const QDateTime since = m_started;
        watcher->setFuture(QtConcurrent::run([paths, since] { return Workspace::fatesOfMovedPaths(paths, since); }));
    }

    void evaluate(const Fates &fates)
    {
        const bool pending = fates.contains(Workspace::MovedPathFate::StillThere);
        if (pending && m_clock.elapsed() < m_timeoutMs) {
            QTimer::singleShot(kRetryMs, this, [this] { attempt(); });
            return;
        }
        QStringList trashedPaths;
        QList<KLItemPtr> trashedItems;
        for (qsizetype i = 0; i < fates.size() && i < m_paths.size(); ++i) {
            if (fates.at(i) == Workspace::MovedPathFate::InTrash) {
                trashedPaths.append(m_paths.at(i));
                trashedItems.append(m_items.at(i));
            }
        }
        if (!trashedItems.isEmpty())
            m_pane->removeItemsTrashedByDrop(trashedItems, trashedPaths);
        finish(trashedItems);
    }

    void finish(const QList<KLItemPtr> &trashed)
    {
        const auto done = std::move(m_done);
        setObjectName(QString()); // no longer pending
        deleteLater();
        if (done)
            done(trashed);
    }

    KLImageBrowserViewDelegate *m_pane;
    QList<KLItemPtr> m_items;
    QStringList m_paths;
    QDateTime m_started;
    KLImageBrowserViewDelegate::TrashDropDone m_done;
    int m_timeoutMs;
    QElapsedTimer m_clock;
};

QString failureLines(const QList<KLFileFailure> &failures)
{
    constexpr int kShown = 10;
    QStringList lines;
    for (const KLFileFailure &f : failures) {
        if (lines.size() == kShown) {
            lines.append(KLLocalized(QStringLiteral("KLFileFailureMore"), {QString::number(failures.size() - kShown)}));
            break;
        }
        lines.append(
            QStringLiteral("%1: %2").arg(PimsAdditions::stringByAbbreviatingWithTildeInPathSANDBOX(f.path), f.why));
    }
    return lines.join(QLatin1Char('\n'));
}

QString nameOf(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

bool followMovedItem(const QList<KLItemPtr> &items, const QString &oldPath, const QString &newPath)
{
    bool any = false;
    for (const KLItemPtr &item : items)
        any = item->followMove(oldPath, newPath) || any;
    return any;
}
} // namespace

KLFileFailureReport KLFileFailureReport::trashFailed(const QList<KLFileFailure> &failures)
{
    KLFileFailureReport r;
    r.title = QStringLiteral("Kelso");
    r.failures = failures;
    r.message = failures.size() == 1
                    ? KLLocalized(QStringLiteral("KLTrashFailedOne"), {nameOf(failures.first().path)})
                    : KLLocalized(QStringLiteral("KLTrashFailedMany"), {QString::number(failures.size())});
    r.informativeText =
        failureLines(failures) + QStringLiteral("\n\n") + KLLocalized(QStringLiteral("KLTrashFailedKept"));
    return r;
}

KLFileFailureReport KLFileFailureReport::filingFailed(const QList<KLFileFailure> &failures)
{
    KLFileFailureReport r;
    r.title = QStringLiteral("Kelso");
    r.failures = failures;
    r.message = failures.size() == 1
                    ? KLLocalized(QStringLiteral("KLFilingFailedOne"), {nameOf(failures.first().path)})
                    : KLLocalized(QStringLiteral("KLFilingFailedMany"), {QString::number(failures.size())});
    r.informativeText = failureLines(failures);
    return r;
}

KLImageBrowserViewDelegate::KLImageBrowserViewDelegate(QObject *parent) : QObject(parent)
{
    connect(XPFileMoveNotifier::instance(), &XPFileMoveNotifier::itemMoved, this,
            &KLImageBrowserViewDelegate::itemMovedByKelso);
    m_model = new KLImageBrowserModel(this);
    _reloadTimer = new QTimer(this);
    _reloadTimer->setSingleShot(true);
    _reloadTimer->setInterval(kReloadDelayMs);
    connect(_reloadTimer, &QTimer::timeout, this, [this] {
        if (gestureInProgress()) {
            _reloadTimer->start(kGestureRetryMs);
            return;
        }
        reloadBrowserNow();
    });
}

KLImageBrowserViewDelegate::~KLImageBrowserViewDelegate() = default;

void KLImageBrowserViewDelegate::setServices(const KLServices *services)
{
    m_services = services;
    watchFileJobs();
}

void KLImageBrowserViewDelegate::watchFileJobs()
{
    XPFileJobs *jobs = &services().jobs();
    if (m_watchedJobs != jobs) {
        if (m_watchedJobs)
            disconnect(m_watchedJobs, nullptr, this, nullptr);
        m_watchedJobs = jobs;
        connect(jobs, &XPFileJobs::busyChanged, this, [this](bool busy) {
            if (!m_imageBrowser)
                return;
            if (busy)
                m_imageBrowser->setCursor(Qt::BusyCursor);
            else
                m_imageBrowser->unsetCursor();
        });
    }
    if (m_imageBrowser && !jobs->isIdle())
        m_imageBrowser->setCursor(Qt::BusyCursor);
}

void KLImageBrowserViewDelegate::setImageBrowser(KLImageBrowserView *view)
{
    m_imageBrowser = view;
    if (!view)
        return;
    watchFileJobs();
    view->setPane(this);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { imageBrowserSelectionDidChange(); });
}

KLImageBrowserView *KLImageBrowserViewDelegate::imageBrowser() const
{
    return m_imageBrowser.data();
}

void KLImageBrowserViewDelegate::setMainWindowController(KLMainWindowController *controller)
{
    m_mainWindow = controller;
}

KLMainWindowController *KLImageBrowserViewDelegate::mainWindowController() const
{
    return m_mainWindow.data();
}

const KLServices &KLImageBrowserViewDelegate::services() const
{
    return m_services ? *m_services : KLServices::defaults();
}

KLItemPtr KLImageBrowserViewDelegate::itemAtIndex(int index) const
{
    return index >= 0 && index < _itemsArray.size() ? _itemsArray.at(index) : nullptr;
}

// ---- list -----------------------------------------------------------------------------------

void KLImageBrowserViewDelegate::addItem(const KLItemPtr &item, int index)
{
    const qsizetype before = _itemsArray.size();
    KLItemListOps::addItem(_itemsArray, item, index);
    reloadBrowserSoon();
    if (before != _itemsArray.size())
        announceCountChanged();
}

void KLImageBrowserViewDelegate::addPath(const QString &path, int index)
{
    addItem(KLItem::create(path), index);
}

void KLImageBrowserViewDelegate::addPaths(const QStringList &paths, int index)
{
    QList<KLItemPtr> items;
    for (const QString &p : paths)
        items.append(KLItem::create(p));
    addItems(items, index);
}

void KLImageBrowserViewDelegate::addItems(const QList<KLItemPtr> &items, int index)
{
    QStringList paths;
    for (auto it = items.crbegin(); it != items.crend(); ++it) {
        addItem(*it, index);
        paths.prepend((*it)->lastKnownPath());
    }
    reloadBrowserNow();
    selectPaths(paths);
    if (m_imageBrowser)
        m_imageBrowser->setFocus(Qt::OtherFocusReason);
}

int KLImageBrowserViewDelegate::indexForPath(const QString &path) const
{
    return KLItemListOps::indexForPath(_itemsArray, path);
}

QStringList KLImageBrowserViewDelegate::currentItemPaths() const
{
    QStringList out;
    for (const KLItemPtr &item : _itemsArray) {
        const QString p = item ? item->lastKnownPath() : QString();
        if (!p.isEmpty())
            out.append(p);
    }
    return out;
}

QStringList KLImageBrowserViewDelegate::pathsForIndexes(const QList<int> &indexes) const
{
    QStringList out;
    for (const KLItemPtr &item : itemsForIndexes(indexes)) {
        const QString p = item->lastKnownPath();
        if (!p.isEmpty())
            out.append(p);
    }
    return out;
}

QList<KLItemPtr> KLImageBrowserViewDelegate::itemsForIndexes(const QList<int> &indexes) const
{
    QList<int> sorted = indexes;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QList<KLItemPtr> out;
    for (int i : sorted) {
        if (KLItemPtr item = itemAtIndex(i))
            out.append(item);
    }
    return out;
}

// ---- what the grid shows --------------------------------------------------------------------

KLItemPtr KLImageBrowserViewDelegate::shownItemAtIndex(int row) const
{
    const KLItemPtr shown = m_model->itemAt(row);
    if (!shown)
        return nullptr;
    const KLItemPtr live = itemAtIndex(indexForPath(shown->lastKnownPath()));
    return live ? live : shown;
}

QList<KLItemPtr> KLImageBrowserViewDelegate::shownItemsForIndexes(const QList<int> &rows) const
{
    QList<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QList<KLItemPtr> out;
    for (int row : sorted) {
        if (KLItemPtr item = shownItemAtIndex(row))
            out.append(item);
    }
    return out;
}

int KLImageBrowserViewDelegate::listIndexForShownRow(int row) const
{
    if (row >= m_model->rowCount())
        return numberOfItems();
    const KLItemPtr shown = m_model->itemAt(row);
    return shown ? indexForPath(shown->lastKnownPath()) : -1;
}

QStringList KLImageBrowserViewDelegate::selectedItemPaths() const
{
    QStringList out;
    for (const KLItemPtr &item : selectedItems()) {
        const QString p = item->lastKnownPath();
        if (!p.isEmpty())
            out.append(p);
    }
    return out;
}

// ---- selection ------------------------------------------------------------------------------

QList<int> KLImageBrowserViewDelegate::selectionIndexes() const
{
    QList<int> out;
    if (!m_imageBrowser || !m_imageBrowser->selectionModel())
        return out;
    for (const QModelIndex &i : m_imageBrowser->selectionModel()->selectedIndexes())
        out.append(i.row());
    std::sort(out.begin(), out.end());
    return out;
}

void KLImageBrowserViewDelegate::selectIndexes(const QList<int> &indexes, bool scrollToFirst)
{
    if (!m_imageBrowser)
        return;
    QItemSelection selection;
    QModelIndex first;
    for (int i : indexes) {
        const QModelIndex mi = m_model->index(i);
        if (!mi.isValid())
            continue;
        selection.select(mi, mi);
        if (!first.isValid())
            first = mi;
    }
    QItemSelectionModel *sm = m_imageBrowser->selectionModel();
    sm->select(selection, QItemSelectionModel::ClearAndSelect);
    if (first.isValid()) {
        sm->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
        if (scrollToFirst)
            m_imageBrowser->scrollTo(first);
    }
}

void KLImageBrowserViewDelegate::clearSelection()
{
    if (m_imageBrowser && m_imageBrowser->selectionModel())
        m_imageBrowser->selectionModel()->clearSelection();
}

void KLImageBrowserViewDelegate::selectPaths(const QStringList &paths)
{
    QList<int> indexes;
    for (const QString &p : paths) {
        const int i = indexForPath(p);
        if (i >= 0)
            indexes.append(i);
    }
    selectIndexes(indexes);
}

bool KLImageBrowserViewDelegate::selectNextDocumentWithOffset(int offset)
{
    const QList<int> selection = selectionIndexes();
    if (selection.isEmpty())
        return false;
    const int next = selection.first() + offset;
    if (next < 0 || next >= numberOfItems())
        return false;
    selectIndexes({next}, true);
    return true;
}

bool KLImageBrowserViewDelegate::selectNextDocumentWithKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Back:
        return selectNextDocumentWithOffset(-1);
    case Qt::Key_Right:
    case Qt::Key_Forward:
        return selectNextDocumentWithOffset(1);
    default:
        return false;
    }
}

QStringList KLImageBrowserViewDelegate::pathsInFirstRow() const
{
    QStringList out;
    if (_itemsArray.isEmpty())
        return out;
    if (!m_imageBrowser || m_model->rowCount() == 0) {
        out.append(_itemsArray.first()->lastKnownPath());
        return out;
    }
    const int top = m_imageBrowser->visualRect(m_model->index(0)).top();
    const int n = std::min<int>({int(_itemsArray.size()), m_model->rowCount(), 16});
    for (int i = 0; i < n; ++i) {
        if (m_imageBrowser->visualRect(m_model->index(i)).top() != top)
            break;
        out.append(_itemsArray.at(i)->lastKnownPath());
    }
    return out;
}

// ---- reloads --------------------------------------------------------------------------------

void KLImageBrowserViewDelegate::reloadBrowserNow()
{
    _reloadTimer->stop();
    // Keep the selection by path across the reload (the list may have moved under it).
    const QStringList selected = m_imageBrowser ? pathsForSelectionInModel() : QStringList();
    m_model->setItems(_itemsArray);
    if (!selected.isEmpty())
        selectPaths(selected);
}

void KLImageBrowserViewDelegate::reloadBrowserSoon()
{
    if (QThread::currentThread() != thread())
        return;
    if (!_reloadTimer->isActive())
        _reloadTimer->start(kReloadDelayMs);
}

bool KLImageBrowserViewDelegate::gestureInProgress() const
{
    return m_imageBrowser && m_imageBrowser->gestureInProgress();
}

namespace {
quint64 g_removalSequence = 0;
}

void KLImageBrowserViewDelegate::noteRemovalForUndo(const QList<KLItemPtr> &items)
{
    m_lastRemoved.clear();
    for (const KLItemPtr &item : items) {
        const int i = KLItemListOps::indexOfItem(_itemsArray, item);
        if (i >= 0)
            m_lastRemoved.append({i, item});
    }
    std::sort(m_lastRemoved.begin(), m_lastRemoved.end(),
              [](const RemovedItem &a, const RemovedItem &b) { return a.index < b.index; });
    m_removalSequence = ++g_removalSequence;
}

bool KLImageBrowserViewDelegate::undoLastRemoval()
{
    if (m_lastRemoved.isEmpty())
        return false;
    const QList<RemovedItem> removed = std::exchange(m_lastRemoved, {});
    QStringList paths;
    // In ascending order, each lands where it was.
    for (const RemovedItem &r : removed) {
        addItem(r.item, std::min(r.index, numberOfItems()));
        paths.append(r.item->lastKnownPath());
    }
    reloadBrowserNow();
    selectPaths(paths);
    return true;
}

bool KLImageBrowserViewDelegate::reloadPending() const
{
    return _reloadTimer->isActive();
}

QStringList KLImageBrowserViewDelegate::pathsForSelectionInModel() const
{
    QStringList out;
    if (!m_imageBrowser || !m_imageBrowser->selectionModel())
        return out;
    for (const QModelIndex &i : m_imageBrowser->selectionModel()->selectedIndexes()) {
        if (KLItemPtr item = m_model->itemAt(i.row()))
            out.append(item->lastKnownPath());
    }
    return out;
}

QString KLImageBrowserViewDelegate::currentNumberOfItemsString() const
{
    // One item reads "1 item", not "1 items".
    const int n = numberOfItems();
    return KLLocalized(n == 1 ? QStringLiteral("KLCurrentNumberOfItemsOne") : QStringLiteral("KLCurrentNumberOfItems"),
                       {QString::number(n)});
}

// ---- grid events ----------------------------------------------------------------------------

void KLImageBrowserViewDelegate::imageBrowserRemoveItemsAtIndexes(const QList<int> &indexes)
{
    QList<int> removed = indexes;
    std::sort(removed.begin(), removed.end());
    removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
    const QList<int> selection = selectionIndexes();
    const QList<KLItemPtr> items = shownItemsForIndexes(removed);
    if (items.isEmpty())
        return;
    // Super (the Command key of the desktop map) makes the removal a trashing.
    const bool trash = QGuiApplication::queryKeyboardModifiers() & Qt::MetaModifier;
    if (!trash)
        noteRemovalForUndo(items);
    const int before = numberOfItems();
    imageBrowserRemoveKLItems(items, trash);
    if (removed != selection || numberOfItems() == before)
        return;
    reloadBrowserNow();
    int index = removed.size() > 1 ? removed.last() - int(removed.size() - 1) : removed.first();
    if (index >= numberOfItems())
        index = numberOfItems() - 1;
    if (index >= 0)
        selectIndexes({index}, true);
}

void KLImageBrowserViewDelegate::imageBrowserCellWasDoubleClickedAtIndex(int index)
{
    const KLItemPtr item = shownItemAtIndex(index);
    if (!item)
        return;
    if (XPSandboxUtils::fileIsUnderRoot(item->lastKnownPath()))
        KLFileCommands::open({item->path()}, enclosingView(), services());
    else
        KLFileCommands::reveal({item->path()}, enclosingView(), services());
}

void KLImageBrowserViewDelegate::imageBrowserSelectionDidChange()
{
    KLPreviewPanel::shared().updateController(selectedItems());
}

int KLImageBrowserViewDelegate::imageBrowserWriteItemsAtIndexes(const QList<int> &indexes, QMimeData *data) const
{
    QList<QUrl> urls;
    for (const KLItemPtr &item : shownItemsForIndexes(indexes)) {
        const QString p = item->lastKnownPath();
        if (!p.isEmpty())
            urls.append(QUrl::fromLocalFile(p));
    }
    data->setUrls(urls);
    return int(urls.size());
}

// ---- trashing -------------------------------------------------------------------------------

void KLImageBrowserViewDelegate::checkDragOutWentToTrash(const QList<KLItemPtr> &dragged, const QDateTime &dragStarted,
                                                         TrashDropDone done, int timeoutMs)
{
    auto *check = new TrashDropCheck(this, dragged, dragStarted, std::move(done), timeoutMs);
    check->start();
}

void KLImageBrowserViewDelegate::removeItemsTrashedByDrop(const QList<KLItemPtr> &dragged,
                                                          const QStringList &trashedPaths)
{
    // The list may have changed during the check (a refresh, a step into a stack, a removal):
    // the dragged items themselves, and whatever now stands at their old paths, go.
    QList<KLItemPtr> items = dragged;
    for (const KLItemPtr &item : std::as_const(_itemsArray)) {
        if (item && trashedPaths.contains(item->lastKnownPath()) && !items.contains(item))
            items.append(item);
    }
    if (items.isEmpty())
        return;
    imageBrowserRemoveKLItems(items, false);
}

int KLImageBrowserViewDelegate::pendingTrashDropChecks() const
{
    return int(findChildren<QObject *>(QStringLiteral("KLTrashDropCheck"), Qt::FindDirectChildrenOnly).size());
}

namespace {
// The entries directly in a folder (hidden ones too: they go to the trash with it), read as
// bytes so that names which are not UTF-8 count as well; -1 when it cannot be read.
int entriesInFolder(const QString &path)
{
    DIR *dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return -1;
    int n = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        ++n;
    }
    ::closedir(dir);
    return n;
}

QString folderContentsText(int count)
{
    if (count < 0)
        return KLLocalized(QStringLiteral("KLTrashFolderUnreadable"));
    if (count == 0)
        return KLLocalized(QStringLiteral("KLTrashFolderEmpty"));
    return KLLocalized(count == 1 ? QStringLiteral("KLCurrentNumberOfItemsOne")
                                  : QStringLiteral("KLCurrentNumberOfItems"),
                       {QString::number(count)});
}
} // namespace

KLTrashWarning KLImageBrowserViewDelegate::trashWarningFor(const QList<KLItemPtr> &items, bool dontWarnSetting)
{
    KLTrashWarning w;
    if (items.isEmpty())
        return w; // ask = false, proceed = false
    w.confirmButton = KLLocalized(QStringLiteral("DPMenuItemMoveToTrash"));
    // Folders (stacks among them) go with everything in them: always asked, naming the folder
    // and what it holds on disk, which can be far more than the recent files shown for it.
    QList<KLItemPtr> folders;
    QStringList folderPaths;
    for (const KLItemPtr &item : items) {
        const QString p = PimsAdditions::stringByExpandingTildeInPathSANDBOX(item->lastKnownPath());
        const QFileInfo info(p);
        if (info.exists() && info.isDir() && !XPFileUtils::isPackage(p)) {
            folders.append(item);
            folderPaths.append(p);
        }
    }
    const QString count = QString::number(items.size());
    if (!folders.isEmpty()) {
        w.ask = true;
        w.folder = true;
        const QString folderName = folders.first()->displayName();
        const QString contents = folderContentsText(entriesInFolder(folderPaths.first()));
        if (items.size() == 1) {
            w.message = KLLocalized(QStringLiteral("KLTrashOneFolder"), {folderName, contents});
            w.informativeText = KLLocalized(QStringLiteral("KLTrashOneFolderInfo"));
        } else {
            w.message = KLLocalized(QStringLiteral("KLTrashItems"), {count});
            w.informativeText =
                folders.size() == 1
                    ? KLLocalized(QStringLiteral("KLTrashItemsWithFolder"), {folderName, contents})
                    : KLLocalized(QStringLiteral("KLTrashItemsWithFolders"), {QString::number(folders.size())});
        }
        return w;
    }
    if (dontWarnSetting) {
        w.proceed = true;
        return w;
    }
    w.ask = true;
    if (items.size() == 1) {
        w.message = KLLocalized(QStringLiteral("KLTrashOneFile"), {items.last()->displayName()});
        w.informativeText = KLLocalized(QStringLiteral("KLTrashOneFileInfo"));
    } else {
        w.message = KLLocalized(QStringLiteral("KLTrashItems"), {count});
        w.informativeText = KLLocalized(QStringLiteral("KLTrashItemsInfo"));
    }
    return w;
}

bool KLImageBrowserViewDelegate::warnAboutTrashing(const QList<KLItemPtr> &items)
{
    const KLTrashWarning w =
        trashWarningFor(items, Defaults::standard().boolForKey(QStringLiteral("KPDONTWarnAboutTrashingFiles")));
    if (!w.ask)
        return w.proceed;
    return services().confirmTrashing(w);
}

void KLImageBrowserViewDelegate::moveItemFilesToTrash(const QList<KLItemPtr> &items, TrashDone trashed)
{
    if (!warnAboutTrashing(items))
        return;
    // The worker trashes and looks at the disk; the items are only read there (their paths
    // under their own lock), the lists are made back here.
    struct Result {
        QList<bool> gone;
        QStringList why;
    };
    QStringList paths;
    for (const KLItemPtr &item : items)
        paths.append(item ? item->lastKnownPath() : QString());
    std::function<Result()> work = [items] {
        Result r;
        for (const KLItemPtr &item : items) {
            QString error;
            const QFileInfo file(item->lastKnownPath());
            // A file that is already gone has nothing left to trash: its item goes quietly.
            r.gone.append(item->moveFileToTrash(&error) || (!file.exists() && !file.isSymLink()));
            r.why.append(error);
        }
        return r;
    };
    std::function<void(const Result &)> done = [this, items, trashed = std::move(trashed)](const Result &r) {
        QList<KLItemPtr> gone;
        QList<KLFileFailure> failures;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (r.gone.value(i))
                gone.append(items.at(i));
            else
                failures.append({items.at(i)->lastKnownPath(), r.why.value(i)});
        }
        if (!failures.isEmpty())
            reportFileFailures(KLFileFailureReport::trashFailed(failures));
        if (trashed)
            trashed(gone);
    };
    if (!services().jobs().run(paths, std::move(work), this, std::move(done)))
        refuseBusyItems();
}

void KLImageBrowserViewDelegate::refuseBusyItems()
{
    qCInfo(lcFileOps, "an item is busy with another operation; the new one is refused");
    services().beep();
}

void KLImageBrowserViewDelegate::reportFileFailures(const KLFileFailureReport &report)
{
    services().reportFileFailures(report, m_imageBrowser ? m_imageBrowser->window() : nullptr);
}

void KLImageBrowserViewDelegate::setSelectionsFiledDocs(const QStringList &paths)
{
    using Outcomes = QList<XPFiledDocuments::FilingOutcome>;
    std::function<Outcomes()> work = [paths] {
        Outcomes outcomes;
        XPFiledDocuments::putFilesIntoFiledDocuments(paths, true, &outcomes);
        return outcomes;
    };
    std::function<void(const Outcomes &)> done = [this](const Outcomes &outcomes) {
        QList<KLFileFailure> failures;
        for (const XPFiledDocuments::FilingOutcome &o : outcomes) {
            if (o.kind == XPFiledDocuments::FilingOutcome::Failed || o.markFailed)
                failures.append({o.source, o.why});
        }
        if (!failures.isEmpty())
            reportFileFailures(KLFileFailureReport::filingFailed(failures));
    };
    if (!services().jobs().run(paths, std::move(work), this, std::move(done)))
        refuseBusyItems();
}

void KLImageBrowserViewDelegate::itemMovedByKelso(const QString &oldPath, const QString &newPath)
{
    if (followMovedItem(_itemsArray, oldPath, newPath))
        reloadBrowserSoon();
}

// ---- actions --------------------------------------------------------------------------------

void KLImageBrowserViewDelegate::openExternally(const QList<KLItemPtr> &items)
{
    KLFileCommands::open(KLItem::pathsForItems(items), enclosingView(), services());
}

void KLImageBrowserViewDelegate::revealInFinder(const QList<KLItemPtr> &items)
{
    KLFileCommands::reveal(KLItem::pathsForItems(items), enclosingView(), services());
}

void KLImageBrowserViewDelegate::editTags(const QList<KLItemPtr> &items)
{
    editTagsForFilePaths(KLItem::pathsForItems(items));
}

// ---- context menu ---------------------------------------------------------------------------

KLPaneMenuBuilder *KLImageBrowserViewDelegate::menuBuilder()
{
    if (!m_menus)
        m_menus = new KLPaneMenuBuilder(paneKind(), this, this);
    return m_menus;
}

QMenu *KLImageBrowserViewDelegate::showContextMenuForIndex(int index, const QPoint &globalPos)
{
    // A right-click on a cell outside the selection acts on that cell alone, as in a file
    // manager; on a selected cell it acts on the whole selection.
    if (index >= 0 && index < m_model->rowCount() && !selectionIndexes().contains(index))
        selectIndexes({index});
    const QList<KLItemPtr> selected = selectedItems();
    if (selected.isEmpty())
        return nullptr;
    QMenu *menu = contextMenuForItems(selected);
    if (!menu)
        return nullptr;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    services().popUpContextMenu(menu, globalPos);
    return menu;
}

QMenu *KLImageBrowserViewDelegate::contextMenuForItems(const QList<KLItemPtr> &selected)
{
    return menuBuilder()->contextMenuForItems(selected, m_imageBrowser);
}

void KLImageBrowserViewDelegate::removeKLItems(const QList<KLItemPtr> &items, bool moveToTrash)
{
    if (!moveToTrash)
        noteRemovalForUndo(items);
    imageBrowserRemoveKLItems(items, moveToTrash);
}

void KLImageBrowserViewDelegate::editTagsForFilePaths(const QStringList &paths)
{
    services().openTagEditor(paths);
}

void KLImageBrowserViewDelegate::editUnwantedDirectoriesAction()
{
    services().openPreferences(KLPreferencesPage::HiddenFolders);
}

void KLImageBrowserViewDelegate::preferencesAction()
{
    services().openPreferences(KLPreferencesPage::General);
}

bool KLImageBrowserViewDelegate::hasPreferencesWindow() const
{
    return services().hasPreferencesWindow();
}

QWidget *KLImageBrowserViewDelegate::enclosingView() const
{
    return imageBrowser();
}
