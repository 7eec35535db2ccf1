#pragma once
// KLServices: what the main window, its panes and their menus ask of the rest of the program
// (questions to the user, messages, the tag editor, the preferences window, the drop zone, the
// beep), in one object. The shell makes it once at start-up and hands it to the main window
// controller, which hands it to its panes; the panes hand it to their menus. Nothing here is
// global: a test builds its own KLServices with fakes and gives it to what it builds.
//
// Each service is a std::function member. Callers go through the member functions, never the
// members, so that an empty member falls back to a default: the message boxes and the menu
// pop-up of a plain Qt program and the system beep, or, where nothing can be done without the
// service (no tag editor, no preferences window, no drop zone), a log line and "no".
//
// The holder (the shell, or a test) keeps the object alive as long as the controllers it was
// handed to; they keep a pointer and see later changes to its members.
#include "recent/KLItemServices.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QMenu;
class QPoint;
class QWidget;
class KLMetadataIndex;
class XPFileJobs;

// What the trash confirmation says (and whether it asks at all).
struct KLTrashWarning {
    bool ask = false;     // show the alert; false: go ahead without asking
    bool proceed = false; // when !ask: the answer
    bool folder = false;  // the folder warning
    QString message;
    QString informativeText;
    QString confirmButton; // "Move to Trash"; Cancel is the default button
};

// What the question before a user's add that would push items out of the Cooler says.
struct KLPushOutQuestion {
    int adding = 0;    // new items that the add brings
    int pushedOut = 0; // items that would leave the end of the Cooler
    QString message;
    QString informativeText;
};

// A file an operation could not handle, and why (the system's words).
struct KLFileFailure {
    QString path;
    QString why;
};

// One message to the user about the files an operation could not handle: a change to the
// list's files (trash, filing) or a command that hands files to another program (open, show
// in the file manager, properties, a web page).
struct KLFileFailureReport {
    // A change to the list's files fails while the user works in the window: its message is a
    // sheet over the window. A command may answer after the user left the window (the file
    // manager answers later, the opened program takes the focus): its message is a window of
    // its own that does not block.
    enum class Shown { OverWindow, OwnWindow };
    Shown shown = Shown::OverWindow;
    QString title;           // the window title: "Kelso", or the command
    QString message;         // names the file, or counts them
    QString informativeText; // the reasons, and what became of the items
    QList<KLFileFailure> failures;
    static KLFileFailureReport trashFailed(const QList<KLFileFailure> &failures);
    static KLFileFailureReport filingFailed(const QList<KLFileFailure> &failures);
};

// The pages the preferences window opens on.
enum class KLPreferencesPage { General, HiddenFolders };

struct KLServices {
    // Shows the trash confirmation; answers true for the confirm button.
    std::function<bool(const KLTrashWarning &warning)> trashAlertPresenter;
    // Asks before a user's add pushes items out of the full Cooler; answers true to go ahead.
    std::function<bool(const KLPushOutQuestion &question)> pushOutPresenter;
    // Shows one message about the files an operation could not handle, over `window` (none:
    // no window).
    std::function<void(const KLFileFailureReport &report, QWidget *window)> fileFailurePresenter;
    // Pops up a pane's context menu (deleted when it closes) at a global position.
    std::function<void(QMenu *menu, const QPoint &globalPos)> contextMenuPresenter;
    // The tag editor for these paths (Return in a grid, "Edit Tags…").
    std::function<void(const QStringList &paths)> tagEditorOpener;
    // Runs a tag search (" tag: work starrating:>=3", the tag search window's query text) and
    // shows its results.
    std::function<void(const QString &queryText)> tagQueryRunner;
    // The preferences window on a page; none: the menus offer no preferences entries.
    std::function<void(KLPreferencesPage page)> preferencesOpener;
    // Whether the drag that just ended was dropped on the drop zone.
    std::function<bool()> dropZoneQuery;
    // The sound of a refused action (a move onto a name that is taken).
    std::function<void()> beeper;
    // What the panes' items ask for (cell pictures, the missing-file picker); the main window
    // controller hands it to the item owners and fills in its icon-changed handler. None:
    // items show no pictures and cannot pick a replacement.
    KLItemServicesPtr items;
    // The process's metadata index service (its database path for the search bar's queries,
    // the first crawl's progress for the quiet line). None: no index (tests, tools).
    KLMetadataIndex *metadataIndex = nullptr;
    // Where the panes' file operations (Move To, filing, trash) run, off the GUI thread. None:
    // the process's shared instance.
    XPFileJobs *fileJobs = nullptr;

    // --- calls, with the defaults for empty members ---
    // Default: a modal warning box, Cancel the default button.
    bool confirmTrashing(const KLTrashWarning &warning) const;
    // Default: a modal question box, Cancel the default button.
    bool confirmPushingOut(const KLPushOutQuestion &question) const;
    // Logs each failure, then shows the report (nothing for a report without failures).
    // Default: a warning box that does not block, as the report's `shown` says.
    void reportFileFailures(const KLFileFailureReport &report, QWidget *window) const;
    // Default: QMenu::popup().
    void popUpContextMenu(QMenu *menu, const QPoint &globalPos) const;
    // Default: logs that there is no tag editor.
    void openTagEditor(const QStringList &paths) const;
    // Default: logs the query that could not be run.
    void runTagQuery(const QString &queryText) const;
    bool hasPreferencesWindow() const { return bool(preferencesOpener); }
    // Default: logs that there is no preferences window.
    void openPreferences(KLPreferencesPage page) const;
    // Default: false (no drop zone).
    bool dragEndedOnDropZone() const;
    // Default: QApplication::beep().
    void beep() const;
    // Default: XPFileJobs::shared().
    XPFileJobs &jobs() const;

    // An empty set: every call takes its default. For panes and menus built without services.
    static const KLServices &defaults();
};
