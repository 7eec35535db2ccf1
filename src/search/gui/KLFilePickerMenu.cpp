#include "search/gui/KLFilePickerMenu.h"

#include "fileops/XPFileJobs.h"
#include "fileops/gui/XPIcons.h"
#include "search/KLFilePicker.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

namespace {
const char kFolderProperty[] = "klFilePickerFolderURL";
} // namespace

KLFilePickerMenu::KLFilePickerMenu(QObject *parent) : QObject(parent) {}

KLFilePickerMenu *KLFilePickerMenu::notifier()
{
    static KLFilePickerMenu *n = new KLFilePickerMenu(qApp);
    return n;
}

void KLFilePickerMenu::attach(QMenu *menu)
{
    QPointer<QMenu> guarded(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, guarded] {
        if (guarded)
            menuNeedsUpdate(guarded);
    });
}

QString KLFilePickerMenu::folderOfMenu(const QMenu *menu)
{
    const QUrl url = menu ? menu->property(kFolderProperty).toUrl() : QUrl();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

void KLFilePickerMenu::menuNeedsUpdate(QMenu *menu)
{
    const QString folder = folderOfMenu(menu);
    // Old folder submenus go with their entries.
    const QList<QAction *> old = menu->actions();
    for (QAction *a : old)
        if (a->menu() && a->menu()->parent() == menu)
            a->menu()->deleteLater();
    menu->clear();
    if (folder.isEmpty()) {
        addHomeItems(menu);
        return;
    }
    bool ok = false;
    const KLFilePicker::Entry self = KLFilePicker::entryForPath(folder, true, &ok);
    if (!ok)
        return;
    // The folder itself first, so that it can be chosen.
    QAction *here = menu->addAction(XPIcons::iconForPath(folder), self.title);
    here->setData(QUrl::fromLocalFile(folder));
    connect(here, &QAction::triggered, this, [this, here] { triggered(here); });
    menu->addSeparator();
    addDirContents(folder, menu);
}

void KLFilePickerMenu::addHomeItems(QMenu *menu)
{
    const QList<KLFilePicker::Entry> entries = KLFilePicker::homeItems(m_showEverywhereItem, m_foldersOnly);
    for (const KLFilePicker::Entry &e : entries)
        addItem(e.path, menu);
}

QAction *KLFilePickerMenu::addItem(const QString &path, QMenu *menu)
{
    QAction *action = nullptr;
    if (path.isEmpty()) {
        action = menu->addAction(QStringLiteral("Everywhere"));
        action->setData(QVariant());
    } else {
        bool ok = false;
        const KLFilePicker::Entry e = KLFilePicker::entryForPath(path, m_foldersOnly, &ok);
        if (!ok)
            return nullptr;
        action = menu->addAction(XPIcons::iconForPath(path), e.title);
        action->setData(QUrl::fromLocalFile(path));
        if (e.isFolder) {
            auto *sub = new QMenu(e.title, menu);
            sub->setProperty(kFolderProperty, QUrl::fromLocalFile(path));
            attach(sub);
            action->setMenu(sub);
        }
    }
    action->setEnabled(true);
    connect(action, &QAction::triggered, this, [this, action] { triggered(action); });
    return action;
}

void KLFilePickerMenu::addDirContents(const QString &folder, QMenu *menu)
{
    const QList<KLFilePicker::Entry> entries = KLFilePicker::dirContents(folder, m_foldersOnly);
    for (const KLFilePicker::Entry &e : entries)
        addItem(e.path, menu);
}

void KLFilePickerMenu::triggered(QAction *entry)
{
    switch (m_menuSelector) {
    case SetMenuTitle:
        setMenuTitle(entry);
        break;
    case MoveToPath:
        moveToPath(entry);
        break;
    case AddToCooler:
        addToCooler(entry);
        break;
    }
}

void KLFilePickerMenu::setMenuTitle(QAction *entry)
{
    m_lastPicked = entry ? entry->data().toUrl() : QUrl();
    Q_EMIT searchLocationChanged();
    if (this != notifier())
        Q_EMIT notifier()->searchLocationChanged();
}

void KLFilePickerMenu::moveToPath(QAction *entry)
{
    const QUrl url = entry ? entry->data().toUrl() : QUrl();
    if (!url.isLocalFile())
        return;
    // The beeper is taken along: the menu and this object may be gone when the move ends.
    std::function<void()> beep = m_beeper ? m_beeper : std::function<void()>([] { QApplication::beep(); });
    const QStringList files = m_filesToMove;
    const QString folder = url.toLocalFile();
    std::function<int()> work = [files, folder] {
        return int(files.size()) - KLFilePicker::moveFilesToFolder(files, folder, {});
    };
    // Each file that could not be moved beeps, as a refused move does.
    std::function<void(const int &)> done = [beep](const int &failed) {
        for (int i = 0; i < failed; ++i)
            beep();
    };
    XPFileJobs &jobs = m_fileJobs ? *m_fileJobs : XPFileJobs::shared();
    if (!jobs.run(files, std::move(work), nullptr, std::move(done)))
        beep();
}

void KLFilePickerMenu::addToCooler(QAction *entry)
{
    const QUrl url = entry ? entry->data().toUrl() : QUrl();
    if (url.isLocalFile() && m_coolerAdder)
        m_coolerAdder({url.toLocalFile()});
}
