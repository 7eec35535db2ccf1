#pragma once
// KLSearchArea: the search bar of the main window and the results panel it fills.
//
// The bar is one row: the search field, the kind pop-up (15 entries), the time pop-up (7
// entries), the location pop-up (a cascading menu of folders from KLFilePickerMenu, with
// "Everywhere" at the top; its title is the picked folder's name) and a quiet status line
// (the index's first crawl). The results panel holds the results grid; while a search runs it
// takes the place of the views handed to setViewsToHide() (the recent files), and gives it
// back when the search is cleared.
//
// The bar's controls only report the user's changes to the KLSpotlightSearcher and follow what
// it says back (a cleared search, the "All" placeholder, the location title). Main thread only.
#include "browser/KLServices.h"
#include "search/KLSpotlightSearcher.h"

#include <QList>
#include <QObject>
#include <QPointer>

class KLCoolerImageBrowserDelegate;
class KLFilePickerMenu;
class KLMainWindowController;
class KLRoundedRectView;
class KLSearchBrowserView;
class KLSearchResultsPane;
class QComboBox;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

class KLSearchArea : public QObject
{
    Q_OBJECT
public:
    struct Options {
        KLSpotlightSearcher::QueryFactory queries;
        KLItemServicesPtr itemServices;
        const KLServices *services = nullptr;
        KLMainWindowController *mainWindow = nullptr;
        KLCoolerImageBrowserDelegate *cooler = nullptr;
    };
    // The two widgets are made as children of `parent`; the caller lays them out.
    KLSearchArea(Options options, QWidget *parent);
    ~KLSearchArea() override;

    QWidget *bar() const { return m_bar; }
    KLRoundedRectView *resultsView() const { return m_resultsView; }
    QLineEdit *searchField() const { return m_field; }
    QComboBox *fileTypeMenu() const { return m_kind; }
    QComboBox *dateMenu() const { return m_date; }
    QToolButton *locationButton() const { return m_location; }
    KLFilePickerMenu *locationMenuBuilder() const { return m_locationBuilder; }
    QLabel *statusLine() const { return m_status; }
    KLSearchBrowserView *searchBrowser() const { return m_grid; }
    KLSearchResultsPane *resultsPane() const { return m_pane; }
    KLSpotlightSearcher *searcher() const { return m_searcher; }

    // The views the results replace while a search runs.
    void setViewsToHide(const QList<QWidget *> &views);
    // The index's state as one quiet line ("Indexing: 12,345 files"); empty hides it.
    void setIndexStatus(const QString &text);

    // What the search area shows, for scripts: {"visible", "field", "kind", "time", "location",
    // "status", "results": [{"path", "title", "subtitle"}, …]} in the grid's order.
    QByteArray shownStateJson() const;

    // The field takes the keyboard focus with its text selected, the insertion point at its end.
    void focusOnSearch();

private:
    void buildBar(QWidget *parent);
    void buildResults(QWidget *parent);
    void showResults(bool show);
    void locationPicked();

    KLSpotlightSearcher *m_searcher = nullptr;
    KLSearchResultsPane *m_pane = nullptr;
    QWidget *m_bar = nullptr;
    QLineEdit *m_field = nullptr;
    QComboBox *m_kind = nullptr;
    QComboBox *m_date = nullptr;
    QToolButton *m_location = nullptr;
    KLFilePickerMenu *m_locationBuilder = nullptr;
    QLabel *m_status = nullptr;
    KLRoundedRectView *m_resultsView = nullptr;
    QLabel *m_resultsTitle = nullptr;
    QLabel *m_resultsCount = nullptr;
    KLSearchBrowserView *m_grid = nullptr;
    QList<QPointer<QWidget>> m_viewsToHide;
};
