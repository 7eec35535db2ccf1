#pragma once
// A cascading menu of the file system, filled when each part opens: starting places at the top,
// and for every folder a submenu listing the folder's contents. Three configurations use it:
//
//   place                      foldersOnly  showEverywhereItem  menuSelector
//   search location pop-up     on           on                  SetMenuTitle
//   "Move To" submenu          on           off                 MoveToPath
//   main window file picker    off          off                 AddToCooler
//
// Every folder submenu begins with an entry for the folder itself, so that a folder can be
// chosen (a menu entry that opens a submenu cannot be chosen on its own).
//
// The builder watches the menus it fills (attach() / the submenus it makes) and is the target of
// their entries; the entry's data is the file URL (none for "Everywhere").
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>
#include <functional>

class QAction;
class XPFileJobs;
class QMenu;
class QWidget;

class KLFilePickerMenu : public QObject
{
    Q_OBJECT
public:
    enum MenuSelector { SetMenuTitle, MoveToPath, AddToCooler };

    explicit KLFilePickerMenu(QObject *parent = nullptr);

    QWidget *enclosingView() const { return m_enclosingView; }
    void setEnclosingView(QWidget *view) { m_enclosingView = view; }
    bool foldersOnly() const { return m_foldersOnly; }
    void setFoldersOnly(bool on) { m_foldersOnly = on; }
    bool showEverywhereItem() const { return m_showEverywhereItem; }
    void setShowEverywhereItem(bool on) { m_showEverywhereItem = on; }
    MenuSelector menuSelector() const { return m_menuSelector; }
    void setMenuSelector(MenuSelector s) { m_menuSelector = s; }
    QUrl lastPickedLocationConstraint() const { return m_lastPicked; }
    void setLastPickedLocationConstraint(const QUrl &url) { m_lastPicked = url; }
    QStringList filesToMove() const { return m_filesToMove; }
    void setFilesToMove(const QStringList &paths) { m_filesToMove = paths; }

    // Makes this builder the menu's delegate: the menu is filled each time it is about to open.
    void attach(QMenu *menu);
    // menuNeedsUpdate: the top level (no folder attached) is emptied and gets the starting
    // places; a folder's submenu is emptied and gets the folder and its contents.
    void menuNeedsUpdate(QMenu *menu);
    void addHomeItems(QMenu *menu);
    // One entry for a path (empty path: "Everywhere"); folders get an empty submenu.
    QAction *addItem(const QString &path, QMenu *menu);
    void addDirContents(const QString &folder, QMenu *menu);
    // The folder a submenu lists, or empty for the top level.
    static QString folderOfMenu(const QMenu *menu);

    // Entry actions.
    void setMenuTitle(QAction *entry);
    void moveToPath(QAction *entry);
    void addToCooler(QAction *entry);

    // Where AddToCooler entries go (the main window sets it to the Cooler's addPaths at 0).
    void setCoolerAdder(std::function<void(const QStringList &paths)> adder) { m_coolerAdder = std::move(adder); }
    // The sound of a failed move (the pane's menus hand in their services' beep); none:
    // QApplication::beep().
    void setBeeper(std::function<void()> beeper) { m_beeper = std::move(beeper); }
    // Where MoveToPath moves the files: on a worker thread of these jobs (none: the shared
    // ones). The move may outlive this object; a refused or failed move still beeps.
    void setFileJobs(XPFileJobs *jobs) { m_fileJobs = jobs; }

Q_SIGNALS:
    // After setMenuTitle (the process-wide notification is notifier()->searchLocationChanged()).
    void searchLocationChanged();

public:
    // Carries "searchLocationChanged" to whoever searches (no object).
    static KLFilePickerMenu *notifier();

private:
    void triggered(QAction *entry);

    QPointer<QWidget> m_enclosingView;
    bool m_foldersOnly = false;
    bool m_showEverywhereItem = false;
    MenuSelector m_menuSelector = SetMenuTitle;
    QUrl m_lastPicked;
    QStringList m_filesToMove;
    std::function<void(const QStringList &)> m_coolerAdder;
    std::function<void()> m_beeper;
    XPFileJobs *m_fileJobs = nullptr;
};
