#include "browser/search/KLSearchArea.h"
#include "browser/KLCoolerImageBrowserDelegate.h"

#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserCell.h"
#include "browser/search/KLSearchBrowserView.h"
#include "browser/search/KLSearchResultsPane.h"
#include "search/KLMetadataIndex.h"
#include "search/gui/KLFilePickerMenu.h"
#include "util/Localized.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kResultRows = 2;

// Down or Return in the field goes on to the results, when there are any.
class FieldKeys : public QObject
{
public:
    FieldKeys(QLineEdit *field, KLSearchBrowserView *grid) : QObject(field), m_grid(grid) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        const int key = static_cast<QKeyEvent *>(event)->key();
        if ((key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) && m_grid &&
            m_grid->isVisibleTo(m_grid->window()) && m_grid->model() && m_grid->model()->rowCount() > 0) {
            m_grid->setFocus(Qt::TabFocusReason);
            if (!m_grid->selectionModel()->hasSelection())
                m_grid->setCurrentIndex(m_grid->model()->index(0, 0));
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<KLSearchBrowserView> m_grid;
};
} // namespace

KLSearchArea::KLSearchArea(Options options, QWidget *parent) : QObject(parent)
{
    m_searcher = new KLSpotlightSearcher(std::move(options.queries), options.itemServices, this);
    m_pane = new KLSearchResultsPane(m_searcher, this);
    m_pane->setServices(options.services);
    m_pane->setMainWindowController(options.mainWindow);
    m_pane->setCoolerDelegate(options.cooler);
    buildBar(parent);
    buildResults(parent);
    m_field->installEventFilter(new FieldKeys(m_field, m_grid));
    // The quiet line follows the index's first crawl.
    if (KLMetadataIndex *index = options.services ? options.services->metadataIndex : nullptr) {
        auto follow = [this, index] { setIndexStatus(index->progressText()); };
        connect(index, &KLMetadataIndex::progressChanged, this, follow);
        connect(index, &KLMetadataIndex::firstCrawlFinished, this, follow);
        follow();
    }

    connect(m_searcher, &KLSpotlightSearcher::searchTextChanged, m_field, [this](const QString &text) {
        if (m_field->text() != text)
            m_field->setText(text);
    });
    // The searcher's own changes are not the user's: they do not restart anything again.
    connect(m_searcher, &KLSpotlightSearcher::fileTypeIndexChanged, m_kind, [this](int index) {
        const QSignalBlocker quiet(m_kind);
        m_kind->setCurrentIndex(index);
    });
    connect(m_searcher, &KLSpotlightSearcher::dateIndexChanged, m_date, [this](int index) {
        const QSignalBlocker quiet(m_date);
        m_date->setCurrentIndex(index);
    });
    connect(m_searcher, &KLSpotlightSearcher::locationChanged, this, [this](const QString &title) {
        m_location->setText(title);
        if (m_searcher->location().isEmpty())
            m_locationBuilder->setLastPickedLocationConstraint({});
    });
    connect(m_searcher, &KLSpotlightSearcher::resultsShownChanged, this, &KLSearchArea::showResults);
    connect(m_searcher, &KLSpotlightSearcher::resultsChanged, this, [this] {
        const int n = int(m_searcher->currentResults().size());
        m_resultsCount->setText(KLLocalized(QStringLiteral("KLSearchResultCount"), {QString::number(n)}));
    });
}

KLSearchArea::~KLSearchArea()
{
    // The location builder goes before the menu it fills.
    delete m_locationBuilder;
}

void KLSearchArea::buildBar(QWidget *parent)
{
    m_bar = new QWidget(parent);
    m_bar->setObjectName(QStringLiteral("searchView"));
    m_bar->setAccessibleName(KLLocalized(QStringLiteral("KLSearchBarName")));
    auto *row = new QHBoxLayout(m_bar);
    row->setContentsMargins(6, 0, 6, 0);
    row->setSpacing(8);

    m_field = new QLineEdit(m_bar);
    m_field->setObjectName(QStringLiteral("searchField"));
    m_field->setAccessibleName(KLLocalized(QStringLiteral("KLSearchFieldName")));
    m_field->setPlaceholderText(KLLocalized(QStringLiteral("KLSearchFieldPlaceholder")));
    m_field->setClearButtonEnabled(true);
    m_field->setMinimumWidth(260);
    connect(m_field, &QLineEdit::textEdited, m_searcher, &KLSpotlightSearcher::setSearchText);
    // The clear button edits the text without a textEdited signal.
    connect(m_field, &QLineEdit::textChanged, m_searcher, [this](const QString &text) {
        if (text.isEmpty())
            m_searcher->setSearchText(text);
    });

    m_kind = new QComboBox(m_bar);
    m_kind->setObjectName(QStringLiteral("searchFileType"));
    m_kind->setAccessibleName(KLLocalized(QStringLiteral("KLSearchKindName")));
    m_kind->addItems(KLSpotlightSearcher::fileTypeTitles());
    // Any change the user makes: the list, the arrow keys or typing the entry's first letters.
    connect(m_kind, &QComboBox::currentIndexChanged, m_searcher, &KLSpotlightSearcher::setFileTypeIndex);

    m_date = new QComboBox(m_bar);
    m_date->setObjectName(QStringLiteral("searchDateMenu"));
    m_date->setAccessibleName(KLLocalized(QStringLiteral("KLSearchTimeName")));
    m_date->addItems(KLSpotlightSearcher::dateTitles());
    connect(m_date, &QComboBox::currentIndexChanged, m_searcher, &KLSpotlightSearcher::setDateIndex);

    m_location = new QToolButton(m_bar);
    m_location->setObjectName(QStringLiteral("searchLocationConstraint"));
    m_location->setAccessibleName(KLLocalized(QStringLiteral("KLSearchLocationName")));
    m_location->setText(m_searcher->locationTitle());
    m_location->setPopupMode(QToolButton::InstantPopup);
    m_location->setFocusPolicy(Qt::StrongFocus);
    auto *menu = new QMenu(m_location);
    menu->setAccessibleName(KLLocalized(QStringLiteral("KLSearchLocationName")));
    m_location->setMenu(menu);
    m_locationBuilder = new KLFilePickerMenu;
    m_locationBuilder->setEnclosingView(m_location);
    m_locationBuilder->setFoldersOnly(true);
    m_locationBuilder->setShowEverywhereItem(true);
    m_locationBuilder->setMenuSelector(KLFilePickerMenu::SetMenuTitle);
    m_locationBuilder->attach(menu);
    connect(m_locationBuilder, &KLFilePickerMenu::searchLocationChanged, this, &KLSearchArea::locationPicked);

    m_status = new QLabel(m_bar);
    m_status->setObjectName(QStringLiteral("searchStatus"));
    m_status->setAccessibleName(KLLocalized(QStringLiteral("KLSearchStatusName")));
    QFont small = m_status->font();
    small.setPointSizeF(9);
    m_status->setFont(small);
    QPalette pal = m_status->palette();
    pal.setColor(QPalette::WindowText, QColor(200, 200, 200));
    m_status->setPalette(pal);
    m_status->setVisible(false);

    row->addWidget(m_field, 1);
    row->addWidget(m_kind);
    row->addWidget(m_date);
    row->addWidget(m_location);
    row->addWidget(m_status);
}

void KLSearchArea::buildResults(QWidget *parent)
{
    m_resultsView = new KLRoundedRectView(parent);
    m_resultsView->setObjectName(QStringLiteral("spotlightResultsView"));
    m_resultsView->setAccessibleName(KLLocalized(QStringLiteral("KLSearchResultsPane")));
    m_resultsView->setBackgroundColour(QColor::fromRgbF(0.12f, 0.13f, 0.16f, 0.92f));
    auto *layout = new QVBoxLayout(m_resultsView);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(2);
    auto *header = new QHBoxLayout;
    header->setContentsMargins(14, 0, 14, 0);
    m_resultsTitle = new QLabel(KLLocalized(QStringLiteral("KLSearchResultsTitle")), m_resultsView);
    QFont tf = m_resultsTitle->font();
    tf.setPointSizeF(13);
    tf.setBold(true);
    m_resultsTitle->setFont(tf);
    m_resultsCount = new QLabel(m_resultsView);
    m_resultsCount->setObjectName(QStringLiteral("searchResultCount"));
    for (QLabel *l : {m_resultsTitle, m_resultsCount}) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, Qt::white);
        l->setPalette(pal);
    }
    header->addWidget(m_resultsTitle);
    header->addWidget(m_resultsCount);
    header->addStretch(1);
    layout->addLayout(header);
    m_grid = new KLSearchBrowserView(m_resultsView);
    m_grid->setObjectName(QStringLiteral("searchBrowser"));
    m_grid->setAccessibleName(KLLocalized(QStringLiteral("KLSearchResultsGrid")));
    m_grid->setFixedHeight(kResultRows * KLImageBrowserCell::kCellHeight + 6);
    m_grid->setEmptyText(KLLocalized(QStringLiteral("KLSearchNoResults")));
    layout->addWidget(m_grid);
    m_pane->setImageBrowser(m_grid);
    m_resultsView->setVisible(false);
}

void KLSearchArea::setViewsToHide(const QList<QWidget *> &views)
{
    m_viewsToHide.clear();
    for (QWidget *v : views)
        m_viewsToHide.append(v);
}

void KLSearchArea::showResults(bool show)
{
    for (const QPointer<QWidget> &v : std::as_const(m_viewsToHide)) {
        if (v)
            v->setVisible(!show);
    }
    m_resultsView->setVisible(show);
}

void KLSearchArea::setIndexStatus(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void KLSearchArea::locationPicked()
{
    const QUrl url = m_locationBuilder->lastPickedLocationConstraint();
    m_searcher->setLocation(url.isLocalFile() ? url.toLocalFile() : QString());
}

QByteArray KLSearchArea::shownStateJson() const
{
    QJsonArray results;
    for (const KLSearchItemPtr &item : m_searcher->currentResults()) {
        results.append(QJsonObject{{QStringLiteral("path"), item->path()},
                                   {QStringLiteral("title"), item->title()},
                                   {QStringLiteral("subtitle"), item->subtitle()}});
    }
    const QJsonObject state{{QStringLiteral("visible"), m_resultsView->isVisibleTo(m_resultsView->window())},
                            {QStringLiteral("field"), m_field->text()},
                            {QStringLiteral("kind"), m_kind->currentText()},
                            {QStringLiteral("time"), m_date->currentText()},
                            {QStringLiteral("location"), m_location->text()},
                            {QStringLiteral("status"), m_status->isVisibleTo(m_bar) ? m_status->text() : QString()},
                            {QStringLiteral("results"), results}};
    return QJsonDocument(state).toJson(QJsonDocument::Compact);
}

void KLSearchArea::focusOnSearch()
{
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
    // Then the insertion point goes to the end, so typing adds to the search.
    m_field->end(false);
}
