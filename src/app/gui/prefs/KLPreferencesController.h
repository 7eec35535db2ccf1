#pragma once
// The preferences window: five panes chosen from a toolbar (general, the three never-show lists
// of folders, extensions and files with the path fragments below the files, advanced). One
// window per process, made on first use.
//
// While it is open the drop zone overlaps the screen (KPDropZoneOverlapWithScreen), and while it
// is the active window keyStatusChanged(true) asks the drop zone to show its strip, so that the
// user sees the zone while setting its edge. Losing the focus ends an edit in progress (a
// half-typed fragment is kept), as closing does.
#include "browser/KLServices.h"
#include "prefs/KLExclusionLists.h"

#include <QMainWindow>

class Defaults;
class KLExclusionPane;
class QActionGroup;
class QStackedWidget;

class KLPreferencesController : public QMainWindow
{
    Q_OBJECT
public:
    enum Pane { General, UnwantedDirectories, UnwantedExtensions, UnwantedItems, Advanced };

    // The shared window, made on first call (on the standard settings).
    static KLPreferencesController *singleInstance();
    static bool hasInstance();
    // preferencesAction: the shared window on a page, brought to the front and made active.
    static void showPreferences(KLPreferencesPage page);

    explicit KLPreferencesController(Defaults &defaults, QWidget *parent = nullptr);
    ~KLPreferencesController() override;

    // generalAction, unwantedDirectoriesAction, …: selects the toolbar item and shows its pane.
    void showPane(Pane pane);
    Pane currentPane() const;
    QWidget *paneWidget(Pane pane) const;
    // The editor of one never-show list (the fragments share the files pane).
    KLExclusionPane *exclusionPane(KLExclusionList list) const;

Q_SIGNALS:
    // The window became (true) or stopped being (false) the active window.
    void keyStatusChanged(bool key);

protected:
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void endEditing();
    static void focusFirstControl(QWidget *pageWidget);
    void savePosition();

    Defaults &m_defaults;
    QStackedWidget *m_stack = nullptr;
    QActionGroup *m_toolbarItems = nullptr;
    KLExclusionPane *m_panes[4] = {};
    bool m_wasActive = false;
};
