#include "browser/menus/KLPaneMenus.h"

#include "browser/KLServices.h"
#include "browser/menus/KLFileCommands.h"
#include "fileops/XPFileJobs.h"
#include "fileops/XPFileUtils.h"
#include "fileops/XPOpenWith.h"
#include "fileops/gui/XPIcons.h"
#include "fileops/gui/XPSimpleFileRenameController.h"
#include "platform/XPSandboxUtils.h"
#include "prefs/KLUnwanted.h"
#include "search/gui/KLFilePickerMenu.h"
#include "tags/XPFiledDocuments.h"
#include "util/Localized.h"
#include "util/Tilde.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QMenu>
#include <QPointer>
#include <QWidget>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <sys/stat.h>

namespace {

const char kManageSettledProperty[] = "klManageEntriesSettled";

QVariant itemsObject(const QList<KLItemPtr> &items)
{
    return QVariant::fromValue(items);
}

QList<KLItemPtr> itemsOf(const QAction *action)
{
    return action->data().value<QList<KLItemPtr>>();
}

bool existsOnDisk(const QString &path)
{
    struct stat st;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

QString displayNameOfPath(const QString &path)
{
    if (path == QLatin1String("/"))
        return path;
    return path.section(QLatin1Char('/'), -1);
}

QWidget *windowOf(QWidget *view)
{
    return view ? view->window() : nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KLPaneMenuActions

const KLServices &KLPaneMenuActions::services() const
{
    return KLServices::defaults();
}

bool KLPaneMenuActions::fileIsUnderRoot(const QString &path) const
{
    return XPSandboxUtils::fileIsUnderRoot(path);
}

bool KLPaneMenuActions::pathsAreAllManaged(const QStringList &paths) const
{
    return XPFiledDocuments::pathsAreAllManaged(paths);
}

bool KLPaneMenuActions::usesFiledDocuments() const
{
    return XPFiledDocuments::usesFiledDocuments();
}

std::function<KLManageFacts()> KLPaneMenuActions::manageFactsReader(const QStringList &paths) const
{
    return [paths] {
        KLManageFacts facts;
        facts.allManaged = XPFiledDocuments::pathsAreAllManaged(paths);
        facts.usesFiling = XPFiledDocuments::usesFiledDocuments();
        return facts;
    };
}

void KLPaneMenuActions::openExternallyAction(const QList<KLItemPtr> &items)
{
    KLFileCommands::open(KLItem::pathsForItems(items), enclosingView(), services());
}

void KLPaneMenuActions::revealFolderInFinderAction(const QVariant &object)
{
    if (object.typeId() == QMetaType::QString) {
        KLFileCommands::reveal({object.toString()}, enclosingView(), services());
        return;
    }
    KLFileCommands::reveal(KLItem::pathsForItems(object.value<QList<KLItemPtr>>()), enclosingView(), services());
}

void KLPaneMenuActions::getInfoInFinderAction(const QList<KLItemPtr> &items)
{
    KLFileCommands::showProperties(KLItem::pathsForItems(items), enclosingView(), services());
}

void KLPaneMenuActions::editTagsAction(const QList<KLItemPtr> &items)
{
    editTagsForFilePaths(KLItem::pathsForItems(items));
}

void KLPaneMenuActions::renameAction(const QList<KLItemPtr> &items)
{
    if (items.isEmpty() || !items.last())
        return;
    XPSimpleFileRenameController::showRenameDialogForFile(items.last()->path(), windowOf(enclosingView()),
                                                          &services().jobs());
}

void KLPaneMenuActions::resolveAliasAction(const KLItemPtr &item)
{
    if (item)
        item->resolveBookmarkPossiblyWithUI();
}

void KLPaneMenuActions::addUnwantedDirectoryMenuItemAction(const QVariant &object)
{
    if (object.typeId() == QMetaType::QString)
        KLUnwanted::addUnwantedDirectory(object.toString());
}

void KLPaneMenuActions::addUnwantedExtensionMenuItemAction(const QVariant &object)
{
    if (object.typeId() == QMetaType::QString)
        KLUnwanted::addUnwantedExtensionFromFilePath(object.toString());
}

void KLPaneMenuActions::addUnwantedItemMenuItemAction(const QVariant &object)
{
    if (object.typeId() == QMetaType::QString)
        KLUnwanted::addUnwantedItem(object.toString());
}

void KLPaneMenuActions::setSelectionsManaged(const QStringList &paths, bool managed)
{
    // Each mark is an attribute write paced by 20 ms: a worker's job, never the window's.
    std::function<bool()> work = [paths, managed] {
        for (const QString &p : paths)
            XPFiledDocuments::setManaged(managed, p);
        return true;
    };
    if (!services().jobs().run(paths, std::move(work), nullptr, std::function<void(const bool &)>()))
        services().beep();
}

void KLPaneMenuActions::setSelectionsFiledDocs(const QStringList &paths)
{
    using Outcomes = QList<XPFiledDocuments::FilingOutcome>;
    std::function<Outcomes()> work = [paths] {
        Outcomes outcomes;
        XPFiledDocuments::putFilesIntoFiledDocuments(paths, true, &outcomes);
        return outcomes;
    };
    QPointer<QWidget> view = enclosingView();
    const KLServices *s = &services();
    std::function<void(const Outcomes &)> done = [view, s](const Outcomes &outcomes) {
        QList<KLFileFailure> failures;
        for (const XPFiledDocuments::FilingOutcome &o : outcomes) {
            if (o.kind == XPFiledDocuments::FilingOutcome::Failed || o.markFailed)
                failures.append({o.source, o.why});
        }
        s->reportFileFailures(KLFileFailureReport::filingFailed(failures), view.data());
    };
    if (!services().jobs().run(paths, std::move(work), nullptr, std::move(done)))
        services().beep();
}

void KLPaneMenuActions::openSelectedWithAppAction(const QVariantMap &record)
{
    QString why;
    if (!XPFileUtils::openWithApp(record, &why) && !why.isEmpty())
        KLFileCommands::reportFailures(KLFileCommands::Command::OpenWith,
                                       {{record.value(QStringLiteral("path")).toString(), why}}, enclosingView(),
                                       services());
}

void KLPaneMenuActions::openSelectedWithOtherAction(const QVariantMap &record)
{
    QString why;
    if (!XPFileUtils::openWithOther(record, windowOf(enclosingView()), &why) && !why.isEmpty())
        KLFileCommands::reportFailures(KLFileCommands::Command::OpenWith,
                                       {{record.value(QStringLiteral("path")).toString(), why}}, enclosingView(),
                                       services());
}

// ---------------------------------------------------------------------------------------------
// KLPaneMenuBuilder

KLPaneMenuBuilder::KLPaneMenuBuilder(KLPaneKind kind, KLPaneMenuActions *actions, QObject *parent)
    : QObject(parent), m_kind(kind), m_actions(actions)
{
}

KLPaneMenuBuilder::~KLPaneMenuBuilder() = default;

QAction *KLPaneMenuBuilder::addEntry(QMenu *menu, const QString &title, const char *actionName, const QVariant &data)
{
    QAction *action = menu->addAction(title);
    action->setObjectName(QString::fromLatin1(actionName));
    action->setData(data);
    KLPaneMenuActions *a = m_actions;
    QObject::connect(action, &QAction::triggered, menu, [a, action] {
        if (!a)
            return;
        // The name as it is now: the managed entry learns which way it goes after it is made.
        const QByteArray name = action->objectName().toLatin1();
        const QVariant object = action->data();
        if (name == "openExternallyAction")
            a->openExternallyAction(itemsOf(action));
        else if (name == "renameAction")
            a->renameAction(itemsOf(action));
        else if (name == "editTagsAction")
            a->editTagsAction(itemsOf(action));
        else if (name == "revealFolderInFinderAction")
            a->revealFolderInFinderAction(object);
        else if (name == "getInfoInFinderAction")
            a->getInfoInFinderAction(itemsOf(action));
        else if (name == "removeFromKelsoAction")
            a->removeFromKelsoAction(itemsOf(action));
        else if (name == "moveToTrashAction")
            a->moveToTrashAction(itemsOf(action));
        else if (name == "resolveAliasAction")
            a->resolveAliasAction(object.value<KLItemPtr>());
        else if (name == "addUnwantedDirectoryMenuItemAction")
            a->addUnwantedDirectoryMenuItemAction(object);
        else if (name == "addUnwantedExtensionMenuItemAction")
            a->addUnwantedExtensionMenuItemAction(object);
        else if (name == "addUnwantedItemMenuItemAction")
            a->addUnwantedItemMenuItemAction(object);
        else if (name == "editUnwantedDirectoriesAction")
            a->editUnwantedDirectoriesAction();
        else if (name == "setSelectionsManaged")
            a->setSelectionsManaged(object.toStringList(), true);
        else if (name == "setSelectionsNotManaged")
            a->setSelectionsManaged(object.toStringList(), false);
        else if (name == "setSelectionsFiledDocs")
            a->setSelectionsFiledDocs(object.toStringList());
        else if (name == "preferencesAction")
            a->preferencesAction();
    });
    return action;
}

QMenu *KLPaneMenuBuilder::contextMenuForItems(const QList<KLItemPtr> &selected, QWidget *parent)
{
    if (selected.size() == 1)
        return menuForItem(selected.constFirst(), parent);
    return menuForMultipleItems(selected, parent);
}

QAction *KLPaneMenuBuilder::menuItemForPath(const QString &path, int indentationLevel, PathAction action, QMenu *menu)
{
    const QString expanded = PimsAdditions::stringByExpandingTildeInPathSANDBOX(path);
    QString title = displayNameOfPath(expanded);
    if (indentationLevel > 0)
        title.prepend(QString(indentationLevel * 4, QLatin1Char(' ')));
    QAction *entry = addEntry(
        menu, title,
        action == RevealFolderInFinder ? "revealFolderInFinderAction" : "addUnwantedDirectoryMenuItemAction", expanded);
    entry->setProperty("indentationLevel", indentationLevel);
    const QIcon icon = XPIcons::iconForPath(expanded);
    if (!icon.isNull())
        entry->setIcon(icon);
    return entry;
}

QMenu *KLPaneMenuBuilder::baseMenuForItem(const KLItemPtr &item, QWidget *parent, bool *exists)
{
    auto *menu = new QMenu(parent);
    m_currentPathMenu = nullptr;
    m_moveToPathMenu = nullptr;
    m_neverShowFolderMenu = nullptr;
    m_moveToPathBuilder.reset();
    const QString path = item ? PimsAdditions::stringByExpandingTildeInPathSANDBOX(item->path()) : QString();
    *exists = existsOnDisk(path);
    if (!*exists) {
        addEntry(menu, KLLocalized(QStringLiteral("DPResolveAlias")), "resolveAliasAction", QVariant::fromValue(item));
        return menu;
    }
    const bool underRoot = m_actions->fileIsUnderRoot(path);
    const QVariant justX = itemsObject({item});
    if (underRoot) {
        QMenu *openWith = XPFileUtils::makeOpenWithMenuForDocument(path, m_actions, menu);
        openWith->setTitle(KLLocalized(QStringLiteral("Open With…")));
        menu->addMenu(openWith)->setObjectName(QStringLiteral("openWithMenu"));
        addEntry(menu, KLLocalized(QStringLiteral("DPOpenExternally")), "openExternallyAction", justX);
        addEntry(menu, KLLocalized(QStringLiteral("Rename…")), "renameAction", justX);
        addEntry(menu, KLLocalized(QStringLiteral("DPEditTagsMenuItem")), "editTagsAction", justX);
    }
    m_currentPathMenu = new QMenu(KLLocalized(QStringLiteral("KLPathMenuItem")), menu);
    for (const QString &p : item->arrayOfPaths(true))
        menuItemForPath(p, 0, RevealFolderInFinder, m_currentPathMenu);
    menu->addMenu(m_currentPathMenu)->setObjectName(QStringLiteral("currentPathMenu"));
    addEntry(menu, KLLocalized(QStringLiteral("DPRevealInFinder")), "revealFolderInFinderAction", justX);
    addEntry(menu, KLLocalized(QStringLiteral("DPGetInfoInFinder")), "getInfoInFinderAction", justX);
    if (underRoot)
        addManageAndFileItems({item}, menu);
    return menu;
}

QMenu *KLPaneMenuBuilder::baseMenuForMultipleItems(const QList<KLItemPtr> &items, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    m_currentPathMenu = nullptr;
    m_moveToPathMenu = nullptr;
    m_neverShowFolderMenu = nullptr;
    m_moveToPathBuilder.reset();
    const QVariant all = itemsObject(items);
    const bool rootOK = m_actions->fileIsUnderRoot(QStringLiteral("/"));
    if (rootOK) {
        addEntry(menu, KLLocalized(QStringLiteral("Open all items")), "openExternallyAction", all);
        addEntry(menu, KLLocalized(QStringLiteral("Edit common tags")), "editTagsAction", all);
    }
    addEntry(menu, KLLocalized(QStringLiteral("Reveal in Finder")), "revealFolderInFinderAction", all);
    addEntry(menu, KLLocalized(QStringLiteral("Get Info in Finder")), "getInfoInFinderAction", all);
    if (rootOK)
        addManageAndFileItems(items, menu);
    return menu;
}

void KLPaneMenuBuilder::addManageAndFileItems(const QList<KLItemPtr> &items, QMenu *menu)
{
    if (items.isEmpty() || items.size() > kManageAndFileLimit)
        return;
    const QStringList paths = KLItem::pathsForItems(items);
    if (paths.isEmpty())
        return;
    menu->addSeparator();
    // The marks (attributes of up to 1,000 files), the items' kinds and the filing folder are
    // read on a pool thread; the entries wait, disabled, for what they should say.
    QPointer<QAction> managed =
        addEntry(menu, KLLocalized(QStringLiteral("XPMarkAsManaged")), "setSelectionsManaged", paths);
    managed->setEnabled(false);
    QPointer<QAction> filing;
    if (!paths.last().contains(QLatin1String("Filed Documents"))) {
        filing = addEntry(menu, KLLocalized(QStringLiteral("XPMoveToFiled")), "setSelectionsFiledDocs", paths);
        filing->setEnabled(false);
    }
    menu->setProperty(kManageSettledProperty, false);
    struct Facts {
        KLManageFacts read;
        bool someFile = false;
    };
    auto *watcher = new QFutureWatcher<Facts>(menu);
    QPointer<QMenu> guardedMenu = menu;
    connect(watcher, &QFutureWatcherBase::finished, menu, [watcher, guardedMenu, managed, filing] {
        watcher->deleteLater();
        const Facts facts = watcher->result();
        if (managed) {
            if (facts.read.allManaged) {
                managed->setText(KLLocalized(QStringLiteral("XPMarkAsNotManaged")));
                managed->setObjectName(QStringLiteral("setSelectionsNotManaged"));
            }
            managed->setEnabled(true);
        }
        // Filing moves files only: a selection of folders gets no entry that would do nothing.
        if (filing) {
            if (facts.someFile && facts.read.usesFiling) {
                filing->setEnabled(true);
            } else {
                guardedMenu->removeAction(filing);
                filing->deleteLater();
            }
        }
        guardedMenu->setProperty(kManageSettledProperty, true);
    });
    watcher->setFuture(QtConcurrent::run([reader = m_actions->manageFactsReader(paths), paths] {
        Facts facts;
        facts.read = reader();
        facts.someFile =
            std::any_of(paths.cbegin(), paths.cend(), [](const QString &p) { return XPFileUtils::isFileOrPackage(p); });
        return facts;
    }));

    m_moveToPathMenu = new QMenu(QStringLiteral("Move To"), menu);
    m_moveToPathBuilder = std::make_unique<KLFilePickerMenu>();
    m_moveToPathBuilder->setFoldersOnly(true);
    m_moveToPathBuilder->setShowEverywhereItem(false);
    m_moveToPathBuilder->setEnclosingView(m_actions->enclosingView());
    m_moveToPathBuilder->setMenuSelector(KLFilePickerMenu::MoveToPath);
    m_moveToPathBuilder->setFilesToMove(paths);
    // A refused move beeps through the pane's services (they outlive the pane and its menus).
    m_moveToPathBuilder->setBeeper([services = &m_actions->services()] { services->beep(); });
    m_moveToPathBuilder->setFileJobs(&m_actions->services().jobs());
    m_moveToPathBuilder->attach(m_moveToPathMenu);
    menu->addMenu(m_moveToPathMenu)->setObjectName(QStringLiteral("moveToPathMenu"));
}

bool KLPaneMenuBuilder::manageEntriesAreSettled(const QMenu *menu)
{
    return menu && menu->property(kManageSettledProperty).toBool();
}

void KLPaneMenuBuilder::addMenuItemsForMissingMainMenu(QMenu *menu)
{
    if (!m_actions->hasPreferencesWindow())
        return;
    menu->addSeparator();
    addEntry(menu, KLLocalized(QStringLiteral("DPMenuItemPreferences")), "preferencesAction", QVariant());
}

void KLPaneMenuBuilder::appendRecentExtensions(const KLItemPtr &item, const QString &path, QMenu *menu)
{
    menu->addSeparator();
    m_neverShowFolderMenu = new QMenu(KLLocalized(QStringLiteral("DPDontShowDirectorySubmenu")), menu);
    const QStringList folders = item->arrayOfPaths(false);
    for (const QString &folder : folders)
        menuItemForPath(folder, 0, AddUnwantedDirectory, m_neverShowFolderMenu);
    const QString ext = XPFileUtils::pathExtension(path);
    if (!ext.isEmpty())
        addEntry(menu, KLLocalized(QStringLiteral("DPDontShowExtension"), {ext}), "addUnwantedExtensionMenuItemAction",
                 path);
    const QString name = displayNameOfPath(path);
    if (!name.isEmpty())
        addEntry(menu, KLLocalized(QStringLiteral("DPDontShowItem"), {name}), "addUnwantedItemMenuItemAction", path);
    if (m_actions->hasPreferencesWindow()) {
        if (!folders.isEmpty())
            m_neverShowFolderMenu->addSeparator();
        addEntry(m_neverShowFolderMenu, KLLocalized(QStringLiteral("DPEditUnwantedDirectories")),
                 "editUnwantedDirectoriesAction", QVariant());
    }
    // An empty submenu would be an entry that does nothing (an item directly under "/").
    if (!m_neverShowFolderMenu->isEmpty())
        menu->addMenu(m_neverShowFolderMenu)->setObjectName(QStringLiteral("neverShowFolderMenu"));
    menu->addSeparator();
    const QVariant justX = itemsObject({item});
    addEntry(menu, KLLocalized(QStringLiteral("DPMenuItemRemoveFromKelso")), "removeFromKelsoAction", justX);
    if (m_actions->fileIsUnderRoot(path))
        addEntry(menu, KLLocalized(QStringLiteral("DPMenuItemMoveToTrash")), "moveToTrashAction", justX);
    addMenuItemsForMissingMainMenu(menu);
}

QMenu *KLPaneMenuBuilder::menuForItem(const KLItemPtr &item, QWidget *parent)
{
    bool exists = false;
    QMenu *menu = baseMenuForItem(item, parent, &exists);
    // A missing file offers only the entry that finds it again.
    if (!exists)
        return menu;
    const QString path = PimsAdditions::stringByExpandingTildeInPathSANDBOX(item->path());
    if (m_kind == KLPaneKind::Recent) {
        appendRecentExtensions(item, path, menu);
    } else {
        menu->addSeparator();
        const QVariant justX = itemsObject({item});
        addEntry(menu, KLLocalized(QStringLiteral("DPMenuItemRemoveFromCooler")), "removeFromKelsoAction", justX);
        if (m_actions->fileIsUnderRoot(path))
            addEntry(menu, KLLocalized(QStringLiteral("DPMenuItemMoveToTrash")), "moveToTrashAction", justX);
    }
    return menu;
}

QMenu *KLPaneMenuBuilder::menuForMultipleItems(const QList<KLItemPtr> &items, QWidget *parent)
{
    QMenu *menu = baseMenuForMultipleItems(items, parent);
    const QVariant all = itemsObject(items);
    const bool rootOK = m_actions->fileIsUnderRoot(QStringLiteral("/"));
    menu->addSeparator();
    if (m_kind == KLPaneKind::Recent) {
        addEntry(menu, KLLocalized(QStringLiteral("Remove all items from Kelso")), "removeFromKelsoAction", all);
        if (rootOK) {
            addEntry(menu, KLLocalized(QStringLiteral("Put all items in Trash")), "moveToTrashAction", all);
            addMenuItemsForMissingMainMenu(menu);
        }
    } else {
        addEntry(menu, KLLocalized(QStringLiteral("Remove all items from Cooler")), "removeFromKelsoAction", all);
        if (rootOK)
            addEntry(menu, KLLocalized(QStringLiteral("Put all items in Trash")), "moveToTrashAction", all);
    }
    return menu;
}

// ---------------------------------------------------------------------------------------------
// KLSelectionActions

namespace {
struct CommandInfo {
    const char *name;
    const char *titleKey;
};
constexpr CommandInfo kCommands[KLSelectionActions::kCommandCount] = {
    {"openSelectedExternallyAction", "DPOpenExternally"},
    {"revealSelectedInFinderAction", "DPRevealInFinder"},
    {"renameSelectedAction", "Rename…"},
    {"toggleManagedForSelectedAction", "XPMarkAsManaged"},
    {"moveToFiledDocumentsForSelectedAction", "XPMoveToFiled"},
    {"getInfoForSelectedInFinderAction", "DPGetInfoInFinder"},
    {"addUnwantedSelectedExtensionAction", "DPDontShowExtensionNothingSelected"},
    {"addUnwantedSelectedItemAction", "DPDontShowSelectedItems"},
    {"editSelectedTagsAction", "DPEditTagsMenuItem"},
};
} // namespace

KLSelectionActions::KLSelectionActions(std::function<KLPaneMenuActions *()> activePane, QObject *parent)
    : QObject(parent), m_activePane(std::move(activePane))
{
    for (int i = 0; i < kCommandCount; ++i) {
        auto *action = new QAction(KLLocalized(QString::fromUtf8(kCommands[i].titleKey)), this);
        action->setObjectName(QString::fromLatin1(kCommands[i].name));
        action->setData(i);
        connect(action, &QAction::triggered, this, [this, i] { perform(Command(i)); });
        m_actions[i] = action;
    }
}

void KLSelectionActions::addToMenu(QMenu *menu)
{
    for (QAction *action : m_actions)
        menu->addAction(action);
    connect(menu, &QMenu::aboutToShow, this, &KLSelectionActions::validateAll);
}

void KLSelectionActions::validateAll()
{
    for (QAction *action : m_actions)
        action->setEnabled(validateMenuItem(action));
}

bool KLSelectionActions::validateMenuItem(QAction *action)
{
    KLPaneMenuActions *pane = m_activePane ? m_activePane() : nullptr;
    const QStringList paths = pane ? pane->selectedItemPaths() : QStringList();
    const int n = int(paths.size());
    bool ok = false;
    const int index = action ? action->data().toInt() : -1;
    bool known = false;
    for (QAction *a : m_actions)
        known = known || a == action;
    if (!known)
        return true; // any other entry: always enabled, title unchanged
    switch (Command(index)) {
    case OpenSelectedExternally:
    case AddUnwantedSelectedItem:
    case EditSelectedTags:
    case GetInfoForSelectedInFinder:
        ok = n >= 1;
        break;
    case MoveToFiledDocumentsForSelected:
        ok =
            std::any_of(paths.cbegin(), paths.cend(), [](const QString &p) { return XPFileUtils::isFileOrPackage(p); });
        break;
    case RevealSelectedInFinder:
    case RenameSelected:
        ok = n == 1;
        break;
    case ToggleManagedForSelected:
        ok = n >= 1;
        action->setText(KLLocalized(ok && pane->pathsAreAllManaged(paths) ? QStringLiteral("XPMarkAsNotManaged")
                                                                          : QStringLiteral("XPMarkAsManaged")));
        break;
    case AddUnwantedSelectedExtension: {
        const QString ext = n == 1 ? XPFileUtils::pathExtension(paths.constFirst()) : QString();
        ok = !ext.isEmpty();
        action->setText(ok ? KLLocalized(QStringLiteral("DPDontShowExtension"), {ext})
                           : KLLocalized(QStringLiteral("DPDontShowExtensionNothingSelected")));
        break;
    }
    }
    action->setEnabled(ok);
    return ok;
}

void KLSelectionActions::perform(Command command)
{
    KLPaneMenuActions *pane = m_activePane ? m_activePane() : nullptr;
    if (!pane)
        return;
    const QStringList paths = pane->selectedItemPaths();
    if (paths.isEmpty())
        return;
    switch (command) {
    case OpenSelectedExternally:
        KLFileCommands::open(paths, pane->enclosingView(), pane->services());
        break;
    case RevealSelectedInFinder:
        KLFileCommands::reveal(paths, pane->enclosingView(), pane->services());
        break;
    case RenameSelected:
        if (paths.size() == 1)
            XPSimpleFileRenameController::showRenameDialogForFile(paths.constFirst(), windowOf(pane->enclosingView()),
                                                                  &pane->services().jobs());
        break;
    case ToggleManagedForSelected:
        pane->setSelectionsManaged(paths, !pane->pathsAreAllManaged(paths));
        break;
    case MoveToFiledDocumentsForSelected:
        pane->setSelectionsFiledDocs(paths);
        break;
    case GetInfoForSelectedInFinder:
        KLFileCommands::showProperties(paths, pane->enclosingView(), pane->services());
        break;
    case AddUnwantedSelectedExtension:
        for (const QString &p : paths)
            KLUnwanted::addUnwantedExtensionFromFilePath(p);
        break;
    case AddUnwantedSelectedItem:
        for (const QString &p : paths)
            KLUnwanted::addUnwantedItem(p);
        break;
    case EditSelectedTags:
        pane->editTagsForFilePaths(paths);
        break;
    }
}
