#pragma once
// KLMainWindowController: the main window — a full-width translucent band with the recent
// files above and the Cooler below, each grid on its coloured background with its title,
// item count and explanation.
//
// It builds the window, applies the four colour settings (and follows their changes), places
// the band on the right screen (fullSizeWindowFrame, also on screen changes), moves the
// keyboard focus between the grids, shows and hides the window with its fade, and forwards
// redraws. Owns the two pane controllers and the shared one-line tool tip. Main thread only.
#include "browser/KLImageBrowserCell.h"
#include "recent/KLItemServices.h"
#include "search/KLSpotlightSearcher.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class KLCoolerImageBrowserDelegate;
class KLCustomWindow;
class KLFilePickerMenu;
class KLPaneMenuActions;
class KLImageBrowserView;
class KLImageBrowserViewDelegate;
class KLKelsoImageBrowserDelegate;
class KLRecentSource;
class KLRoundedRectView;
class KLSearchArea;
struct KLServices;
class KLSimpleToolTip;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QToolButton;

class KLMainWindowController : public QObject
{
    Q_OBJECT
public:
    static constexpr int kInset = 40;

    struct Options {
        bool trayMode = true;
        // The recent-files source; null: the program's collector.
        std::unique_ptr<KLRecentSource> recentSource;
        // The Cooler store; empty: coolerItems.plist in the application-support folder.
        QString coolerStorePath;
        // The program's services, handed on to the panes (and by them to their menus); must
        // outlive the controller. Null: KLServices::defaults().
        const KLServices *services = nullptr;
        // The search bar's queries on the metadata index; empty: searches find nothing.
        KLSpotlightSearcher::QueryFactory searchQueries;
    };
    explicit KLMainWindowController(Options options, QObject *parent = nullptr);
    ~KLMainWindowController() override;

    KLCustomWindow *window() const { return m_window; }
    KLKelsoImageBrowserDelegate *kelsoDelegate() const { return m_kelsoDelegate; }
    KLCoolerImageBrowserDelegate *coolerDelegate() const { return m_coolerDelegate; }
    KLImageBrowserView *kelsoBrowser() const { return m_kelsoBrowser; }
    KLImageBrowserView *coolerBrowser() const { return m_coolerBrowser; }
    KLSimpleToolTip *simpleToolTip() const { return m_simpleToolTip.get(); }
    KLRoundedRectView *kelsoView() const { return m_kelsoView; }
    KLRoundedRectView *coolerView() const { return m_coolerView; }
    QLabel *kelsoCountLabel() const { return m_kelsoCount; }
    QLabel *coolerCountLabel() const { return m_coolerCount; }
    QLabel *kelsoExplanation() const { return m_kelsoExplanation; }
    QPushButton *backButton() const { return m_backButton; }
    // The Cooler's file picker: a pop-up of places and folders whose files join the Cooler.
    QToolButton *filePicker() const { return m_filePicker; }
    KLFilePickerMenu *menuBuilder() const { return m_menuBuilder; }
    // The window's menu bar, shown in dock mode only and made when first asked for; the shell
    // fills it when menuBarCreated() tells it the bar exists.
    QMenuBar *menuBar();
    // The search bar and its results (which take the recent files' place while a search runs).
    KLSearchArea *searchArea() const { return m_searchArea; }
    KLSpotlightSearcher *spotlightSearcher() const;
    // Find: the search field takes the keyboard focus (after 0.1 s: activateSearchField).
    void focusOnSearch();
    void activateSearchField();
    // The Find command (Ctrl+F), active wherever the window has the focus; the shell also puts
    // it in the application menu.
    QAction *findAction() const { return m_findAction; }
    bool hasMenuBar() const { return m_menuBar != nullptr; }

    // Cell text styles.
    KLCellTextStyle kelsoTitleTextAttributes() const;
    KLCellTextStyle kelsoSubtitleTextAttributes() const;
    KLCellTextStyle coolerTitleTextAttributes() const;
    KLCellTextStyle coolerSubtitleTextAttributes() const;
    static KLCellTextStyle highlightedTitleTextAttributes();
    // `text` blended with `background` at `fraction` (0.4: 60 % text, 40 % background).
    static QColor blendedColour(const QColor &text, const QColor &background, double fraction);

    // Placement. `visibleArea` is the screen's area without panels (none: no screen).
    static QRectF fullSizeWindowFrame(const std::optional<QRect> &visibleArea, double windowHeight);
    QRectF fullSizeWindowFrame() const;
    void setWindowFrameForCurrentScreen(bool display);

    // Redraw after thumbnails arrived.
    void askForNeedsDisplay();

    // Focus.
    KLImageBrowserView *activeBrowser() const;
    KLImageBrowserViewDelegate *activeDelegate() const;
    // `column` >= 0: the column of the cell the move starts from (Up and Down leave a grid
    // from its first or last row); otherwise the source's first selected index.
    void switchPanelFrom(KLImageBrowserView *grid, bool down, int column = -1);
    // Ctrl+Z: brings back the last removal from Kelso, in whichever pane it happened.
    bool undoLastRemoval();
    // Escape inside a stack leaves the stack (and the window stays); answers whether it did.
    bool leaveStackOnEscape();
    // The pane the menu-bar and status-menu commands act on: the focused grid's pane, else the
    // pane holding a selection (the Cooler first), else none.
    KLPaneMenuActions *activePane() const;

    // Tab and Back-tab in the tag editor: the selection of the active pane (else of the pane
    // holding one) moves to the next or previous item and the editor opens on it. Answers
    // whether it moved (false at either end of the grid, or with nothing selected).
    bool tagEditorMoveToAnotherDocument(bool forward);

    // Showing and hiding.
    void setTrayMode(bool tray);
    void showWindow(bool makeKey);
    void orderOut();
    // The whole program out of sight now (window, tip, preview). In dock mode the window is
    // minimised, so that its taskbar entry stays.
    void hideApplication();
    bool trayMode() const;
    // A line at the top of the window (the first start's hint); empty text hides it. It goes
    // when the window is next hidden, or after kStartHintMs.
    static constexpr int kStartHintMs = 45000;
    void showStartHint(const QString &text);
    QLabel *startHintLabel() const { return m_startHint; }
    QToolButton *addFileButton() const { return m_filePicker; }

    // Files dragged out of a grid may join the Cooler (KPAutoAddDragsAndSuchToCooler).
    void autoAddToCooler(const QList<QUrl> &urls);
    // Whether the last drag ended on the drop zone (the services' drop-zone query).
    bool dragWasToDropZone() const;
    const KLServices &services() const { return *m_services; }

    // Life cycle, forwarded to the panes in order (recent files, then the Cooler).
    void applicationDidFinishLaunching();
    void applicationWillBecomeActive();
    void applicationDidBecomeActive();
    void applicationDidResignActive();
    void applicationWillTerminate();

Q_SIGNALS:
    void applicationHideRequested();
    void menuBarCreated(QMenuBar *bar);

private:
    void buildWindow();
    void applyColours();
    void applyKelsoStyles();
    void applyCoolerStyles();
    void settingChanged(const QString &key);
    void updateLabels();
    void watchScreens();
    int contentHeight() const;
    void markFocusedPane();

    const KLServices *m_services = nullptr;
    KLCustomWindow *m_window = nullptr;
    KLKelsoImageBrowserDelegate *m_kelsoDelegate = nullptr;
    KLCoolerImageBrowserDelegate *m_coolerDelegate = nullptr;
    KLImageBrowserView *m_kelsoBrowser = nullptr;
    KLImageBrowserView *m_coolerBrowser = nullptr;
    KLRoundedRectView *m_kelsoView = nullptr;
    KLRoundedRectView *m_coolerView = nullptr;
    QLabel *m_kelsoTitle = nullptr;
    QLabel *m_kelsoCount = nullptr;
    QLabel *m_kelsoExplanation = nullptr;
    QLabel *m_coolerTitle = nullptr;
    QLabel *m_coolerCount = nullptr;
    QLabel *m_coolerExplanation = nullptr;
    QPushButton *m_backButton = nullptr;
    QLabel *m_startHint = nullptr;
    QToolButton *m_filePicker = nullptr;
    KLFilePickerMenu *m_menuBuilder = nullptr;
    KLSearchArea *m_searchArea = nullptr;
    QAction *m_findAction = nullptr;
    KLSpotlightSearcher::QueryFactory m_searchQueries;
    QMenuBar *m_menuBar = nullptr;
    std::unique_ptr<KLSimpleToolTip> m_simpleToolTip;
    KLItemServicesPtr m_itemServices;
    QList<QMetaObject::Connection> m_screenConnections;
};
