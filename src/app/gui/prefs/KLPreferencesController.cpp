#include "app/gui/prefs/KLPreferencesController.h"

#include "app/gui/prefs/KLExclusionPane.h"
#include "app/gui/prefs/KLPreferencesPanes.h"
#include "platform/Defaults.h"
#include "util/Localized.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

namespace {

QPointer<KLPreferencesController> g_instance;

const QString kPositionKey = QStringLiteral("KLPreferencesWindowPos");
const QString kOverlapKey = QStringLiteral("KPDropZoneOverlapWithScreen");

struct ToolbarItem {
    const char *identifier;
    const char *labelKey;
    const char *themeIcon;
    QStyle::StandardPixmap fallback;
};

const ToolbarItem kToolbarItems[] = {
    {"KLToolbarPrefGeneral", "KLToolbarPrefGeneralLabel", "preferences-system", QStyle::SP_FileDialogDetailedView},
    {"KLToolbarPrefUnwantedDirectories", "KLToolbarPrefUnwantedDirectoriesLabel", "folder", QStyle::SP_DirIcon},
    {"KLToolbarPrefUnwantedExtensions", "KLToolbarPrefUnwantedExtensionsLabel", "text-x-generic", QStyle::SP_FileIcon},
    {"KLToolbarPrefUnwantedItems", "KLToolbarPrefUnwantedItemsLabel", "document-properties",
     QStyle::SP_FileDialogContentsView},
    {"KLToolbarPrefAdvanced", "KLToolbarPrefAdvancedLabel", "preferences-other", QStyle::SP_ComputerIcon},
};

} // namespace

KLPreferencesController *KLPreferencesController::singleInstance()
{
    if (!g_instance) {
        g_instance = new KLPreferencesController(Defaults::standard());
        g_instance->setAttribute(Qt::WA_DeleteOnClose, false);
    }
    return g_instance;
}

bool KLPreferencesController::hasInstance()
{
    return !g_instance.isNull();
}

void KLPreferencesController::showPreferences(KLPreferencesPage page)
{
    KLPreferencesController *prefs = singleInstance();
    if (page == KLPreferencesPage::HiddenFolders)
        prefs->showPane(UnwantedDirectories);
    prefs->show();
    prefs->raise();
    prefs->activateWindow();
    // The window manager may not have mapped the window yet: ask again once it has.
    QTimer::singleShot(200, prefs, [prefs] {
        prefs->raise();
        prefs->activateWindow();
    });
}

KLPreferencesController::KLPreferencesController(Defaults &defaults, QWidget *parent)
    : QMainWindow(parent), m_defaults(defaults)
{
    setObjectName(QStringLiteral("KLPreferences"));
    setWindowTitle(KLLocalized(QStringLiteral("KLPreferencesTitle")));
    setAccessibleName(KLLocalized(QStringLiteral("KLPreferencesTitle")));

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(KLPreferencesPanes::makeGeneralPane(defaults, m_stack));
    for (int i = 0; i < 4; ++i)
        m_panes[i] = new KLExclusionPane(KLExclusionList(i), defaults, m_stack);
    m_stack->addWidget(m_panes[0]);
    m_stack->addWidget(m_panes[1]);
    // Single files above, path fragments below: both keep single paths out.
    auto *itemsPane = new QSplitter(Qt::Vertical, m_stack);
    itemsPane->setObjectName(QStringLiteral("KLPrefUnwantedItemsAndFragments"));
    itemsPane->setChildrenCollapsible(false);
    itemsPane->addWidget(m_panes[2]);
    itemsPane->addWidget(m_panes[3]);
    m_stack->addWidget(itemsPane);
    m_stack->addWidget(KLPreferencesPanes::makeAdvancedPane(defaults, m_stack));
    setCentralWidget(m_stack);

    // The toolbar: not movable, icons with labels, one item per pane. Ctrl+1…Ctrl+5 reach
    // them from the keyboard (a toolbar is outside the Tab chain).
    auto *toolbar = new QToolBar(KLLocalized(QStringLiteral("KLPreferencesToolbar")), this);
    toolbar->setObjectName(QStringLiteral("DPPreferencesToolbar"));
    toolbar->setAccessibleName(KLLocalized(QStringLiteral("KLPreferencesToolbar")));
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar->toggleViewAction()->setEnabled(false);
    addToolBar(Qt::TopToolBarArea, toolbar);
    m_toolbarItems = new QActionGroup(this);
    m_toolbarItems->setExclusive(true);
    for (int i = 0; i < 5; ++i) {
        const ToolbarItem &item = kToolbarItems[i];
        const QString label = KLLocalized(QString::fromUtf8(item.labelKey));
        QAction *action = toolbar->addAction(
            QIcon::fromTheme(QString::fromUtf8(item.themeIcon), style()->standardIcon(item.fallback)), label);
        action->setObjectName(QString::fromUtf8(item.identifier));
        action->setCheckable(true);
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)));
        action->setToolTip(QStringLiteral("%1 (%2)").arg(label, action->shortcut().toString(QKeySequence::NativeText)));
        m_toolbarItems->addAction(action);
        connect(action, &QAction::triggered, this, [this, i] { showPane(Pane(i)); });
    }
    // Closing from the keyboard, as a dialog does.
    auto *close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    showPane(General);
    resize(560, 520);
    // Where the user left it; the first time, in the middle of the screen.
    const QByteArray position = m_defaults.dataForKey(kPositionKey);
    if (position.isEmpty() || !restoreGeometry(position)) {
        if (const QScreen *where = screen())
            move(where->availableGeometry().center() - rect().center());
    }
}

KLPreferencesController::~KLPreferencesController() = default;

void KLPreferencesController::showPane(Pane pane)
{
    // Ends an edit in progress (its text is kept) before the pane goes.
    endEditing();
    m_toolbarItems->actions().at(pane)->setChecked(true);
    m_stack->setCurrentIndex(pane);
    setWindowTitle(KLLocalized(QStringLiteral("KLPreferencesTitle")) + QStringLiteral(" — ") +
                   m_toolbarItems->actions().at(pane)->text());
    // The first control of the pane gets the focus, so Tab starts there.
    if (isVisible())
        focusFirstControl(m_stack->currentWidget());
}

void KLPreferencesController::focusFirstControl(QWidget *pageWidget)
{
    // The focus chain is in order of creation, and a pane may have been made before the page
    // that holds it (the files pane and the fragments pane inside their splitter): walk the
    // whole chain of the window once.
    QWidget *start = pageWidget->window();
    QWidget *w = start;
    do {
        w = w->nextInFocusChain();
        if (pageWidget->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(pageWidget) &&
            w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    } while (w && w != start);
}

KLPreferencesController::Pane KLPreferencesController::currentPane() const
{
    return Pane(m_stack->currentIndex());
}

QWidget *KLPreferencesController::paneWidget(Pane pane) const
{
    return m_stack->widget(pane);
}

KLExclusionPane *KLPreferencesController::exclusionPane(KLExclusionList list) const
{
    return m_panes[int(list)];
}

void KLPreferencesController::endEditing()
{
    // Moving the focus away commits what an open cell editor holds.
    if (QWidget *focus = QApplication::focusWidget(); focus && focus->window() == this)
        focus->clearFocus();
}

void KLPreferencesController::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange)
        return;
    const bool active = isActiveWindow();
    if (active == m_wasActive)
        return;
    m_wasActive = active;
    if (!active)
        endEditing();
    Q_EMIT keyStatusChanged(active);
}

void KLPreferencesController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    m_defaults.setBool(kOverlapKey, true);
}

void KLPreferencesController::closeEvent(QCloseEvent *event)
{
    endEditing();
    savePosition();
    m_defaults.setBool(kOverlapKey, false);
    if (m_wasActive) {
        m_wasActive = false;
        Q_EMIT keyStatusChanged(false);
    }
    QMainWindow::closeEvent(event);
}

void KLPreferencesController::savePosition()
{
    m_defaults.setValue(kPositionKey, saveGeometry());
}
