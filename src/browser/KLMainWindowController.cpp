#include "browser/KLMainWindowController.h"

#include "browser/KLCoolerImageBrowserDelegate.h"
#include "browser/KLCustomWindow.h"
#include "browser/KLImageBrowserModel.h"
#include "browser/KLImageBrowserView.h"
#include "browser/KLKelsoImageBrowserDelegate.h"
#include "browser/KLPreviewPanel.h"
#include "browser/KLRecentSource.h"
#include "browser/search/KLSearchArea.h"
#include "browser/search/KLSearchBrowserView.h"
#include "platform/Defaults.h"
#include "prefs/KLColours.h"
#include "search/gui/KLFilePickerMenu.h"
#include "util/Localized.h"
#include "util/Logging.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

namespace {
QColor colourSetting(const QString &key, const QColor &fallback)
{
    return KLColours::kpColorFromUserDefaultsForKey(key).value_or(fallback);
}

// Label colours go through the palette: a style sheet per label would give each its own
// style-sheet style to polish at start-up.
void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

QFont cellFont()
{
    QFont f = QApplication::font();
    f.setPointSizeF(11);
    return f;
}

const QStringList &observedColourKeys()
{
    static const QStringList keys = {QStringLiteral("KLKelsoShowOnActiveScreen"),
                                     QStringLiteral("KLKelsoBackgroundColour"), QStringLiteral("KLKelsoTextColour"),
                                     QStringLiteral("KLCoolerBackgroundColour"), QStringLiteral("KLCoolerTextColour")};
    return keys;
}

// Grid heights: the recent files show two rows, the Cooler one (both scroll).
constexpr int kHeaderHeight = 30;
constexpr int kRecentRows = 2;
constexpr int kCoolerRows = 1;
constexpr int kMargin = 10;
} // namespace

KLMainWindowController::KLMainWindowController(Options options, QObject *parent)
    : QObject(parent), m_services(options.services ? options.services : &KLServices::defaults())
{
    m_simpleToolTip = std::make_unique<KLSimpleToolTip>();
    std::unique_ptr<KLRecentSource> source =
        options.recentSource ? std::move(options.recentSource) : makeRecentFilesSource(m_services->items);
    m_itemServices = m_services->items;
    m_searchQueries = std::move(options.searchQueries);
    m_kelsoDelegate = new KLKelsoImageBrowserDelegate(std::move(source), this);
    m_coolerDelegate = new KLCoolerImageBrowserDelegate(options.coolerStorePath, this);
    m_coolerDelegate->setItemServices(m_itemServices);
    m_kelsoDelegate->setServices(m_services);
    m_coolerDelegate->setServices(m_services);
    m_kelsoDelegate->setCoolerDelegate(m_coolerDelegate);
    m_kelsoDelegate->setMainWindowController(this);
    m_coolerDelegate->setMainWindowController(this);
    buildWindow();
    setTrayMode(options.trayMode);
    applyColours();
    connect(&Defaults::standard(), &Defaults::changed, this, &KLMainWindowController::settingChanged);
    watchScreens();
    updateLabels();
}

KLMainWindowController::~KLMainWindowController()
{
    if (m_itemServices)
        m_itemServices->iconMayHaveChanged = {};
    for (const auto &c : m_screenConnections)
        disconnect(c);
    // The picker builders go before the menus they fill.
    delete m_menuBuilder;
    delete m_searchArea;
    delete m_window;
}

void KLMainWindowController::buildWindow()
{
    m_window = new KLCustomWindow;
    connect(m_window, &KLCustomWindow::closeRequested, this, &KLMainWindowController::hideApplication);
    auto *outer = new QVBoxLayout(m_window);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(kMargin);

    auto makeHeader = [](QWidget *parent, QLabel **title, QLabel **count, QLabel **explanation) {
        auto *row = new QHBoxLayout;
        row->setContentsMargins(14, 0, 14, 0);
        // A fixed header height: the Back control coming and going must not move the grid.
        row->addStrut(kHeaderHeight - 6);
        row->setSpacing(10);
        *title = new QLabel(parent);
        QFont tf = (*title)->font();
        tf.setPointSizeF(13);
        tf.setBold(true);
        (*title)->setFont(tf);
        *count = new QLabel(parent);
        *explanation = new QLabel(parent);
        QFont ef = (*explanation)->font();
        ef.setPointSizeF(10);
        (*explanation)->setFont(ef);
        row->addWidget(*title);
        row->addWidget(*count);
        row->addStretch(1);
        row->addWidget(*explanation);
        return row;
    };

    // The recent files, above.
    m_kelsoView = new KLRoundedRectView(m_window);
    m_kelsoView->setObjectName(QStringLiteral("kelsoView"));
    auto *kelsoLayout = new QVBoxLayout(m_kelsoView);
    kelsoLayout->setContentsMargins(6, 6, 6, 6);
    kelsoLayout->setSpacing(2);
    QHBoxLayout *kelsoHeader = makeHeader(m_kelsoView, &m_kelsoTitle, &m_kelsoCount, &m_kelsoExplanation);
    m_backButton = new QPushButton(KLLocalized(QStringLiteral("KLBackButton")), m_kelsoView);
    m_backButton->setObjectName(QStringLiteral("backButton"));
    m_backButton->setFocusPolicy(Qt::StrongFocus);
    m_backButton->setVisible(false);
    m_backButton->setFixedHeight(20);
    kelsoHeader->insertWidget(0, m_backButton);
    kelsoLayout->addLayout(kelsoHeader);
    m_kelsoBrowser = new KLImageBrowserView(m_kelsoView);
    m_kelsoBrowser->setObjectName(QStringLiteral("kelsoBrowser"));
    m_kelsoBrowser->setFixedHeight(kRecentRows * KLImageBrowserCell::kCellHeight + 6);
    kelsoLayout->addWidget(m_kelsoBrowser);
    m_kelsoBrowser->setEmptyText(KLLocalized(QStringLiteral("KLRecentFilesEmpty")));
    m_kelsoTitle->setText(KLLocalized(QStringLiteral("KLKelsoTitle")));
    m_kelsoView->setAccessibleName(KLLocalized(QStringLiteral("KLRecentFilesPane")));
    m_kelsoBrowser->setAccessibleName(KLLocalized(QStringLiteral("KLRecentFilesGrid")));

    // The Cooler, below.
    m_coolerView = new KLRoundedRectView(m_window);
    m_coolerView->setObjectName(QStringLiteral("coolerView"));
    auto *coolerLayout = new QVBoxLayout(m_coolerView);
    coolerLayout->setContentsMargins(6, 6, 6, 6);
    coolerLayout->setSpacing(2);
    QHBoxLayout *coolerHeader = makeHeader(m_coolerView, &m_coolerTitle, &m_coolerCount, &m_coolerExplanation);
    // The file picker: places and folders as cascading menus; a chosen file joins the Cooler.
    m_filePicker = new QToolButton(m_coolerView);
    m_filePicker->setObjectName(QStringLiteral("filePicker"));
    m_filePicker->setText(KLLocalized(QStringLiteral("KLFilePickerButton")));
    m_filePicker->setFocusPolicy(Qt::StrongFocus);
    m_filePicker->setPopupMode(QToolButton::InstantPopup);
    m_filePicker->setFixedHeight(20);
    auto *pickerMenu = new QMenu(m_filePicker);
    m_filePicker->setMenu(pickerMenu);
    coolerHeader->addWidget(m_filePicker);
    coolerLayout->addLayout(coolerHeader);
    m_coolerBrowser = new KLImageBrowserView(m_coolerView);
    m_coolerBrowser->setObjectName(QStringLiteral("coolerBrowser"));
    m_coolerBrowser->setFixedHeight(kCoolerRows * KLImageBrowserCell::kCellHeight + 6);
    coolerLayout->addWidget(m_coolerBrowser);
    m_coolerTitle->setText(KLLocalized(QStringLiteral("KLCoolerTitle")));
    m_coolerView->setAccessibleName(KLLocalized(QStringLiteral("KLCoolerPane")));
    m_coolerBrowser->setAccessibleName(KLLocalized(QStringLiteral("KLCoolerGrid")));
    m_coolerExplanation->setText(KLLocalized(QStringLiteral("KLCoolerBrowserExplanation")));

    // The first start's hint, above the panes.
    m_startHint = new QLabel(m_window);
    m_startHint->setObjectName(QStringLiteral("startHint"));
    m_startHint->setWordWrap(true);
    m_startHint->setAlignment(Qt::AlignCenter);
    m_startHint->setAutoFillBackground(true);
    m_startHint->setMargin(6);
    {
        QPalette pal = m_startHint->palette();
        pal.setColor(QPalette::Window, QColor(32, 36, 48));
        pal.setColor(QPalette::WindowText, Qt::white);
        m_startHint->setPalette(pal);
    }
    m_startHint->setVisible(false);
    outer->addWidget(m_startHint);

    // The search bar above the panes; its results take the recent files' place.
    KLSearchArea::Options searchOptions;
    searchOptions.queries = std::move(m_searchQueries);
    searchOptions.itemServices = m_itemServices;
    searchOptions.services = m_services;
    searchOptions.mainWindow = this;
    searchOptions.cooler = m_coolerDelegate;
    m_searchArea = new KLSearchArea(std::move(searchOptions), m_window);
    m_searchArea->setViewsToHide({m_kelsoView});
    m_findAction = new QAction(KLLocalized(QStringLiteral("KLFindMenuItem")), m_window);
    m_findAction->setObjectName(QStringLiteral("findAction"));
    m_findAction->setShortcut(QKeySequence::Find);
    m_findAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_findAction, &QAction::triggered, this, &KLMainWindowController::focusOnSearch);
    m_window->addAction(m_findAction);
    outer->addWidget(m_searchArea->bar());
    outer->addWidget(m_searchArea->resultsView());
    outer->addWidget(m_kelsoView);
    outer->addWidget(m_coolerView);

    m_kelsoDelegate->setImageBrowser(m_kelsoBrowser);
    m_coolerDelegate->setImageBrowser(m_coolerBrowser);

    m_menuBuilder = new KLFilePickerMenu(this);
    m_menuBuilder->setMenuSelector(KLFilePickerMenu::AddToCooler);
    m_menuBuilder->setCoolerAdder(
        [cooler = QPointer<KLCoolerImageBrowserDelegate>(m_coolerDelegate)](const QStringList &paths) {
            if (cooler)
                cooler->addPathsAskingBeforePushingOut(paths, 0);
        });
    m_menuBuilder->attach(pickerMenu);
    m_kelsoBrowser->setFocus();
    // Tab goes through the controls from the top: the search bar, its results, Back, the recent
    // files, Add File, the Cooler.
    QWidget::setTabOrder(m_searchArea->searchField(), m_searchArea->fileTypeMenu());
    QWidget::setTabOrder(m_searchArea->fileTypeMenu(), m_searchArea->dateMenu());
    QWidget::setTabOrder(m_searchArea->dateMenu(), m_searchArea->locationButton());
    QWidget::setTabOrder(m_searchArea->locationButton(), m_searchArea->searchBrowser());
    QWidget::setTabOrder(m_searchArea->searchBrowser(), m_backButton);
    QWidget::setTabOrder(m_backButton, m_kelsoBrowser);
    QWidget::setTabOrder(m_kelsoBrowser, m_filePicker);
    QWidget::setTabOrder(m_filePicker, m_coolerBrowser);
    connect(qApp, &QApplication::focusChanged, this, &KLMainWindowController::markFocusedPane);

    connect(m_backButton, &QPushButton::clicked, m_kelsoDelegate, &KLKelsoImageBrowserDelegate::backAction);
    connect(m_kelsoDelegate, &KLKelsoImageBrowserDelegate::hasCurrentPathChanged, m_backButton, &QWidget::setVisible);
    connect(m_kelsoDelegate, &KLKelsoImageBrowserDelegate::explanationChanged, m_kelsoExplanation, &QLabel::setText);
    connect(m_kelsoDelegate, &KLKelsoImageBrowserDelegate::itemOpenedInKelso, m_coolerDelegate,
            &KLCoolerImageBrowserDelegate::itemOpenedInKelso);
    m_kelsoExplanation->setText(m_kelsoDelegate->explanation());
    connect(m_kelsoDelegate, &KLImageBrowserViewDelegate::countChanged, this, &KLMainWindowController::updateLabels);
    connect(m_coolerDelegate, &KLImageBrowserViewDelegate::countChanged, this, &KLMainWindowController::updateLabels);
    if (m_itemServices) {
        m_itemServices->iconMayHaveChanged = [this] {
            m_kelsoDelegate->iconMayHaveChanged();
            m_coolerDelegate->iconMayHaveChanged();
        };
    }

    m_window->resize(1000, contentHeight());
}

int KLMainWindowController::contentHeight() const
{
    return m_window->layout()->sizeHint().height();
}

void KLMainWindowController::updateLabels()
{
    m_kelsoCount->setText(m_kelsoDelegate->currentNumberOfItemsString());
    m_kelsoCount->setVisible(m_kelsoDelegate->hasItems());
    m_coolerCount->setText(m_coolerDelegate->currentNumberOfItemsString());
    m_coolerCount->setVisible(m_coolerDelegate->hasItems());
}

// ---- colours --------------------------------------------------------------------------------

QColor KLMainWindowController::blendedColour(const QColor &text, const QColor &background, double fraction)
{
    auto mix = [fraction](double a, double b) { return a * (1.0 - fraction) + b * fraction; };
    QColor out;
    out.setRgbF(float(mix(text.redF(), background.redF())), float(mix(text.greenF(), background.greenF())),
                float(mix(text.blueF(), background.blueF())), float(mix(text.alphaF(), background.alphaF())));
    return out;
}

KLCellTextStyle KLMainWindowController::kelsoTitleTextAttributes() const
{
    return {cellFont(), colourSetting(QStringLiteral("KLKelsoTextColour"), Qt::white)};
}

KLCellTextStyle KLMainWindowController::kelsoSubtitleTextAttributes() const
{
    const QColor text = colourSetting(QStringLiteral("KLKelsoTextColour"), Qt::white);
    const QColor bg =
        colourSetting(QStringLiteral("KLKelsoBackgroundColour"), QColor::fromRgbF(0.16f, 0.18f, 0.16f, 0.9f));
    return {cellFont(), blendedColour(text, bg, 0.4)};
}

KLCellTextStyle KLMainWindowController::coolerTitleTextAttributes() const
{
    return {cellFont(), colourSetting(QStringLiteral("KLCoolerTextColour"), Qt::white)};
}

KLCellTextStyle KLMainWindowController::coolerSubtitleTextAttributes() const
{
    const QColor text = colourSetting(QStringLiteral("KLCoolerTextColour"), Qt::white);
    const QColor bg =
        colourSetting(QStringLiteral("KLCoolerBackgroundColour"), QColor::fromRgbF(0.38f, 0.38f, 0.38f, 0.9f));
    return {cellFont(), blendedColour(text, bg, 0.4)};
}

KLCellTextStyle KLMainWindowController::highlightedTitleTextAttributes()
{
    return {cellFont(), Qt::white};
}

void KLMainWindowController::applyKelsoStyles()
{
    m_kelsoBrowser->cell()->setTextStyles(kelsoTitleTextAttributes(), kelsoSubtitleTextAttributes(),
                                          highlightedTitleTextAttributes());
    const QColor text = kelsoTitleTextAttributes().colour;
    const QColor sub = kelsoSubtitleTextAttributes().colour;
    for (QLabel *l : {m_kelsoTitle, m_kelsoCount})
        setTextColour(l, text);
    setTextColour(m_kelsoExplanation, sub);
}

void KLMainWindowController::applyCoolerStyles()
{
    m_coolerBrowser->cell()->setTextStyles(coolerTitleTextAttributes(), coolerSubtitleTextAttributes(),
                                           highlightedTitleTextAttributes());
    const QColor text = coolerTitleTextAttributes().colour;
    const QColor sub = coolerSubtitleTextAttributes().colour;
    for (QLabel *l : {m_coolerTitle, m_coolerCount})
        setTextColour(l, text);
    setTextColour(m_coolerExplanation, sub);
}

void KLMainWindowController::applyColours()
{
    m_kelsoView->setBackgroundColour(
        colourSetting(QStringLiteral("KLKelsoBackgroundColour"), QColor::fromRgbF(0.16f, 0.18f, 0.16f, 0.9f)));
    m_coolerView->setBackgroundColour(
        colourSetting(QStringLiteral("KLCoolerBackgroundColour"), QColor::fromRgbF(0.38f, 0.38f, 0.38f, 0.9f)));
    applyKelsoStyles();
    applyCoolerStyles();
}

void KLMainWindowController::settingChanged(const QString &key)
{
    if (!observedColourKeys().contains(key))
        return;
    if (key == QLatin1String("KLKelsoShowOnActiveScreen")) {
        setWindowFrameForCurrentScreen(true);
    } else if (key == QLatin1String("KLKelsoBackgroundColour") || key == QLatin1String("KLCoolerBackgroundColour")) {
        // The background and the subtitles blended with it.
        applyColours();
    } else if (key == QLatin1String("KLKelsoTextColour")) {
        applyKelsoStyles();
        m_coolerView->update();
    } else if (key == QLatin1String("KLCoolerTextColour")) {
        applyCoolerStyles();
        m_coolerView->update();
    }
}

// ---- placement ------------------------------------------------------------------------------

QRectF KLMainWindowController::fullSizeWindowFrame(const std::optional<QRect> &visibleArea, double windowHeight)
{
    if (!visibleArea)
        return QRectF(100, 100, 300, 300);
    const QRectF area = QRectF(*visibleArea).adjusted(kInset, kInset, -kInset, -kInset);
    // Centred vertically; the same number in either y direction.
    return QRectF(area.x(), area.y() + (area.height() - windowHeight) / 2.0, area.width(), windowHeight);
}

QRectF KLMainWindowController::fullSizeWindowFrame() const
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (Defaults::standard().boolForKey(QStringLiteral("KLKelsoShowOnActiveScreen"))) {
        // The screen the user works on: the one under the pointer.
        if (QScreen *active = QGuiApplication::screenAt(QCursor::pos()))
            screen = active;
    }
    std::optional<QRect> area;
    if (screen)
        area = screen->availableGeometry();
    return fullSizeWindowFrame(area, contentHeight());
}

void KLMainWindowController::setWindowFrameForCurrentScreen(bool display)
{
    const QRectF frame = fullSizeWindowFrame();
    const QRect exact(int(std::lround(frame.x())), int(std::floor(frame.y())), int(std::lround(frame.width())),
                      int(std::lround(frame.height())));
    // One point taller first, so the window lays itself out again even when nothing moved.
    m_window->setGeometry(exact.adjusted(0, 0, 0, 1));
    m_window->setGeometry(exact);
    if (display)
        m_window->update();
}

void KLMainWindowController::watchScreens()
{
    auto follow = [this] { setWindowFrameForCurrentScreen(true); };
    auto watch = [this, follow](QScreen *screen) {
        m_screenConnections.append(connect(screen, &QScreen::availableGeometryChanged, this, follow));
        m_screenConnections.append(connect(screen, &QScreen::geometryChanged, this, follow));
    };
    for (QScreen *s : QGuiApplication::screens())
        watch(s);
    m_screenConnections.append(connect(qApp, &QGuiApplication::screenAdded, this, [watch, follow](QScreen *s) {
        watch(s);
        follow();
    }));
    m_screenConnections.append(connect(qApp, &QGuiApplication::screenRemoved, this, follow));
    m_screenConnections.append(connect(qApp, &QGuiApplication::primaryScreenChanged, this, follow));
}

// ---- redraw and focus -----------------------------------------------------------------------

void KLMainWindowController::askForNeedsDisplay()
{
    m_coolerBrowser->viewport()->update();
    m_kelsoBrowser->viewport()->update();
    m_searchArea->searchBrowser()->viewport()->update();
    m_coolerDelegate->model()->notifyAllChanged();
    m_kelsoDelegate->model()->notifyAllChanged();
}

KLSpotlightSearcher *KLMainWindowController::spotlightSearcher() const
{
    return m_searchArea->searcher();
}

void KLMainWindowController::activateSearchField()
{
    QTimer::singleShot(100, this, &KLMainWindowController::focusOnSearch);
}

void KLMainWindowController::focusOnSearch()
{
    m_searchArea->focusOnSearch();
}

KLImageBrowserView *KLMainWindowController::activeBrowser() const
{
    QWidget *focus = m_window->focusWidget();
    if (focus == m_kelsoBrowser)
        return m_kelsoBrowser;
    if (focus == m_coolerBrowser)
        return m_coolerBrowser;
    return nullptr;
}

KLPaneMenuActions *KLMainWindowController::activePane() const
{
    if (KLImageBrowserViewDelegate *pane = activeDelegate())
        return pane;
    if (m_coolerDelegate->hasSelection())
        return m_coolerDelegate;
    if (m_kelsoDelegate->hasSelection())
        return m_kelsoDelegate;
    return nullptr;
}

KLImageBrowserViewDelegate *KLMainWindowController::activeDelegate() const
{
    KLImageBrowserView *b = activeBrowser();
    if (b == m_kelsoBrowser)
        return m_kelsoDelegate;
    if (b == m_coolerBrowser)
        return m_coolerDelegate;
    return nullptr;
}

bool KLMainWindowController::tagEditorMoveToAnotherDocument(bool forward)
{
    KLImageBrowserViewDelegate *pane = activeDelegate();
    if (!pane && m_coolerDelegate->hasSelection())
        pane = m_coolerDelegate;
    if (!pane && m_kelsoDelegate->hasSelection())
        pane = m_kelsoDelegate;
    if (!pane || !pane->selectNextDocumentWithOffset(forward ? 1 : -1))
        return false;
    const QStringList paths = pane->selectedItemPaths();
    if (paths.isEmpty())
        return false;
    services().openTagEditor(paths);
    return true;
}

void KLMainWindowController::markFocusedPane()
{
    QWidget *focus = QApplication::focusWidget();
    const bool inWindow = focus && focus->window() == m_window;
    m_kelsoView->setFocusMarked(inWindow && m_kelsoView->isAncestorOf(focus));
    m_coolerView->setFocusMarked(inWindow && m_coolerView->isAncestorOf(focus));
}

bool KLMainWindowController::undoLastRemoval()
{
    KLImageBrowserViewDelegate *latest = nullptr;
    for (KLImageBrowserViewDelegate *pane : {static_cast<KLImageBrowserViewDelegate *>(m_kelsoDelegate),
                                             static_cast<KLImageBrowserViewDelegate *>(m_coolerDelegate)}) {
        if (pane->canUndoRemoval() && (!latest || pane->lastRemovalSequence() > latest->lastRemovalSequence()))
            latest = pane;
    }
    return latest && latest->undoLastRemoval();
}

bool KLMainWindowController::leaveStackOnEscape()
{
    if (!m_kelsoDelegate->hasCurrentPath())
        return false;
    const QString stack = m_kelsoDelegate->currentPath();
    m_kelsoDelegate->backAction();
    m_kelsoDelegate->reloadBrowserNow();
    const int at = m_kelsoDelegate->indexForPath(stack);
    m_kelsoDelegate->selectIndexes({at >= 0 ? at : 0}, true);
    return true;
}

void KLMainWindowController::switchPanelFrom(KLImageBrowserView *grid, bool down, int column)
{
    KLImageBrowserViewDelegate *source = nullptr;
    KLImageBrowserViewDelegate *target = nullptr;
    KLImageBrowserView *targetGrid = nullptr;
    if (grid == m_kelsoBrowser && down) {
        source = m_kelsoDelegate;
        target = m_coolerDelegate;
        targetGrid = m_coolerBrowser;
    } else if (grid == m_coolerBrowser && !down) {
        source = m_coolerDelegate;
        target = m_kelsoDelegate;
        targetGrid = m_kelsoBrowser;
    } else {
        return;
    }
    const QList<int> selection = source->selectionIndexes();
    if (selection.isEmpty() || target->numberOfItems() == 0)
        return;
    int i = column >= 0 ? column : selection.first();
    source->clearSelection();
    if (i > targetGrid->numberOfColumns())
        i = 0;
    i = std::min(i, target->model()->rowCount() - 1);
    target->selectIndexes({i}, true);
    targetGrid->setFocus(Qt::OtherFocusReason);
}

// ---- showing and hiding ---------------------------------------------------------------------

void KLMainWindowController::setTrayMode(bool tray)
{
    m_window->setTrayMode(tray);
    if (!tray)
        menuBar()->setVisible(true);
    else if (m_menuBar)
        m_menuBar->setVisible(false);
}

QMenuBar *KLMainWindowController::menuBar()
{
    // Made on first use: tray mode never shows it, and a menu bar costs a good part of the
    // start-up (its extension button loads the image-format plugins for its icon).
    if (!m_menuBar) {
        m_menuBar = new QMenuBar(m_window);
        m_menuBar->setObjectName(QStringLiteral("menuBar"));
        m_menuBar->setNativeMenuBar(false);
        m_menuBar->setVisible(false);
        m_window->layout()->setMenuBar(m_menuBar);
        Q_EMIT menuBarCreated(m_menuBar);
    }
    return m_menuBar;
}

void KLMainWindowController::showWindow(bool makeKey)
{
    m_window->orderFront(makeKey);
}

void KLMainWindowController::orderOut()
{
    m_window->orderOut();
}

void KLMainWindowController::hideApplication()
{
    m_simpleToolTip->setToolTipText({});
    m_kelsoBrowser->turnOffAllDeleteBadges();
    m_coolerBrowser->turnOffAllDeleteBadges();
    KLPreviewPanel::shared().close();
    m_startHint->setVisible(false);
    m_window->hideNow();
    Q_EMIT applicationHideRequested();
}

bool KLMainWindowController::trayMode() const
{
    return m_window->trayMode();
}

void KLMainWindowController::showStartHint(const QString &text)
{
    m_startHint->setText(text);
    m_startHint->setVisible(!text.isEmpty());
    m_window->resize(m_window->width(), contentHeight());
    setWindowFrameForCurrentScreen(true);
    // Said once, then out of the way: a dock-mode window may stay up all day.
    if (!text.isEmpty())
        QTimer::singleShot(kStartHintMs, m_startHint, [this, text] {
            if (m_startHint->isVisible() && m_startHint->text() == text)
                showStartHint({});
        });
}

void KLMainWindowController::autoAddToCooler(const QList<QUrl> &urls)
{
    if (!Defaults::standard().boolForKey(QStringLiteral("KPAutoAddDragsAndSuchToCooler")))
        return;
    QStringList paths;
    for (const QUrl &url : urls) {
        const QString p = url.isLocalFile() ? url.toLocalFile() : QString();
        if (!p.isEmpty() && !m_coolerDelegate->hasItemAtPath(p) && !paths.contains(p))
            paths.append(p);
    }
    // An automatic add never pushes out what the user kept: what does not fit stays out.
    if (paths.isEmpty())
        return;
    const QStringList refused = m_coolerDelegate->addPathsThatFit(paths, 0);
    if (!refused.isEmpty())
        qCInfo(lcCooler, "the Cooler is full; %lld dragged files were not added to it", qint64(refused.size()));
}

bool KLMainWindowController::dragWasToDropZone() const
{
    return m_services->dragEndedOnDropZone();
}

// ---- life cycle -----------------------------------------------------------------------------

void KLMainWindowController::applicationDidFinishLaunching()
{
    m_kelsoDelegate->applicationDidFinishLaunching();
    m_coolerDelegate->applicationDidFinishLaunching();
}

void KLMainWindowController::applicationWillBecomeActive()
{
    setWindowFrameForCurrentScreen(false);
    m_kelsoDelegate->applicationWillBecomeActive();
    m_coolerDelegate->applicationWillBecomeActive();
}

void KLMainWindowController::applicationDidBecomeActive()
{
    m_window->orderFront(false);
    m_window->update();
    m_kelsoDelegate->applicationDidBecomeActive();
    m_coolerDelegate->applicationDidBecomeActive();
    m_searchArea->searcher()->becomeActive();
    // When another Kelso window brought the application forward (the tag editor opened by a
    // drop on the drop zone, the preferences from the tray), that window keeps the keyboard: the
    // main window comes forward without taking it, or the editor would lose its key status and
    // close at once. The window system names the active window only after the application's
    // state changed, so the question is asked once the event loop has run.
    QTimer::singleShot(0, m_window, [this] {
        QWidget *active = QApplication::activeWindow();
        if (!active || active == m_window)
            m_window->orderFront(true);
    });
}

void KLMainWindowController::applicationDidResignActive()
{
    m_kelsoDelegate->applicationDidResignActive();
    m_coolerDelegate->applicationDidResignActive();
    m_searchArea->searcher()->resignActive();
    // Only the tray's pop-up band fades away; a dock-mode window stays where it is, reachable
    // from the taskbar and Alt+Tab.
    if (m_window->trayMode())
        m_window->orderOut();
    m_simpleToolTip->setToolTipText({});
}

void KLMainWindowController::applicationWillTerminate()
{
    m_kelsoDelegate->applicationWillTerminate();
    m_coolerDelegate->applicationWillTerminate();
}
